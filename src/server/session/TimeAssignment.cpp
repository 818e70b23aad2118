#include "server/session/TimeAssignment.h"

#include "common/Cp1252.h"
#include "common/DateTime.h"
#include "protocol/Codes.h"
#include "protocol/DateTimeText.h"
#include "protocol/Fields.h"
#include "protocol/Line.h"
#include "server/computers/RecordOps.h"
#include "server/computers/Senders.h"
#include "server/net/StationConnection.h"

#include <cmath>

namespace tarvina::server {

namespace p = tarvina::protocol;
using common::DateTime;
using common::FromCp1252;
using common::ToCp1252;

namespace {

FailureText Fixed(const QString& text) {
    return [text](const QString&, const QString&) { return text; };
}
FailureText WithError(const QString& prefix) {
    return [prefix](const QString&, const QString& error) { return prefix + error; };
}

// The connection if it is there and up.
std::shared_ptr<StationConnection> LiveConnection(ServerContext& ctx, TCompItem* record) {
    ComputersGuard guard(ctx.registry.lock());
    if (record == nullptr || !record->connection || !record->connection->isUp())
        return nullptr;
    return record->connection;
}

// A station found without its connection, or that lost it on a send, is
// shown disconnected at once.
void ShowDisconnected(ServerContext& ctx, TCompItem* record) {
    SetState(ctx, record, 0);
    ctx.updateRow(record);
}

// The record's connection is up; a record without one is shown
// disconnected.
bool Reachable(ServerContext& ctx, TCompItem* record) {
    if (record == nullptr)
        return false;
    if (LiveConnection(ctx, record))
        return true;
    ShowDisconnected(ctx, record);
    return false;
}

bool HasConnection(ServerContext& ctx, TCompItem* record) {
    ComputersGuard guard(ctx.registry.lock());
    return record != nullptr && record->connection != nullptr;
}

// Sends lines in order, stopping at the first failure (the connection is
// then down and the rest would fail too). Reports that one failure.
bool SendAll(ServerContext& ctx, TCompItem* record, std::initializer_list<QByteArray> lines,
             const FailureText& failure) {
    for (const QByteArray& line : lines) {
        if (line.isNull())
            continue;
        const SendResult r = SendToComputer(ctx, record, line, QString(), failure);
        if (r == SendResult::Failed)
            return false;
        if (r == SendResult::NotConnected)
            return false;
    }
    return true;
}

QByteArray ModeDigitLine(const ServerContext& ctx) {
    return p::FormatToClient(
        p::tc::ServiceMode,
        p::FormatHex(static_cast<quint32>(ctx.registry.clientParams().serviceMode & 0xF), 1));
}

} // namespace

QByteArray TimeRequestModeLine(const ServerContext& ctx) {
    const ClientParams& cp = ctx.registry.clientParams();
    return p::FormatToClient(p::tc::TimeRequestMode,
                             QByteArray::number(cp.clienteModo) + "," + ToCp1252(cp.clienteVal));
}

std::optional<QString> GrantAccess(ServerContext& ctx, TCompItem* record, const QString& minutes,
                                   const QString& user, const QString& password) {
    ctx.lastCommand.set(QStringLiteral("GrantAccess"));
    const QString unlimited = QString::fromUtf16(kUnlimitedText);
    const bool isUnlimited = minutes.trimmed() == unlimited;
    const int asNumber = p::ParseInt(ToCp1252(minutes)).value_or(0);
    if (asNumber <= 0 && !isUnlimited)
        return QStringLiteral("La asignación de tiempo es incorrecta. Intentelo de nuevo");
    if (!HasConnection(ctx, record))
        return std::nullopt;
    const QString sentMinutes = isUnlimited ? QString::number(p::kUnlimitedMinutes) : minutes;
    const QString sentUser = user.isEmpty() ? QString::fromUtf16(kGenericUser) : user;
    SyncTime(ctx, record);
    if (!LiveConnection(ctx, record))
        return std::nullopt;
    QByteArray modeLine;
    QString clientInit;
    {
        ComputersGuard guard(ctx.registry.lock());
        record->end = 0;
        record->lockRequested = false;
        record->relock = false;
        modeLine = TimeRequestModeLine(ctx);
        clientInit = ctx.registry.clientParams().clientInit;
    }
    const QByteArray grant =
        p::FormatToClient(p::tc::GrantAccess, ToCp1252(sentMinutes) + "," + ToCp1252(sentUser) +
                                                  "," + p::ToHexText(ToCp1252(password)));
    const QByteArray open = clientInit.isEmpty()
                                ? QByteArray()
                                : p::FormatToClient(p::tc::OpenRemote, ToCp1252(clientInit));
    SendAll(ctx, record, {grant, modeLine, open},
            WithError(QStringLiteral("Falla al establecer acceso ")));
    return std::nullopt;
}

void MoveUser(ServerContext& ctx, TCompItem* source, TCompItem* target) {
    ctx.lastCommand.set(QStringLiteral("ReGrantAccess"));
    if (source == nullptr || target == nullptr)
        return;
    if (!LiveConnection(ctx, target)) {
        ctx.console(target, QStringLiteral("Falla al establecer acceso. No hay conexión."));
        return;
    }
    const DateTime now = ctx.clock.now();
    qint64 minutesLeft = 0;
    bool sourceConnected = false;
    QString pin, user;
    QByteArray modeLine;
    {
        ComputersGuard guard(ctx.registry.lock());
        minutesLeft = now.msecsTo(DateTime::FromDays(source->end)) / 60000;
        target->pin = source->pin;
        target->user = source->user;
        target->end = source->end;
        target->start = source->start;
        target->lockRequested = false;
        target->relock = false;
        source->lockRequested = true;
        source->user.clear();
        source->end = 0;
        source->start = 0;
        source->pin.clear();
        sourceConnected = source->connection != nullptr;
        if (sourceConnected)
            source->relock = true;
        pin = target->pin;
        user = target->user;
        modeLine = TimeRequestModeLine(ctx);
    }
    if (sourceConnected)
        SendToComputer(ctx, source, p::FormatToClient(p::tc::Lock), QString(),
                       Fixed(QStringLiteral("Falla al establecer bloqueo")));
    SendAll(ctx, target,
            {p::FormatToClient(p::tc::AssignPin, ToCp1252(pin)),
             p::FormatToClient(p::tc::GrantAccess,
                               QByteArray::number(minutesLeft) + "," + ToCp1252(user) + ","),
             modeLine},
            Fixed(QStringLiteral("Falla al establecer acceso")));
    ctx.updateRow(source);
    ctx.updateRow(target);
}

void AddMinutes(ServerContext& ctx, TCompItem* record, const QString& minutes, bool silent) {
    ctx.lastCommand.set(QStringLiteral("GrantMOreTime"));
    if (record == nullptr)
        return;
    if (LiveConnection(ctx, record)) {
        {
            ComputersGuard guard(ctx.registry.lock());
            record->lockRequested = false;
            record->relock = false;
        }
        SendToComputer(
            ctx, record,
            p::FormatToClient(silent ? p::tc::AddTimeSilent : p::tc::AddTime, ToCp1252(minutes)),
            QString(), WithError(QStringLiteral("Falla al otorgar mas tiempo ")));
    }
    const int n = p::ParseInt(ToCp1252(minutes)).value_or(0);
    ComputersGuard guard(ctx.registry.lock());
    record->pendingEnd = record->end + n / 1440.0;
}

void Lock(ServerContext& ctx, TCompItem* record) {
    ctx.lastCommand.set(QStringLiteral("Lock"));
    if (!LiveConnection(ctx, record))
        return;
    {
        ComputersGuard guard(ctx.registry.lock());
        record->lockRequested = true;
        record->relock = true;
    }
    SendToComputer(ctx, record, p::FormatToClient(p::tc::Lock), QString(),
                   Fixed(QStringLiteral("Falla al establecer bloqueo")));
}

void SyncTime(ServerContext& ctx, TCompItem* record) {
    ctx.lastCommand.set(QStringLiteral("SyncTime"));
    const QByteArray now = p::FormatDateTimeNumber(ctx.clock.now().days());
    SendToComputer(ctx, record, p::FormatToClient(p::tc::SyncTime, now), QString(),
                   WithError(QStringLiteral("Falla al intentar refrescar ")));
}

void Refresh(ServerContext& ctx, TCompItem* record) {
    ctx.lastCommand.set(QStringLiteral("Refreshlink"));
    if (!Reachable(ctx, record))
        return;
    QByteArray modeLine;
    {
        ComputersGuard guard(ctx.registry.lock());
        modeLine = ModeDigitLine(ctx);
    }
    const bool ok = SendAll(
        ctx, record,
        {p::FormatToClient(p::tc::StatusQuery), modeLine, p::FormatToClient(p::tc::PinQuery)},
        WithError(QStringLiteral("Falla al intentar refrescar ")));
    if (!ok)
        ShowDisconnected(ctx, record);
}

void SoftReinit(ServerContext& ctx, TCompItem* record) {
    ctx.lastCommand.set(QStringLiteral("Reinitlink"));
    if (!Reachable(ctx, record))
        return;
    const SendResult r =
        SendToComputer(ctx, record, p::FormatToClient(p::tc::SoftReinit), QString(),
                       Fixed(QStringLiteral("Falla al intentar reiniciar")));
    if (r != SendResult::Sent)
        ShowDisconnected(ctx, record);
}

void WithdrawAccess(ServerContext& ctx, TCompItem* record) {
    ctx.lastCommand.set(QStringLiteral("No access"));
    SendToComputer(ctx, record, p::FormatToClient(p::tc::WithdrawAccess), QString(),
                   [](const QString& name, const QString&) {
                       return QStringLiteral("Falla al retirar acceso a ") + name;
                   });
}

void HandleStatusReport(ServerContext& ctx, TCompItem* record, const QByteArray& line) {
    ComputersGuard guard(ctx.registry.lock());
    const char digit = line.size() > 3 ? line.at(3) : '0';
    // The fields proper start at the sixth character.
    const QByteArray fields = p::LimitPayload(line.mid(5));
    record->user = FromCp1252(p::CommaField(fields, 1));
    const DateTime now = ctx.clock.now();
    const auto timeLeft = p::ParseDateTimeNumber(p::CommaField(fields, 2));
    const auto start = timeLeft ? p::ParseDateTimeNumber(p::CommaField(fields, 3)) : std::nullopt;
    if (!timeLeft || !start || !std::isfinite(*timeLeft) || !std::isfinite(*start)) {
        record->end = 0;
    } else {
        record->start = *start;
        if (!(record->end > 0)) {
            // Bounded so that a hostile number cannot overflow the clock.
            const double ms = std::clamp(*timeLeft * DateTime::kMsPerDay, -1e15, 1e15);
            record->end = now.addMSecs(static_cast<qint64>(ms)).days();
        }
        const QByteArray name = p::CommaField(fields, 5);
        if (!name.isEmpty())
            SetName(ctx, record, FromCp1252(name));
        const QString version = FromCp1252(p::CommaField(fields, 6));
        if (version != record->versionText) {
            record->versionText = version;
            record->versionNumber = static_cast<qint32>(p::VersionNumber(p::CommaField(fields, 6)));
        }
    }
    // After the fields: the change carries the session the report is about.
    SetState(ctx, record, (digit >= '0' && digit <= '9') ? digit - '0' : 0);
    ctx.updateRow(record);
    if (record->lockRequested && now < DateTime::FromDays(record->end)) {
        SendToComputer(ctx, record, p::FormatToClient(p::tc::Lock), QString(),
                       Fixed(QStringLiteral("Falla al establecer bloqueo")));
    } else {
        SendToComputer(ctx, record, TimeRequestModeLine(ctx), QString(),
                       WithError(QStringLiteral("Falla al establecer acceso ")));
    }
}

void HandleSessionStarted(ServerContext& ctx, TCompItem* record, const QByteArray& payload) {
    ComputersGuard guard(ctx.registry.lock());
    record->user = FromCp1252(p::LimitPayload(payload));
    ctx.updateRow(record);
}

void HandleTimeRequest(ServerContext& ctx, TCompItem* record, const QByteArray& payload) {
    ComputersGuard guard(ctx.registry.lock());
    ctx.updateRow(record);
    const QString text = QStringLiteral("Solicita más tiempo (") +
                         FromCp1252(p::LimitPayload(payload)) + QStringLiteral(" minutos)");
    ctx.console(record, text);
    AppendMessage(*record,
                  common::FormatDateTime(QStringLiteral("dd/mm/yy hh:nn"), ctx.clock.now()) +
                      QLatin1Char(' ') + text);
    record->attention = true;
}

void HandleTimeAdded(ServerContext& ctx, TCompItem* record) {
    ComputersGuard guard(ctx.registry.lock());
    ctx.updateRow(record);
    ctx.console(record, QStringLiteral("Asignación de tiempo adicional en ejecución"));
    record->end = record->pendingEnd;
}

} // namespace tarvina::server
