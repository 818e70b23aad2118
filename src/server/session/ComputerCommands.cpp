#include "server/session/ComputerCommands.h"

#include "server/computers/Senders.h"
#include "server/net/StationConnection.h"
#include "server/remote/ClientLog.h"
#include "server/session/TimeAssignment.h"

#include <QDir>

namespace tarvina::server {

void ComputerCommands::grant(const QList<TCompItem*>& rows,
                             const std::function<std::optional<GrantAnswer>(TCompItem*)>& ask,
                             const std::function<void(const QString&)>& refused) {
    for (TCompItem* r : rows) {
        if (r == nullptr)
            continue;
        const std::optional<GrantAnswer> answer = ask(r);
        if (!answer)
            continue;
        if (const auto refusal = GrantAccess(ctx_, r, answer->minutes, answer->user, QString()))
            if (refused)
                refused(*refusal);
    }
}

void ComputerCommands::moreTime(
    const QList<TCompItem*>& rows,
    const std::function<std::optional<MoreTimeAnswer>(TCompItem*)>& ask) {
    for (TCompItem* r : rows) {
        if (r == nullptr)
            continue;
        const std::optional<MoreTimeAnswer> answer = ask(r);
        if (!answer)
            continue;
        {
            ComputersGuard guard(ctx_.registry.lock());
            r->lockRequested = false;
        }
        AddMinutes(ctx_, r, answer->minutes, !answer->notify);
    }
}

void ComputerCommands::lock(const QList<TCompItem*>& rows) {
    for (TCompItem* r : rows) {
        if (r == nullptr)
            continue;
        Lock(ctx_, r);
        SyncTime(ctx_, r);
    }
}

void ComputerCommands::refresh(const QList<TCompItem*>& rows) {
    for (TCompItem* r : rows) {
        if (r == nullptr)
            continue;
        Refresh(ctx_, r);
        SyncTime(ctx_, r);
        SoftReinit(ctx_, r);
    }
}

void ComputerCommands::withdraw(const QList<TCompItem*>& rows) {
    if (!rows.isEmpty() && rows.first() != nullptr)
        WithdrawAccess(ctx_, rows.first());
}

QList<MoveTarget> ComputerCommands::moveTargets() const {
    QList<MoveTarget> out;
    ComputersGuard guard(ctx_.registry.lock());
    for (int i = 0; i < ctx_.registry.rowCount(); ++i) {
        TCompItem* r = ctx_.registry.recordAt(i);
        if (r != nullptr && r->state == 1)
            out.append({r, r->name});
    }
    return out;
}

void ComputerCommands::move(const QList<TCompItem*>& rows, TCompItem* target) {
    if (rows.isEmpty() || rows.first() == nullptr || target == nullptr || target == rows.first())
        return;
    MoveUser(ctx_, rows.first(), target);
}

int ComputerCommands::notice(const QList<TCompItem*>& rows, const QString& text) {
    int sent = 0;
    for (TCompItem* r : rows) {
        if (r == nullptr || state(r) != 2)
            continue;
        if (SendNotice(ctx_, r, text) == SendResult::Sent)
            ++sent;
    }
    return sent;
}

void ComputerCommands::shutdown(const QList<TCompItem*>& rows, int seconds, QChar letter) {
    for (TCompItem* r : rows)
        if (r != nullptr)
            ScheduleShutdown(ctx_, r, seconds, letter);
}

void ComputerCommands::servicePassword(const QList<TCompItem*>& rows, const QString& password) {
    if (!rows.isEmpty() && rows.first() != nullptr)
        SendServicePassword(ctx_, rows.first(), password);
}

QList<ComputerCommands::CdEntry> ComputerCommands::CdEntries(const QString& drives) {
    QList<CdEntry> out;
    for (const QChar c : drives) {
        // Only drive letters: whatever else a station reports is no drive.
        if (!c.isLetter() || c.unicode() > 0x7F)
            continue;
        const QChar letter = c.toUpper();
        out.append({QStringLiteral("Abre unidad ") + letter, letter, true});
        out.append({QStringLiteral("Cierra unidad ") + letter, letter, false});
    }
    return out;
}

QString ComputerCommands::requestClientLog(const QList<TCompItem*>& rows) {
    if (rows.isEmpty() || rows.first() == nullptr)
        return {};
    TCompItem* r = rows.first();
    QueryLog(ctx_, r);
    // The file the station server saves the answer to, named as it names it.
    QString name, address;
    {
        ComputersGuard guard(ctx_.registry.lock());
        name = r->name;
        address = r->connection ? r->connection->peerAddress() : r->address;
    }
    return QDir(ctx_.workFolder).filePath(ClientLogFileName(name, address));
}

ComputerCommands::TextWindow ComputerCommands::takeMessages(TCompItem* r) {
    TextWindow w;
    if (r == nullptr)
        return w;
    ComputersGuard guard(ctx_.registry.lock());
    w.title = QStringLiteral("Mensajes desde ") + r->name;
    w.lines = r->messages;
    r->attention = false;
    return w;
}

ComputerCommands::TextWindow ComputerCommands::history(TCompItem* r) const {
    TextWindow w;
    if (r == nullptr)
        return w;
    ComputersGuard guard(ctx_.registry.lock());
    w.title = QStringLiteral("Accesos hechos a ") + r->name;
    w.lines = r->history;
    return w;
}

QString ComputerCommands::displayName(TCompItem* r) const {
    if (r == nullptr)
        return {};
    ComputersGuard guard(ctx_.registry.lock());
    return r->name;
}

int ComputerCommands::state(TCompItem* r) const {
    if (r == nullptr)
        return 0;
    ComputersGuard guard(ctx_.registry.lock());
    return r->state & 127;
}

} // namespace tarvina::server
