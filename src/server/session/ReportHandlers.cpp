#include "server/session/ReportHandlers.h"

#include "common/Cp1252.h"
#include "common/DateTime.h"
#include "protocol/Block.h"
#include "protocol/Codes.h"
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
#include <algorithm>
#include <cmath>

namespace tarvina::server {

namespace p = tarvina::protocol;
using common::DateTime;
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

} // namespace

ReportHandlers::ReportHandlers(ServerContext& ctx, std::shared_ptr<StationConnection> conn)
    : ctx_(ctx), conn_(std::move(conn)) {}

template <class Apply> TCompItem* ReportHandlers::withRecord(Apply&& apply) {
    ComputersGuard guard(ctx_.registry.lock());
    TCompItem* record = conn_->record;
    if (record != nullptr)
        apply(record);
    return record;
}

TCompItem* ReportHandlers::boundRecord() const {
    ComputersGuard guard(ctx_.registry.lock());
    return conn_->record;
}

void ReportHandlers::onLine(const QString& line) {
    ctx_.lastCommand.set(QStringLiteral("Comando :") + line);
}

void ReportHandlers::onUnknown(const QString& text) {
    ctx_.console(boundRecord(), text);
}

// --- identity and state ------------------------------------------------------

void ReportHandlers::onIdentify(const report::Identify& r) {
    ComputersGuard guard(ctx_.registry.lock());
    TCompItem* record = conn_->record;
    if (record == nullptr)
        record = BindConnection(ctx_, conn_, std::nullopt);
    SetName(ctx_, record, r.name);
    ctx_.updateRow(record);
    if (!conn_->isUp())
        return;
    for (const QByteArray& l : {p::FormatToClient(p::tc::StatusQuery), ServiceModeLine(ctx_),
                                p::FormatToClient(p::tc::PinQuery)}) {
        if (const auto err = conn_->sendLine(l)) {
            ctx_.console(record, QStringLiteral("Falla al intentar refrescar ") + *err);
            return;
        }
    }
}

void ReportHandlers::onMacReport(const report::MacReport& r) {
    ComputersGuard guard(ctx_.registry.lock());
    if (TCompItem* record = conn_->record) {
        if (record->mac != r.mac) {
            record->mac = r.mac;
            ctx_.registry.indexMac(record, r.mac);
        }
    } else {
        BindConnection(ctx_, conn_, r.mac);
    }
}

void ReportHandlers::onStatusReport(const report::StatusReport& r) {
    withRecord([&](TCompItem* record) {
        record->user = r.user;
        const DateTime now = ctx_.clock.now();
        if (!r.timeLeft || !r.start || !std::isfinite(*r.timeLeft) || !std::isfinite(*r.start)) {
            record->end = 0;
        } else {
            record->start = *r.start;
            if (!(record->end > 0)) {
                // Bounded so that a hostile number cannot overflow the clock.
                const double ms = std::clamp(*r.timeLeft * DateTime::kMsPerDay, -1e15, 1e15);
                record->end = now.addMSecs(static_cast<qint64>(ms)).days();
            }
            if (!r.name.isEmpty())
                SetName(ctx_, record, r.name);
            if (r.version != record->versionText) {
                record->versionText = r.version;
                record->versionNumber = r.versionNumber;
            }
        }
        // After the fields: the change carries the session the report is about.
        SetState(ctx_, record, StateByte(r.state));
        // The station waits for its answer and the row can wait for it: the
        // answer goes first, so the UI thread's wake-up is not in its way.
        if (record->lockRequested && now < DateTime::FromDays(record->end)) {
            SendToComputer(ctx_, record, p::FormatToClient(p::tc::Lock), QString(),
                           [](const QString&, const QString&) {
                               return QStringLiteral("Falla al establecer bloqueo");
                           });
        } else {
            SendToComputer(ctx_, record, TimeRequestModeLine(ctx_), QString(),
                           [](const QString&, const QString& error) {
                               return QStringLiteral("Falla al establecer acceso ") + error;
                           });
        }
        ctx_.updateRow(record);
    });
}

void ReportHandlers::onSessionStarted(const report::SessionStarted& r) {
    withRecord([&](TCompItem* record) {
        record->user = r.user;
        ctx_.updateRow(record);
    });
}

