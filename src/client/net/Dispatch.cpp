// The dispatcher: one received line, its code, and the row of the code table.
// Rows that only reply run here on the receive thread; every row that changes
// the session, the lock or the windows is posted to the main thread as one
// named call, in arrival order.
#include "client/session/ClientCore.h"
#include "common/Cp1252.h"
#include "common/ExceptionLog.h"
#include "platform/Audio.h"
#include "platform/Clock.h"
#include "platform/Drives.h"
#include "platform/Shell.h"
#include "platform/SystemTime.h"
#include "protocol/Block.h"
#include "protocol/Codes.h"
#include "protocol/DateTimeText.h"
#include "protocol/Fields.h"
#include "protocol/Line.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <chrono>
#include <thread>

namespace tarvina::client {

using common::DateTime;
namespace tc = protocol::tc;

namespace {

void Pause(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Texts of one text only (notice, hint, password, address) are kept to this.
constexpr qsizetype kMaxText = 1024;

// Whole number at the start of a trimmed text, 0 when it is not one.
qint64 WholeNumber(QByteArrayView text) {
    bool ok = false;
    const qint64 v = protocol::TrimBlanks(text).toLongLong(&ok);
    return ok ? v : 0;
}

// The advertising endpoint; its host is configured by the café's maker.
const QString kAdEndpoint = QStringLiteral("http://publicidad.velt.example/zu/newsite.php");
constexpr char kAdSalt[] = "tarvina puesto anuncio"; // three words, 22 + 1 characters

QString PercentEncodeMac(const QString& mac) {
    QString out;
    for (QChar c : mac) {
        const ushort u = c.unicode();
        if ((u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z'))
            out += c;
        else
            out += QStringLiteral("%%1").arg(u & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
    }
    return out;
}

} // namespace

void ClientCore::Dispatch(const QByteArray& line) {
    const protocol::ClientSideLine parsed = protocol::ParseAtClient(line);
    const QByteArray& p = parsed.payload;
    const int code = parsed.code;
    // A line of fewer than two characters has no code.
    const bool known = line.size() >= 2 && protocol::FindCode(code, protocol::Direction::ToClient);
    try {
        if (!known) {
            setStatus(Txt::StrUnkComm);
            return;
        }
        switch (code) {
        case tc::Hello:
            setStatus(Txt::StrAns01);
            if (link_.isConnected()) {
                Pause(100);
                if (!SendLine("R01" + common::ToCp1252(env_.computerName))) {
                    setStatus(Txt::StrFailConn);
                    ScheduleReconnect(true, true);
                }
                Pause(100);
            }
            break;
        case tc::StatusQuery:
            post([this] { ManifestStatusQuery(); });
            break;
        case tc::ScheduleShutdown: {
            const qsizetype comma = p.indexOf(',');
            const qint64 seconds = WholeNumber(comma < 0 ? p : p.left(comma));
            const QByteArray rest =
                comma < 0 ? QByteArray() : protocol::TrimBlanks(p.mid(comma + 1));
            const QChar letter = rest.isEmpty() ? QChar(u'N') : QChar(QLatin1Char(rest[0]));
            const int secs = static_cast<int>(std::clamp<qint64>(seconds, 0, 366LL * 86400));
            post([this, secs, letter] { ManifestScheduleShutdown(secs, letter); });
            break;
        }
        case tc::GrantAccess: {
            const QByteArray& limited = p;
            Grant g;
            // Bounded as the session file keeps them, so that every report
            // built from them stays a valid line.
            g.minutes = common::FromCp1252(protocol::CommaField(limited, 1).left(32));
            g.user = common::FromCp1252(protocol::CommaField(limited, 2).left(255));
            // Each hexadecimal pair is one character of the password in its
            // scrambled form; a field that does not decode counts as none.
            const auto pw = protocol::FromHexText(protocol::CommaField(limited, 3));
            g.password = pw ? protocol::TrimBlanks(*pw) : QByteArray();
            post([this, g] { ManifestStartGrant(g); });
            break;
        }
        case tc::AddTime:
        case tc::AddTimeSilent: {
            const QByteArray text = p.left(256);
            const bool silent = code == tc::AddTimeSilent;
            post([this, text, silent] { ManifestApplyExtraTime(text, silent); });
            break;
        }
        case tc::SyncTime: {
            const double days =
                protocol::ParseDateTimeNumber(protocol::TrimBlanks(protocol::LimitPayload(p)))
                    .value_or(0.0);
            post([this, days] { ManifestSyncTime(days); });
            break;
        }
        case tc::Lock:
            post([this] { ManifestEndOfUse(); });
            break;
        case tc::TimeRequestMode: {
            const QByteArray limited = protocol::LimitPayload(p);
            const qsizetype comma = limited.indexOf(',');
            const QString mode =
                common::FromCp1252(protocol::TrimBlanks(comma < 0 ? limited : limited.left(comma)));
            const QString list =
                comma < 0 ? QString()
                          : common::FromCp1252(protocol::TrimBlanks(limited.mid(comma + 1)));
            post([this, mode, list] { ManifestTimeRequestMode(mode, list); });
            break;
        }
        case tc::TaskListQuery:
        case tc::CloseTask:
        case tc::SetWallpaperStyle:
        case tc::SetAutoStart:
        case tc::SetTaskBarHidden:
        case tc::SetLogoProtect:
        case tc::SetDiskState:
        case tc::SetBannerDelay:
        case tc::DeleteBanner:
            control_->onCommand(code, p, {},
                                [this](const QByteArray& l) { return sendOrReconnect(l); });
            break;
        case tc::SendBackground:
        case tc::SendAlarmSound:
        case tc::SendWallpaper:
        case tc::SendBanner: {
            // A clearing line has no payload and no block.
            QByteArray block;
            if (code != tc::SendBanner && protocol::TrimBlanks(p).isEmpty()) {
                control_->onCommand(code, p, {},
                                    [this](const QByteArray& l) { return sendOrReconnect(l); });
                break;
            }
            if (!readBlockForDispatch(block))
                break;
            control_->onCommand(code, p, block,
                                [this](const QByteArray& l) { return sendOrReconnect(l); });
            break;
        }
        case tc::ScreenQuery:
        case tc::CleanTasks:
        case tc::ConfigQuery:
            post([this, code] { ManifestMachinePosted(code); });
            break;
        case tc::SetAccountTag: {
            const QString tag =
                common::FromCp1252(protocol::CommaField(protocol::LimitPayload(p), 1));
            post([this, tag] { ManifestSetAccountTag(tag); });
            break;
        }
        case tc::WithdrawAccess:
            post([this] { ManifestNoPass(); });
            break;
        case tc::Notice: {
            const QString text = common::FromCp1252(p.left(kMaxText)).trimmed();
            post([this, text] { ManifestNotice(text); });
            break;
        }
        case tc::ClockHint: {
            const QString hint = common::FromCp1252(p.left(kMaxText));
            post([this, hint] { ManifestClockHint(hint); });
            break;
        }
        case tc::SetServicePassword: {
            const QByteArray pw = p.left(kMaxText);
            post([this, pw] { ManifestServicePassword(pw); });
            break;
        }
        case tc::CdListQuery:
            post([this] { ManifestCdList(); });
            break;
        case tc::CdTray: {
            if (p.isEmpty())
                break;
            const QChar letter = QChar(QLatin1Char(p[0])).toUpper();
            const bool open = p.size() > 1 && p[1] == '1';
            if (svc_.drives && letter >= u'A' && letter <= u'Z') {
                // The tray may take seconds: its own short-lived thread.
                platform::Drives* drives = svc_.drives;
                std::thread([this, drives, letter, open] {
                    QString err;
                    if (!drives->setTray(letter, open, &err)) {
                        lastCommand_.set(QStringLiteral("TIdleCDExitThread"));
                        LogException(QStringLiteral("OpenCloseCD ") + err);
                    }
                }).detach();
            }
            break;
        }
        case tc::SetVolume: {
            const auto left = protocol::ParseHex(p.mid(0, 4));
            const auto right = protocol::ParseHex(p.mid(4, 4));
            if (!left || !right || p.size() < 8) {
                lastCommand_.set(QStringLiteral("SetVolumen"));
                LogException(QStringLiteral("NewMsg '") + common::FromCp1252(p.left(8)) +
                             QStringLiteral("' is not a valid integer value"));
                break;
            }
            const auto l = static_cast<quint16>(*left);
            const auto r = static_cast<quint16>(*right);
            post([this, l, r] { ManifestSetVolume(l, r); });
            break;
        }
        case tc::VolumeQuery:
            post([this] { ManifestVolumeQuery(); });
            break;
        case tc::OpenRemote: {
            const QString address = common::FromCp1252(p.left(kMaxText));
            post([this, address] { ManifestOpenRemote(address); });
            break;
        }
        case tc::PinVerdict:
            post([this, p] { ManifestPinVerdict(p); });
            break;
        case tc::ServiceMode: {
            const int mode = p.isEmpty() ? 0 : static_cast<unsigned char>(p[0]) - '0';
            post([this, mode] { ManifestServiceMode(mode); });
            break;
        }
        case tc::PinQuery:
            post([this] { ManifestPinQuery(); });
            break;
        case tc::SetTransparency: {
            const auto a = protocol::ParseHex(p.left(2));
            const int alpha = a && p.size() >= 1 ? static_cast<int>(*a) : 255;
            post([this, alpha] { ManifestSetTransparency(alpha); });
            break;
        }
        case tc::TransparencyQuery:
            post([this] { ManifestTransparencyQuery(); });
            break;
        case tc::SoftReinit:
            post([this] { ManifestSoftReinit(); });
            break;
        case tc::BlockMessageMode: {
            const bool on = !p.isEmpty() && p[0] == '1';
            post([this, on] { ManifestBlockMessageMode(on); });
            break;
        }
        case tc::MacQuery:
            if (link_.isConnected() && !SendLine("R48" + common::ToCp1252(env_.macText))) {
                setStatus(Txt::StrFailConn);
                ScheduleReconnect(true, true);
            }
            break;
        case tc::AssignPin: {
            const QByteArray pinText = p.left(6);
            post([this, pinText] { ManifestAssignPin(pinText); });
            break;
        }
        case tc::LogQuery:
            LogQueryReply();
            break;
        case tc::DatabaseHost:
            break;
        case tc::MemberId: {
            const qint64 id = WholeNumber(protocol::TrimBlanks(p).left(20));
            post([this, id] { ManifestMemberId(id); });
            break;
        }
        case tc::ShowAdPage:
            post([this] { ManifestShowAdPage(); });
            break;
        default:
            setStatus(Txt::StrUnkComm);
            break;
        }
    } catch (const std::exception& e) {
        LogException(QStringLiteral("NewMsg") + QString::fromLocal8Bit(e.what()));
    }
}

void ClientCore::LogQueryReply() {
    if (!link_.isConnected())
        return;
    QList<QByteArray> lines;
    QFile f(StationFile(env_.programFolder, QString::fromLatin1(common::kClientExceptionLogName)));
    if (f.open(QIODevice::ReadOnly)) {
        // The log is kept near 2 KiB; a larger file is read only this far.
        QByteArray bytes = f.read(256 * 1024);
        if (bytes.endsWith('\n'))
            bytes.chop(1);
        if (!bytes.isEmpty()) {
            for (QByteArray l : bytes.split('\n')) {
                if (l.endsWith('\r'))
                    l.chop(1);
                lines << l.left(protocol::kMaxLineLength - 2);
            }
        }
    }
    const QByteArray head = protocol::Terminate("R51");
    const QByteArray body = protocol::EncodeCountedLines(lines);
    if (!link_.sendParts({head, body})) {
        setStatus(Txt::StrFailConn);
        ScheduleReconnect(true, true);
    }
}

// --- posted rows ------------------------------------------------------------

void ClientCore::ManifestStatusQuery() {
    SendStatusReport();
}

void ClientCore::ManifestScheduleShutdown(int seconds, QChar letter) {
    shutdownLetter_ = letter;
    shutdownDue_ = now().addSeconds(seconds);
    setStatus(QStringLiteral("ShutDown /") + letter + QStringLiteral(" at ") +
              common::FormatDateTime(QStringLiteral("hh:nn:ss"), shutdownDue_));
}

void ClientCore::ManifestEndOfUse() {
    EndOfUse();
}

void ClientCore::ManifestApplyExtraTime(QByteArray text, bool silent) {
    ApplyExtraTime(text, silent);
}

void ClientCore::ManifestSetAccountTag(QString tag) {
    tag_ = tag;
}

void ClientCore::ManifestClockHint(QString hint) {
    display_.clockHint = hint;
    changed();
}

void ClientCore::ManifestServicePassword(QByteArray scrambled) {
    if (scrambled != settings_.password)
        settings_.password = scrambled;
}

void ClientCore::ManifestSyncTime(double days) {
    if (days <= 0 || !svc_.timeSetter)
        return;
    QString err;
    if (!svc_.timeSetter->setLocalTime(DateTime::FromDays(days), &err))
        LogException(QStringLiteral("ManifestSyncTime ") + err);
}

void ClientCore::ManifestTimeRequestMode(QString mode, QString list) {
    if (mode == u"0") {
        display_.masTiempoVisible = false;
        Q_EMIT closeTimeRequestDialog();
    } else if (mode == u"1") {
        display_.masTiempoVisible = true;
        display_.moreTimeFreeText = true;
    } else if (mode == u"2") {
        display_.masTiempoVisible = true;
        QStringList items;
        for (const QByteArray& item : protocol::SplitCommaList(common::ToCp1252(list)))
            items << common::FromCp1252(item).trimmed();
        display_.moreTimeItems = items;
        display_.moreTimeFreeText = false;
    } else {
        return;
    }
    changed();
}

void ClientCore::ManifestNotice(QString text) {
    if (svc_.notice)
        svc_.notice->showNotice(text);
}

void ClientCore::ManifestCdList() {
    const QString letters = svc_.drives ? svc_.drives->cdDriveLetters() : QString();
    sendOrReconnect("R33" + letters.toLatin1());
}

void ClientCore::ManifestSetVolume(quint16 left, quint16 right) {
    if (svc_.audio)
        svc_.audio->setVolume({left, right});
}

void ClientCore::ManifestVolumeQuery() {
    const auto v = svc_.audio ? svc_.audio->volume() : std::nullopt;
    if (!v) {
        sendOrReconnect("R36failed");
        return;
    }
    sendOrReconnect("R36" + protocol::FormatHex(v->left, 4) + protocol::FormatHex(v->right, 4));
}

void ClientCore::ManifestOpenRemote(QString address) {
    if (address == kAdEndpoint)
        address += QStringLiteral("?pais=") + country_;
    if (svc_.shell && !address.isEmpty())
        svc_.shell->openDocument(address);
}

void ClientCore::ManifestShowAdPage() {
    const QByteArray digest = QCryptographicHash::hash(common::ToCp1252(env_.macText) +
                                                           QByteArray::number(memberId_) + kAdSalt,
                                                       QCryptographicHash::Md5)
                                  .toHex()
                                  .toUpper();
    const QString address = kAdEndpoint + QStringLiteral("?idsocio=") + QString::number(memberId_) +
                            QStringLiteral("&mac=") + PercentEncodeMac(env_.macText) +
                            QStringLiteral("&cmd=") + QString::fromLatin1(digest);
    if (svc_.shell)
        svc_.shell->openDocument(address);
}

void ClientCore::ManifestBlockMessageMode(bool on) {
    if (on != settings_.msgAtBlock)
        settings_.msgAtBlock = on;
    UpdateMenusForConnection();
}

void ClientCore::ManifestMediaCheck() {
    const DateTime t = now();
    if (mediaCheck_.days() != 0 && mediaCheck_.msecsTo(t) < 60000)
        return;
    mediaCheck_ = t;
    if (!svc_.drives)
        return;
    for (QChar letter : svc_.drives->lettersWithMedia())
        SendFreeMessage("-urgeHay un disco en la unidad '" + QByteArray(1, letter.toLatin1()) +
                        "'");
}

void ClientCore::ManifestMemberId(qint64 id) {
    memberId_ = id;
}

void ClientCore::ManifestMachinePosted(int code) {
    control_->onPosted(code, [this](const QByteArray& l) { return sendOrReconnect(l); });
}

void ClientCore::ManifestSetTransparency(int alpha) {
    SetLockOpacity(alpha);
}

void ClientCore::ManifestTransparencyQuery() {
    sendOrReconnect("R43" + protocol::FormatHex(static_cast<quint32>(LockOpacity()), 2));
}

} // namespace tarvina::client
