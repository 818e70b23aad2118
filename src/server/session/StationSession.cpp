#include "server/session/StationSession.h"

#include "common/Cp1252.h"
#include "protocol/Block.h"
#include "protocol/Codes.h"
#include "protocol/Fields.h"
#include "protocol/Line.h"
#include "server/computers/RecordOps.h"
#include "server/computers/Senders.h"
#include "server/net/InFlightPool.h"
#include "server/net/StationConnection.h"
#include "server/remote/Capture.h"
#include "server/remote/ClientLog.h"
#include "server/session/TimeAssignment.h"

#include <QDeadlineTimer>
#include <QDir>
#include <exception>

namespace tarvina::server {

namespace p = tarvina::protocol;
using common::FromCp1252;

namespace {

QString ErrorText(p::BlockError e, bool poolRefused = false) {
    if (poolRefused)
        return QStringLiteral("memoria en tránsito agotada");
    switch (e) {
    case p::BlockError::None:
        return {};
    case p::BlockError::Negative:
        return QStringLiteral("longitud negativa");
    case p::BlockError::TooLarge:
        return QStringLiteral("longitud mayor que el límite");
    case p::BlockError::Closed:
        return QStringLiteral("conexión cerrada");
    case p::BlockError::Timeout:
        return QStringLiteral("tiempo de espera agotado");
    case p::BlockError::WriteFailed:
        return QStringLiteral("no se pudo escribir");
    }
    return {};
}

QString ExceptionText(const std::exception& e) {
    return QString::fromLocal8Bit(e.what());
}

// Characters 4 to 3+n of a line (the payload's first n), as text.
QByteArray Chars(const QByteArray& line, int from, int n) {
    return line.mid(from - 1, n);
}

} // namespace

StationSession::StationSession(ServerContext& ctx, std::shared_ptr<StationConnection> conn)
    : ctx_(ctx), conn_(std::move(conn)) {}

TCompItem* StationSession::boundRecord() const {
    ComputersGuard guard(ctx_.registry.lock());
    return conn_->record;
}

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
            console.flush(boundRecord());
            continue;
        }
        if (status == p::LineReader::Status::TooLong) {
            ctx_.console(
                boundRecord(),
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
    console.flush(boundRecord());
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
                SetState(ctx_, record, 0);
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
    ctx_.lastCommand.set(QStringLiteral("Comando :") + FromCp1252(p::LimitPayload(line)));
    const p::ServerSideLine parsed = p::ParseAtServer(line);
    const QByteArray payload = p::LimitPayload(parsed.payload);
    switch (parsed.code) {
    case p::ts::Identify:
        identify(payload);
        return;
    case p::ts::StatusReport: {
        ComputersGuard guard(ctx_.registry.lock());
        if (TCompItem* r = conn_->record)
            HandleStatusReport(ctx_, r, line);
        return;
    }
    case p::ts::SessionStarted: {
        ComputersGuard guard(ctx_.registry.lock());
        if (TCompItem* r = conn_->record)
            HandleSessionStarted(ctx_, r, payload);
        return;
    }
    case p::ts::TimeRequest: {
        ComputersGuard guard(ctx_.registry.lock());
        if (TCompItem* r = conn_->record)
            HandleTimeRequest(ctx_, r, payload);
        return;
    }
    case p::ts::TimeAdded: {
        ComputersGuard guard(ctx_.registry.lock());
        if (TCompItem* r = conn_->record)
            HandleTimeAdded(ctx_, r);
        return;
    }
    case p::ts::TaskList: {
        ComputersGuard guard(ctx_.registry.lock());
        if (TCompItem* r = conn_->record) {
            ctx_.updateRow(r);
            ctx_.handoff.post({UiEvent::Kind::TaskList, r, QString(), parsed.payload});
            ctx_.lastCommand.set(QStringLiteral("Task list"));
        }
        return;
    }
    case p::ts::Screen:
        screen(line);
        return;
    case p::ts::ClientMessage:
        ctx_.console(boundRecord(), FromCp1252(payload));
        return;
    case p::ts::FreeMessage:
        freeMessage(line);
        return;
    case p::ts::ConfigReport:
        configReport();
        return;
    case p::ts::CdList: {
        ComputersGuard guard(ctx_.registry.lock());
        if (TCompItem* r = conn_->record)
            r->cdDrives = FromCp1252(payload);
        return;
    }
    case p::ts::VolumeReport:
        volumeReport(line);
        return;
    case p::ts::PinEntered: {
        ComputersGuard guard(ctx_.registry.lock());
        if (TCompItem* r = conn_->record) {
            r->pin = FromCp1252(payload);
            ctx_.lastCommand.set(QStringLiteral("ChkPIN"));
            ctx_.lastCommand.set(QStringLiteral("Is PIN ok"));
            ctx_.handoff.post({UiEvent::Kind::CodeTyped, r});
        }
        return;
    }
    case p::ts::CurrentPin: {
        ComputersGuard guard(ctx_.registry.lock());
        if (TCompItem* r = conn_->record)
            r->pin = FromCp1252(Chars(line, 4, 6));
        return;
    }
    case p::ts::TransparencyReport:
        transparencyReport(line);
        return;
    case p::ts::MacReport:
        macReport(line);
        return;
    case p::ts::PinAssigned: {
        TCompItem* r = boundRecord();
        if (r == nullptr)
            return;
        const QString code = FromCp1252(Chars(line, 4, 6));
        ctx_.handoff.post({UiEvent::Kind::PinAssigned, r, code});
        ctx_.console(r, QStringLiteral("Cliente recibe PIN ...") + code);
        return;
    }
    case p::ts::LogReport:
        logReport();
        return;
    default:
        ctx_.console(boundRecord(), FromCp1252(p::UnknownCommandText(parsed)));
        return;
    }
}

void StationSession::identify(const QByteArray& payload) {
    ComputersGuard guard(ctx_.registry.lock());
    TCompItem* record = conn_->record;
    if (record == nullptr)
        record = BindConnection(ctx_, conn_, std::nullopt);
    SetName(ctx_, record, FromCp1252(payload));
    ctx_.updateRow(record);
    if (!conn_->isUp())
        return;
    const QByteArray mode = p::FormatToClient(
        p::tc::ServiceMode,
        p::FormatHex(static_cast<quint32>(ctx_.registry.clientParams().serviceMode & 0xF), 1));
    for (const QByteArray& l :
         {p::FormatToClient(p::tc::StatusQuery), mode, p::FormatToClient(p::tc::PinQuery)}) {
        if (const auto err = conn_->sendLine(l)) {
            ctx_.console(record, QStringLiteral("Falla al intentar refrescar ") + *err);
            return;
        }
    }
}

void StationSession::refuseBlock(TCompItem* record, const QString& what, int error,
                                 bool poolRefused) {
    const auto e = static_cast<p::BlockError>(error);
    if (e == p::BlockError::Negative || e == p::BlockError::TooLarge ||
        e == p::BlockError::Timeout || poolRefused)
        ctx_.console(record, QStringLiteral("Bloque rechazado (") + what + QStringLiteral(", ") +
                                 ErrorText(e, poolRefused) +
                                 QStringLiteral("); se cierra la conexión."));
    // The stream is out of step after a refused or broken block.
    conn_->shutdown();
}

void StationSession::screen(const QByteArray& line) {
    TCompItem* record = boundRecord();
    ctx_.console(record, QStringLiteral("Transferencia de pantalla ..."));
    PooledBuffer buffer(ctx_.inFlight);
    const p::BlockError e =
        p::ReadBlockToFile(conn_->reader(), kMaxScreenBlock, buffer, kScreenBlockTimeoutMs);
    if (e != p::BlockError::None) {
        ctx_.console(record, QStringLiteral("Falló Screen shot ") +
                                 FromCp1252(p::LimitPayload(line)) + QStringLiteral(" / ") +
                                 ErrorText(e, buffer.refused()));
        refuseBlock(record, QStringLiteral("pantalla"), static_cast<int>(e), buffer.refused());
    } else if (const BmpCheck check = CheckBmp(buffer.data()); !check.info) {
        // The block was read whole: the stream is in step and the station
        // stays; only the picture is refused.
        ctx_.console(record, QStringLiteral("Falló Screen shot ") +
                                 FromCp1252(p::LimitPayload(line)) + QStringLiteral(" / ") +
                                 check.error);
    } else {
        const QByteArray image = buffer.data();
        ComputersGuard guard(ctx_.registry.lock());
        if (TCompItem* r = conn_->record) {
            ctx_.updateRow(r);
            ctx_.registry.screenshot() = image;
            // The picture stays charged to the pool until the UI thread has
            // shown it: pictures waiting in the queue count as in flight.
            UiEvent shown(UiEvent::Kind::Screenshot, r, QString(), image);
            shown.keep = buffer.releaseCharge();
            ctx_.handoff.post(std::move(shown));
        }
    }
    ctx_.console(record, QStringLiteral("... terminada transferencia de pantalla."));
}

void StationSession::freeMessage(const QByteArray& line) {
    PooledBuffer buffer(ctx_.inFlight);
    const p::BlockError e =
        p::ReadBlockToFile(conn_->reader(), kMaxFreeMessageBlock, buffer, kSmallBlockTimeoutMs);
    TCompItem* record = boundRecord();
    if (e != p::BlockError::None) {
        ctx_.console(record,
                     QStringLiteral("Falló MsgFreeMessage ") + FromCp1252(p::LimitPayload(line)));
        refuseBlock(record, QStringLiteral("mensaje"), static_cast<int>(e), buffer.refused());
        return;
    }
    const QByteArray& bytes = buffer.data();
    QString message;
    {
        ComputersGuard guard(ctx_.registry.lock());
        record = conn_->record;
        if (record == nullptr)
            return;
        ctx_.updateRow(record);
        AppendMessage(*record, FromCp1252(bytes));
        record->attention = true;
        message = record->messages.last();
    }
    if (message.contains(QLatin1String("-urge"))) {
        const qsizetype at = message.indexOf(QLatin1String("-urge"), 0, Qt::CaseInsensitive);
        ctx_.console(record, message.remove(at, 5));
    } else {
        ctx_.console(record, QStringLiteral("Mensaje recibido."));
    }
}

void StationSession::configReport() {
    ctx_.lastCommand.set(QStringLiteral("RegCOnfig"));
    p::LineReader& reader = conn_->reader();
    // What this report holds until it is applied: each line as it came and as
    // text.
    PoolHold hold(ctx_.inFlight);
    const auto charge = [&hold](const QByteArray& l) { return hold.grow(3 * l.size() + 64); };
    QByteArray lines[7];
    for (QByteArray& l : lines) {
        const auto s = reader.readLineWait(l, p::kCountedLineTimeoutMs);
        if (s == p::LineReader::Status::TooLong)
            l.clear();
        if (s == p::LineReader::Status::Line && !charge(l)) {
            refuseBlock(boundRecord(), QStringLiteral("configuración"),
                        static_cast<int>(p::BlockError::WriteFailed), true);
            return;
        }
        if (s != p::LineReader::Status::Line && s != p::LineReader::Status::TooLong) {
            ctx_.console(boundRecord(),
                         QStringLiteral("RegConfig ") + ErrorText(s == p::LineReader::Status::Closed
                                                                      ? p::BlockError::Closed
                                                                      : p::BlockError::Timeout));
            refuseBlock(boundRecord(), QStringLiteral("configuración"),
                        static_cast<int>(s == p::LineReader::Status::Closed
                                             ? p::BlockError::Closed
                                             : p::BlockError::Timeout));
            return;
        }
    }
    quint32 mask = 0;
    const p::BlockError e = p::ReadUInt32(reader, mask, p::kCountedLineTimeoutMs);
    if (e != p::BlockError::None) {
        ctx_.console(boundRecord(), QStringLiteral("RegConfig ") + ErrorText(e));
        refuseBlock(boundRecord(), QStringLiteral("configuración"), static_cast<int>(e));
        return;
    }
    // The banner list: what arrives is kept even when the rest does not.
    QList<RemoteBanner> banners;
    const BannerOutcome outcome = readBanners(banners, charge);
    if (outcome.closed)
        return; // a report cut short by the end of the connection shows nothing
    if (outcome.poolRefused) {
        refuseBlock(boundRecord(), QStringLiteral("configuración"),
                    static_cast<int>(p::BlockError::WriteFailed), true);
        return;
    }
    if (!outcome.error.isEmpty())
        ctx_.console(boundRecord(), QStringLiteral("Configuración remota ") + outcome.error);
    {
        ComputersGuard guard(ctx_.registry.lock());
        TCompItem* r = conn_->record;
        if (r != nullptr) {
            r->remoteBackground = FromCp1252(lines[0]);
            r->remoteAlarmSound = FromCp1252(lines[1]);
            r->remoteAutoStart = lines[2] == "1";
            r->remoteTaskBarHidden = lines[3] == "1";
            r->remoteLogoProtected = lines[4] == "1";
            r->remoteWallpaper = FromCp1252(lines[5]);
            r->remoteWallpaperStyle = FromCp1252(lines[6]);
            r->remoteHiddenDrives = mask;
            r->remoteBanners = banners;
            ctx_.handoff.post({UiEvent::Kind::RemoteConfig, r});
        }
    }
    // Part of an entry was taken and the rest may still come: whatever
    // follows can no longer be told from commands.
    if (!outcome.inStep)
        refuseBlock(boundRecord(), QStringLiteral("configuración"),
                    static_cast<int>(p::BlockError::Timeout));
}

StationSession::BannerOutcome
StationSession::readBanners(QList<RemoteBanner>& banners,
                            const std::function<bool(const QByteArray&)>& charge) {
    BannerOutcome out;
    p::LineReader& reader = conn_->reader();
    // Waits for the first byte of the next value without taking it: None
    // when it is there, Timeout when nothing of it came, Closed at the end.
    const auto arrives = [&reader] {
        const QDeadlineTimer deadline(p::kCountedLineTimeoutMs);
        while (reader.held() == 0 && reader.device()->bytesAvailable() == 0) {
            if (!reader.device()->isOpen())
                return p::BlockError::Closed;
            if (!reader.waitForMore(deadline))
                return reader.device()->bytesAvailable() > 0 ? p::BlockError::None
                       : deadline.hasExpired()               ? p::BlockError::Timeout
                                                             : p::BlockError::Closed;
            // Readable with nothing to read: the peer has gone.
            if (reader.device()->bytesAvailable() == 0)
                return p::BlockError::Closed;
        }
        return p::BlockError::None;
    };
    const auto failed = [&out](p::BlockError e, const QString& where) {
        if (e == p::BlockError::Closed)
            out.closed = true;
        out.error = ErrorText(e) + where;
    };
    if (const p::BlockError e = arrives(); e != p::BlockError::None) {
        failed(e, QStringLiteral(" en la cuenta de fondos"));
        return out;
    }
    qint32 count = 0;
    if (const p::BlockError e = p::ReadCount(reader, count, p::kCountedLineTimeoutMs);
        e != p::BlockError::None) {
        failed(e, QStringLiteral(" en la cuenta de fondos"));
        // A negative count announces no entries: nothing else is owed.
        out.inStep = e == p::BlockError::Negative;
        return out;
    }
    for (qint32 i = 0; i < count; ++i) {
        const QString where = QStringLiteral(" en el fondo %1 de %2").arg(i + 1).arg(count);
        // At the start of an entry with nothing of it taken the stream is
        // still in step: a station that announced more than it sent goes
        // on with its next line.
        if (const p::BlockError e = arrives(); e != p::BlockError::None) {
            failed(e, where);
            return out;
        }
        RemoteBanner b;
        if (const p::BlockError e = p::ReadInt32(reader, b.number, p::kCountedLineTimeoutMs);
            e != p::BlockError::None) {
            failed(e, where);
            out.inStep = false;
            return out;
        }
        QByteArray name;
        const auto s = reader.readLineWait(name, p::kCountedLineTimeoutMs);
        if (s == p::LineReader::Status::Closed) {
            failed(p::BlockError::Closed, where);
            return out;
        }
        if (s == p::LineReader::Status::NeedMore) {
            failed(p::BlockError::Timeout, where);
            out.inStep = false;
            return out;
        }
        // A name over the line limit was dropped up to its end; the entry
        // keeps its place (positions address banners) with no name.
        if (s == p::LineReader::Status::TooLong)
            name.clear();
        // Entries past the bound are read to keep the stream in step, and
        // not kept.
        if (banners.size() >= kMaxBanners) {
            if (out.error.isEmpty())
                out.error = QStringLiteral("lista de %1 fondos; se muestran los primeros %2")
                                .arg(count)
                                .arg(kMaxBanners);
            continue;
        }
        if (!charge(name)) {
            out.poolRefused = true;
            return out;
        }
        b.name = FromCp1252(name);
        banners.append(b);
    }
    return out;
}

void StationSession::volumeReport(const QByteArray& line) {
    TCompItem* record = boundRecord();
    if (Chars(line, 4, 6).toUpper() == "FAILED") {
        ctx_.statusText(QStringLiteral("Falla cliente en sonido"));
        return;
    }
    const QByteArray l = Chars(line, 4, 4), r = Chars(line, 8, 4);
    const auto left = l.size() == 4 ? p::ParseHex(l) : std::nullopt;
    const auto right = r.size() == 4 ? p::ParseHex(r) : std::nullopt;
    if (!left || !right) {
        const QByteArray bad = left ? r : l;
        ctx_.console(record, QStringLiteral("Rec Volumen '") + FromCp1252(bad) +
                                 QStringLiteral("' no es un valor hexadecimal válido"));
        return;
    }
    if (record == nullptr)
        return;
    ctx_.handoff.post({UiEvent::Kind::Volume, record, QString(), QByteArray(),
                       VolumePercent(static_cast<int>(*left)),
                       VolumePercent(static_cast<int>(*right))});
}

void StationSession::transparencyReport(const QByteArray& line) {
    ComputersGuard guard(ctx_.registry.lock());
    TCompItem* r = conn_->record;
    if (r == nullptr)
        return;
    const QByteArray hex = Chars(line, 4, 2);
    const auto v = hex.size() == 2 ? p::ParseHex(hex) : std::nullopt;
    int alpha = v ? static_cast<int>(*v) : 255;
    if (alpha == 0)
        alpha = 3;
    r->alpha = alpha;
    ctx_.handoff.post({UiEvent::Kind::Transparency, r, QString(), QByteArray(), alpha});
}

void StationSession::macReport(const QByteArray& line) {
    ComputersGuard guard(ctx_.registry.lock());
    const QString mac = FromCp1252(Chars(line, 4, 17));
    if (TCompItem* r = conn_->record) {
        if (r->mac != mac) {
            r->mac = mac;
            ctx_.registry.indexMac(r, mac);
        }
    } else {
        BindConnection(ctx_, conn_, mac);
    }
}

void StationSession::logReport() {
    TCompItem* record = boundRecord();
    if (record == nullptr) {
        // Only a station that said who it is gets a log file, and the lines
        // that follow cannot be told from commands: the connection ends.
        ctx_.console(nullptr, QStringLiteral("Bitácora rechazada (cliente no identificado "
                                             "%1); se cierra la conexión.")
                                  .arg(conn_->peerAddress()));
        conn_->shutdown();
        return;
    }
    QString name;
    {
        ComputersGuard guard(ctx_.registry.lock());
        name = record->name;
    }
    p::LineReader& reader = conn_->reader();
    qint32 count = 0;
    p::BlockError e = p::ReadCount(reader, count, p::kCountedLineTimeoutMs);
    if (e == p::BlockError::None && count > kMaxLogLines)
        e = p::BlockError::TooLarge;
    if (e != p::BlockError::None) {
        ctx_.console(record, QStringLiteral("Falla Info tip ") + ErrorText(e));
        refuseBlock(record, QStringLiteral("bitácora"), static_cast<int>(e));
        return;
    }
    // Each line goes to the file as it comes; lines that arrived before a
    // time-out or a loss are kept.
    ClientLogWriter writer(
        QDir(ctx_.workFolder).filePath(ClientLogFileName(name, conn_->peerAddress())));
    bool ok = writer.open();
    for (qint32 i = 0; i < count && e == p::BlockError::None; ++i) {
        QByteArray line;
        switch (reader.readLineWait(line, p::kCountedLineTimeoutMs)) {
        case p::LineReader::Status::Line:
            if (ok)
                ok = writer.add(line);
            break;
        case p::LineReader::Status::TooLong:
            break; // counted, not stored
        case p::LineReader::Status::Closed:
            e = p::BlockError::Closed;
            break;
        case p::LineReader::Status::NeedMore:
            e = p::BlockError::Timeout;
            break;
        }
    }
    if (!ok || !writer.commit())
        ctx_.console(record, QStringLiteral("Falla Info tip ") + writer.errorString());
    else if (e != p::BlockError::None)
        ctx_.console(record, QStringLiteral("Falla Info tip ") + ErrorText(e));
    const qint64 dropped = writer.droppedLines();
    if (dropped > 0)
        ctx_.console(record, (dropped == 1 ? QStringLiteral("%1 línea de la bitácora de %2 omitida")
                                           : QStringLiteral("%1 líneas de la bitácora de %2 "
                                                            "omitidas"))
                                     .arg(dropped)
                                     .arg(name) +
                                 QStringLiteral(" (se guarda lo último, hasta %1 KiB)")
                                     .arg(ClientLogWriter::kCapBytes / 1024));
}

} // namespace tarvina::server