void ReportHandlers::onTimeRequest(const report::TimeRequest& r) {
    withRecord([&](TCompItem* record) {
        ctx_.updateRow(record);
        const QString text =
            QStringLiteral("Solicita más tiempo (") + r.minutes + QStringLiteral(" minutos)");
        ctx_.console(record, text);
        AppendMessage(*record,
                      common::FormatDateTime(QStringLiteral("dd/mm/yy hh:nn"), ctx_.clock.now()) +
                          QLatin1Char(' ') + text);
        record->attention = true;
    });
}

void ReportHandlers::onTimeAdded(const report::TimeAdded&) {
    withRecord([&](TCompItem* record) {
        ctx_.updateRow(record);
        ctx_.console(record, QStringLiteral("Asignación de tiempo adicional en ejecución"));
        record->end = record->pendingEnd;
    });
}

// --- codes -------------------------------------------------------------------

void ReportHandlers::onPinEntered(const report::PinEntered& r) {
    withRecord([&](TCompItem* record) {
        record->pin = r.pin;
        ctx_.lastCommand.set(QStringLiteral("ChkPIN"));
        ctx_.lastCommand.set(QStringLiteral("Is PIN ok"));
        ctx_.handoff.post({UiEvent::Kind::CodeTyped, record});
    });
}

void ReportHandlers::onCurrentPin(const report::CurrentPin& r) {
    withRecord([&](TCompItem* record) { record->pin = r.pin; });
}

void ReportHandlers::onPinAssigned(const report::PinAssigned& r) {
    TCompItem* record = boundRecord();
    if (record == nullptr)
        return;
    ctx_.handoff.post({UiEvent::Kind::PinAssigned, record, r.code});
    ctx_.console(record, QStringLiteral("Cliente recibe PIN ...") + r.code);
}

// The answer needs the till, which lives on the UI thread.
void ReportHandlers::onAccountQuery(const report::AccountQuery&) {
    if (TCompItem* record = boundRecord())
        ctx_.handoff.post({UiEvent::Kind::AccountQuery, record});
}

// --- messages ----------------------------------------------------------------

void ReportHandlers::onClientMessage(const report::ClientMessage& r) {
    ctx_.console(boundRecord(), r.text);
}

void ReportHandlers::onFreeMessage(const report::FreeMessage& r) {
    PooledBuffer buffer(ctx_.inFlight);
    const p::BlockError e =
        p::ReadBlockToFile(conn_->reader(), kMaxFreeMessageBlock, buffer, kSmallBlockTimeoutMs);
    TCompItem* record = boundRecord();
    if (e != p::BlockError::None) {
        ctx_.console(record, QStringLiteral("Falló MsgFreeMessage ") + r.line);
        refuseBlock(record, QStringLiteral("mensaje"), static_cast<int>(e), buffer.refused());
        return;
    }
    const QByteArray& bytes = buffer.data();
    QString message;
    record = withRecord([&](TCompItem* bound) {
        ctx_.updateRow(bound);
        AppendMessage(*bound, FromCp1252(bytes));
        bound->attention = true;
        message = bound->messages.last();
    });
    if (record == nullptr)
        return;
    if (message.contains(QLatin1String("-urge"))) {
        const qsizetype at = message.indexOf(QLatin1String("-urge"), 0, Qt::CaseInsensitive);
        ctx_.console(record, message.remove(at, 5));
    } else {
        ctx_.console(record, QStringLiteral("Mensaje recibido."));
    }
}

// Not handled: a station whose lock did not take effect sends it, and the
// console names it as it names any line outside the table.
void ReportHandlers::onTaskListTagged(const report::TaskListTagged& r) {
    onUnknown(r.unknownText);
}

// --- remote control ----------------------------------------------------------

void ReportHandlers::onTaskList(const report::TaskList& r) {
    withRecord([&](TCompItem* record) {
        ctx_.updateRow(record);
        ctx_.handoff.post({UiEvent::Kind::TaskList, record, QString(), r.captions});
        ctx_.lastCommand.set(QStringLiteral("Task list"));
    });
}

