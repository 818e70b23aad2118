#include "client/commands/Dispatcher.h"

#include "client/commands/StationCommands.h"
#include "client/station/StationContext.h"
#include "common/Cp1252.h"
#include "protocol/Codes.h"
#include "protocol/DateTimeText.h"
#include "protocol/Fields.h"
#include "protocol/Line.h"
#include "protocol/StationLines.h"

#include <algorithm>
#include <array>

namespace tarvina::client {

namespace {

using Payload = QByteArray;
using Commands = StationCommands;
namespace tc = protocol::tc;

// Texts of one text only (notice, hint, password, address) are kept to this.
constexpr qsizetype kMaxText = 1024;

// Whole number at the start of a trimmed text, 0 when it is not one.
qint64 WholeNumber(QByteArrayView text) {
    bool ok = false;
    const qint64 v = protocol::TrimBlanks(text).toLongLong(&ok);
    return ok ? v : 0;
}

// --- one handler per code of the table ---------------------------------------

void OnHello(Commands& c, const Payload&) {
    c.Hello();
}

void OnStatusQuery(Commands& c, const Payload&) {
    c.StatusQuery();
}

void OnScheduleShutdown(Commands& c, const Payload& p) {
    const qsizetype comma = p.indexOf(',');
    const qint64 seconds = WholeNumber(comma < 0 ? p : p.left(comma));
    const QByteArray rest = comma < 0 ? QByteArray() : protocol::TrimBlanks(p.mid(comma + 1));
    const QChar letter = rest.isEmpty() ? QChar(u'N') : QChar(QLatin1Char(rest[0]));
    c.ScheduleShutdown(static_cast<int>(std::clamp<qint64>(seconds, 0, 366LL * 86400)), letter);
}

void OnGrantAccess(Commands& c, const Payload& p) {
    Grant g;
    // Bounded as the session file keeps them, so that every report built
    // from them stays a valid line.
    g.minutes = common::FromCp1252(protocol::CommaField(p, 1).left(32));
    g.user = common::FromCp1252(protocol::CommaField(p, 2).left(255));
    // Each hexadecimal pair is one character of the password in its
    // scrambled form. A field that does not decode is no password at all:
    // the grant is refused (taking it as "none" would open the station).
    const QByteArray field = protocol::TrimBlanks(protocol::CommaField(p, 3));
    const auto pw = protocol::FromHexText(field);
    g.password = pw ? protocol::TrimBlanks(*pw) : QByteArray();
    g.passwordInvalid = !field.isEmpty() && !pw;
    c.GrantAccess(g);
}

void OnAddTime(Commands& c, const Payload& p) {
    c.AddTime(p.left(256), false);
}

void OnAddTimeSilent(Commands& c, const Payload& p) {
    c.AddTime(p.left(256), true);
}

void OnSyncTime(Commands& c, const Payload& p) {
    c.SyncTime(protocol::ParseDateTimeNumber(protocol::TrimBlanks(protocol::LimitPayload(p)))
                   .value_or(0.0));
}

void OnLock(Commands& c, const Payload&) {
    c.Lock();
}

void OnTimeRequestMode(Commands& c, const Payload& p) {
    const QByteArray limited = protocol::LimitPayload(p);
    const qsizetype comma = limited.indexOf(',');
    const QString mode =
        common::FromCp1252(protocol::TrimBlanks(comma < 0 ? limited : limited.left(comma)));
    const QString list =
        comma < 0 ? QString() : common::FromCp1252(protocol::TrimBlanks(limited.mid(comma + 1)));
    c.TimeRequestMode(mode, list);
}

template <int Code> void Machine(Commands& c, const Payload& p) {
    c.MachineCommand(Code, p);
}

template <int Code> void MachinePosted(Commands& c, const Payload&) {
    c.MachinePosted(Code);
}

// A file item: a clearing line has no payload and no block.
template <int Code> void MachineFile(Commands& c, const Payload& p) {
    const protocol::CodeInfo* info = protocol::FindCode(Code, protocol::Direction::ToClient);
    if (info->follows == protocol::Follows::BlockIfPayload && protocol::TrimBlanks(p).isEmpty())
        c.MachineCommand(Code, p);
    else
        c.MachineFile(Code, p);
}

constexpr auto OnTaskListQuery = Machine<tc::TaskListQuery>;
constexpr auto OnCloseTask = Machine<tc::CloseTask>;
constexpr auto OnSetWallpaperStyle = Machine<tc::SetWallpaperStyle>;
constexpr auto OnSetAutoStart = Machine<tc::SetAutoStart>;
constexpr auto OnSetTaskBarHidden = Machine<tc::SetTaskBarHidden>;
constexpr auto OnSetLogoProtect = Machine<tc::SetLogoProtect>;
constexpr auto OnSetDiskState = Machine<tc::SetDiskState>;
constexpr auto OnSetBannerDelay = Machine<tc::SetBannerDelay>;
constexpr auto OnDeleteBanner = Machine<tc::DeleteBanner>;
constexpr auto OnSendBackground = MachineFile<tc::SendBackground>;
constexpr auto OnSendAlarmSound = MachineFile<tc::SendAlarmSound>;
constexpr auto OnSendWallpaper = MachineFile<tc::SendWallpaper>;
constexpr auto OnSendBanner = MachineFile<tc::SendBanner>;
constexpr auto OnScreenQuery = MachinePosted<tc::ScreenQuery>;
constexpr auto OnCleanTasks = MachinePosted<tc::CleanTasks>;
constexpr auto OnConfigQuery = MachinePosted<tc::ConfigQuery>;

void OnSetAccountTag(Commands& c, const Payload& p) {
    c.SetAccountTag(common::FromCp1252(protocol::CommaField(protocol::LimitPayload(p), 1)));
}

void OnWithdrawAccess(Commands& c, const Payload&) {
    c.WithdrawAccess();
}

void OnNotice(Commands& c, const Payload& p) {
    c.Notice(common::FromCp1252(p.left(kMaxText)).trimmed());
}

void OnClockHint(Commands& c, const Payload& p) {
    c.ClockHint(common::FromCp1252(p.left(kMaxText)));
}

void OnSetServicePassword(Commands& c, const Payload& p) {
    c.SetServicePassword(p.left(kMaxText));
}

void OnCdListQuery(Commands& c, const Payload&) {
    c.CdListQuery();
}

void OnCdTray(Commands& c, const Payload& p) {
    if (p.isEmpty())
        return;
    const QChar letter = QChar(QLatin1Char(p[0])).toUpper();
    if (letter < u'A' || letter > u'Z')
        return;
    c.CdTray(letter, p.size() > 1 && p[1] == '1');
}

void OnSetVolume(Commands& c, const Payload& p) {
    const auto left = protocol::ParseHex(p.mid(0, 4));
    const auto right = protocol::ParseHex(p.mid(4, 4));
    if (!left || !right || p.size() < 8) {
        c.Refused(QStringLiteral("SetVolumen"),
                  QStringLiteral("NewMsg '") + common::FromCp1252(p.left(8)) +
                      QStringLiteral("' is not a valid integer value"));
        return;
    }
    c.SetVolume(static_cast<quint16>(*left), static_cast<quint16>(*right));
}

void OnVolumeQuery(Commands& c, const Payload&) {
    c.VolumeQuery();
}

void OnOpenRemote(Commands& c, const Payload& p) {
    c.OpenRemote(common::FromCp1252(p.left(kMaxText)));
}

void OnPinVerdict(Commands& c, const Payload& p) {
    c.PinVerdict(p.left(kMaxText));
}

void OnServiceMode(Commands& c, const Payload& p) {
    c.ServiceMode(p.isEmpty() ? 0 : static_cast<unsigned char>(p[0]) - '0');
}

void OnPinQuery(Commands& c, const Payload&) {
    c.PinQuery();
}

void OnSetTransparency(Commands& c, const Payload& p) {
    const auto a = protocol::ParseHex(p.left(2));
    c.SetTransparency(a && p.size() >= 1 ? static_cast<int>(*a) : 255);
}

void OnTransparencyQuery(Commands& c, const Payload&) {
    c.TransparencyQuery();
}

void OnSoftReinit(Commands& c, const Payload&) {
    c.SoftReinit();
}

void OnBlockMessageMode(Commands& c, const Payload& p) {
    c.BlockMessageMode(!p.isEmpty() && p[0] == '1');
}

void OnMacQuery(Commands& c, const Payload&) {
    c.MacQuery();
}

void OnAssignPin(Commands& c, const Payload& p) {
    c.AssignPin(p.left(6));
}

void OnLogQuery(Commands& c, const Payload&) {
    c.LogQuery();
}

// The database host of the café's membership system: not used here.
void OnDatabaseHost(Commands&, const Payload&) {}

void OnMemberId(Commands& c, const Payload& p) {
    c.MemberId(WholeNumber(protocol::TrimBlanks(p).left(20)));
}

void OnShowAdPage(Commands& c, const Payload&) {
    c.ShowAdPage();
}

void OnPriceList(Commands& c, const Payload&) {
    c.PriceList();
}

void OnAccountState(Commands& c, const Payload& p) {
    const auto answer = protocol::station::ParseAccountState(protocol::LimitPayload(p));
    if (!answer) {
        c.Refused(QStringLiteral("AccountState"), QStringLiteral("Estado de cuenta ilegible"));
        return;
    }
    c.AccountState(answer->minutes, common::FromCp1252(answer->amountText));
}

// --- the binding ------------------------------------------------------------

using Handler = void (*)(Commands&, const Payload&);

// Every server-to-station code of the table with its handler; a row without
// an On<Name> function above stops the build here.
constexpr std::array<Handler, 256> BuildHandlers() {
    std::array<Handler, 256> table{};
#define TARVINA_BIND_HANDLER(name, number, follows) table[number] = On##name;
    TARVINA_TO_CLIENT_CODES(TARVINA_BIND_HANDLER)
#undef TARVINA_BIND_HANDLER
    return table;
}

constexpr std::array<Handler, 256> kHandlers = BuildHandlers();

} // namespace

void Dispatcher::Dispatch(const QByteArray& line) {
    const protocol::ClientSideLine parsed = protocol::ParseAtClient(line);
    // A line of fewer than two characters has no code.
    const Handler handler =
        line.size() >= 2 && parsed.code > 0 && parsed.code < 256 ? kHandlers[parsed.code] : nullptr;
    if (!handler) {
        commands_.Unknown();
        return;
    }
    try {
        handler(commands_, parsed.payload);
    } catch (const std::exception& e) {
        commands_.Refused({}, QStringLiteral("NewMsg") + QString::fromLocal8Bit(e.what()));
    }
}

} // namespace tarvina::client
