#include "server/session/StationSession.h"

#include "protocol/Codes.h"
#include "protocol/Line.h"
#include "protocol/LineReader.h"
#include "server/computers/ComputerState.h"
#include "server/computers/RecordOps.h"
#include "server/net/StationConnection.h"

#include <exception>

namespace tarvina::server {

namespace p = tarvina::protocol;

namespace {

QString ExceptionText(const std::exception& e) {
    return QString::fromLocal8Bit(e.what());
}

} // namespace

StationSession::StationSession(ServerContext& ctx, std::shared_ptr<StationConnection> conn)
    : ctx_(ctx), conn_(std::move(conn)), reports_(ctx_, conn_), dispatcher_(reports_) {}

QString StationSession::consoleName() const {
    ComputersGuard guard(ctx_.registry.lock());
    return conn_->record != nullptr ? conn_->record->name : conn_->peerAddress();
}

void StationSession::run() {
    ConnectionConsole console(ctx_.clock, ctx_.handoff, [this] { return consoleName(); });
    const auto source = static_cast<quint64>(reinterpret_cast<quintptr>(conn_.get()));
    HandOff::SourceScope posting(source);
    onConnect();
    while (conn_->isUp()) {
        // A station whose effects the UI thread has not caught up with waits
        // here, before its next line, and TCP holds the rest back.
        while (conn_->isUp() && !ctx_.handoff.waitForRoom(source, 200)) {
        }
        QByteArray line;
        // While lines are being omitted, a second of quiet is enough to say
        // how many.
        const auto status = conn_->reader().readLineWait(line, console.hasOmitted() ? 1000 : 60000);
        if (status == p::LineReader::Status::Closed)
            break;
        if (status == p::LineReader::Status::NeedMore) {
            console.flush(reports_.boundRecord());
            continue;
        }
        if (status == p::LineReader::Status::TooLong) {
            ctx_.console(
                reports_.boundRecord(),
                QStringLiteral("Línea de más de %1 bytes descartada").arg(p::kMaxLineLength));
            continue;
        }
        try {
            handleLine(line);
        } catch (...) {
            // Each handler reports its own failures; nothing may end the loop
            // but the connection itself.
        }
    }
    conn_->markDown();
    console.flush(reports_.boundRecord());
    onDisconnect();
}

void StationSession::onConnect() {
    ctx_.statusText(QStringLiteral("Conexión desde ...") + conn_->peerAddress());
    {
        ComputersGuard guard(ctx_.registry.lock());
        if (const auto err = conn_->sendLine(p::FormatToClient(p::tc::MacQuery)))
            ctx_.console(nullptr, QStringLiteral("Falla en \"Server Connect\" ") + *err);
    }
    if (const auto err = conn_->sendLine(p::FormatToClient(p::tc::Hello)))
        ctx_.console(nullptr, QStringLiteral("Falla en \"Server Connect 92)\" ") + *err);
    const int n = ctx_.registry.connectionOpened();
    ctx_.handoff.post({UiEvent::Kind::ConnectionCount, nullptr, QString(), QByteArray(), n});
}

void StationSession::onDisconnect() {
    const int n = ctx_.registry.connectionClosed();
    ctx_.handoff.post({UiEvent::Kind::ConnectionCount, nullptr, QString(), QByteArray(), n});
    ctx_.lastCommand.set(QStringLiteral("Disconnecte from server"));
    try {
        ComputersGuard guard(ctx_.registry.lock());
        if (TCompItem* record = conn_->record) {
            // A newer connection of the same computer keeps the record.
            if (record->connection == conn_) {
                SetState(ctx_, record, StateByte(StationState::Disconnected));
                ctx_.updateRow(record);
                record->connection.reset();
            }
        }
        conn_->record = nullptr;
    } catch (const std::exception& e) {
        ctx_.console(nullptr, QStringLiteral("Falla en \"Server diconnect\" ") + ExceptionText(e));
    }
}

void StationSession::handleLine(const QByteArray& line) {
    dispatcher_.Dispatch(line);
}

} // namespace tarvina::server