void ReportHandlers::onCdList(const report::CdList& r) {
    withRecord([&](TCompItem* record) { record->cdDrives = r.drives; });
}

void ReportHandlers::onVolumeReport(const report::VolumeReport& r) {
    TCompItem* record = boundRecord();
    if (r.failed) {
        ctx_.statusText(QStringLiteral("Falla cliente en sonido"));
        return;
    }
    if (!r.left || !r.right) {
        ctx_.console(record, QStringLiteral("Rec Volumen '") + r.invalid +
                                 QStringLiteral("' no es un valor hexadecimal válido"));
        return;
    }
    if (record == nullptr)
        return;
    ctx_.handoff.post({UiEvent::Kind::Volume, record, QString(), QByteArray(),
                       VolumePercent(static_cast<int>(*r.left)),
                       VolumePercent(static_cast<int>(*r.right))});
}

void ReportHandlers::onTransparencyReport(const report::TransparencyReport& r) {
    withRecord([&](TCompItem* record) {
        const int alpha = r.alpha == 0 ? 3 : r.alpha;
        record->alpha = alpha;
        ctx_.handoff.post({UiEvent::Kind::Transparency, record, QString(), QByteArray(), alpha});
    });
}

// --- what follows a line: blocks and counted lines ---------------------------

void ReportHandlers::refuseBlock(TCompItem* record, const QString& what, int error,
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

void ReportHandlers::onScreen(const report::Screen& r) {
    TCompItem* record = boundRecord();
    ctx_.console(record, QStringLiteral("Transferencia de pantalla ..."));
    PooledBuffer buffer(ctx_.inFlight);
    const p::BlockError e =
        p::ReadBlockToFile(conn_->reader(), kMaxScreenBlock, buffer, kScreenBlockTimeoutMs);
    if (e != p::BlockError::None) {
        ctx_.console(record, QStringLiteral("Falló Screen shot ") + r.line + QStringLiteral(" / ") +
                                 ErrorText(e, buffer.refused()));
        refuseBlock(record, QStringLiteral("pantalla"), static_cast<int>(e), buffer.refused());
    } else if (const BmpCheck check = CheckBmp(buffer.data()); !check.info) {
        // The block was read whole: the stream is in step and the station
        // stays; only the picture is refused.
        ctx_.console(record, QStringLiteral("Falló Screen shot ") + r.line + QStringLiteral(" / ") +
                                 check.error);
    } else {
        const QByteArray image = buffer.data();
        withRecord([&](TCompItem* bound) {
            ctx_.updateRow(bound);
            ctx_.registry.screenshot() = image;
            // The picture stays charged to the pool until the UI thread has
            // shown it: pictures waiting in the queue count as in flight.
            UiEvent shown(UiEvent::Kind::Screenshot, bound, QString(), image);
            shown.keep = buffer.releaseCharge();
            ctx_.handoff.post(std::move(shown));
        });
    }
    ctx_.console(record, QStringLiteral("... terminada transferencia de pantalla."));
}

void ReportHandlers::onConfigReport(const report::ConfigReport&) {
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
    withRecord([&](TCompItem* record) {
        record->remoteBackground = FromCp1252(lines[0]);
        record->remoteAlarmSound = FromCp1252(lines[1]);
        record->remoteAutoStart = lines[2] == "1";
        record->remoteTaskBarHidden = lines[3] == "1";
        record->remoteLogoProtected = lines[4] == "1";
        record->remoteWallpaper = FromCp1252(lines[5]);
        record->remoteWallpaperStyle = FromCp1252(lines[6]);
        record->remoteHiddenDrives = mask;
        record->remoteBanners = banners;
        ctx_.handoff.post({UiEvent::Kind::RemoteConfig, record});
    });
    // Part of an entry was taken and the rest may still come: whatever
    // follows can no longer be told from commands.
    if (!outcome.inStep)
        refuseBlock(boundRecord(), QStringLiteral("configuración"),
                    static_cast<int>(p::BlockError::Timeout));
}

ReportHandlers::BannerOutcome
ReportHandlers::readBanners(QList<RemoteBanner>& banners,
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

void ReportHandlers::onLogReport(const report::LogReport&) {
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
