#pragma once

#include "server/computers/ServerContext.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace tarvina::server {

class StationConnection;

// The operator's operations on one computer's time and state. They run on
// the UI thread; record fields change under ComputersLock so that a report
// handler never sees an operation half applied; the network writes happen
// outside the lock.

inline constexpr char16_t kUnlimitedText[] = u"<sin límite>";
inline constexpr char16_t kGenericUser[] = u"<Gen>";

// Returns the text of the refusal box ("La asignación de tiempo es
// incorrecta. Intentelo de nuevo") when the minutes are neither a positive
// integer nor "<sin límite>"; nothing is sent then.
std::optional<QString> GrantAccess(ServerContext& ctx, TCompItem* record, const QString& minutes,
                                   const QString& user, const QString& password);
void MoveUser(ServerContext& ctx, TCompItem* source, TCompItem* target);
void AddMinutes(ServerContext& ctx, TCompItem* record, const QString& minutes, bool silent);
void Lock(ServerContext& ctx, TCompItem* record);
void SyncTime(ServerContext& ctx, TCompItem* record);
void Refresh(ServerContext& ctx, TCompItem* record);
void SoftReinit(ServerContext& ctx, TCompItem* record);
void WithdrawAccess(ServerContext& ctx, TCompItem* record);

// The TimeRequestMode line the server answers with: "0A" + ClienteModo +
// "," + ClienteVal. Requires ComputersLock.
QByteArray TimeRequestModeLine(const ServerContext& ctx);
// The ServiceMode line of a refresh: "40" + the mode's digit. Requires
// ComputersLock.
QByteArray ServiceModeLine(const ServerContext& ctx);

} // namespace tarvina::server
