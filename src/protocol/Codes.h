#pragma once

#include <span>

namespace tarvina::protocol {

// Which way a command travels: ToClient lines are "%02X"+payload, ToServer
// lines are "R%02X"+payload.
enum class Direction { ToClient, ToServer };

// What follows the line on the same stream, so that a reader that does not
// handle a command still knows what it must consume.
enum class Follows {
    Nothing,
    Block,          // a 4-byte length and that many bytes
    BlockIfPayload, // a block only when the line has a payload (clearing sends none)
    ConfigLayout,   // seven lines, a 4-byte mask, a counted list of (4-byte number, line)
    CountedLines,   // a 4-byte count and that many lines
};

struct CodeInfo {
    int code;
    const char* name;
    Direction direction;
    Follows follows = Follows::Nothing;
};

// The code table, one row per code: X(Name, number, what follows the line).
// Append-only: a code once published keeps its number, name and direction,
// because stations of older versions stay in the room for years. A new
// server-to-station code must also get its handler in the station's
// dispatcher, or the station does not build.
//
// Server to station ("%02X" + payload).
#define TARVINA_TO_CLIENT_CODES(X)                                                                 \
    X(Hello, 0x01, Nothing)                                                                        \
    X(StatusQuery, 0x02, Nothing)                                                                  \
    X(ScheduleShutdown, 0x03, Nothing)                                                             \
    X(GrantAccess, 0x04, Nothing)                                                                  \
    X(AddTime, 0x06, Nothing)                                                                      \
    X(SyncTime, 0x07, Nothing)                                                                     \
    X(Lock, 0x08, Nothing)                                                                         \
    X(TaskListQuery, 0x09, Nothing)                                                                \
    X(TimeRequestMode, 0x0A, Nothing)                                                              \
    X(CloseTask, 0x10, Nothing)                                                                    \
    X(SetAccountTag, 0x11, Nothing)                                                                \
    X(ScreenQuery, 0x12, Nothing)                                                                  \
    X(WithdrawAccess, 0x13, Nothing)                                                               \
    X(Notice, 0x14, Nothing)                                                                       \
    X(CleanTasks, 0x15, Nothing)                                                                   \
    X(ClockHint, 0x16, Nothing)                                                                    \
    X(SetServicePassword, 0x20, Nothing)                                                           \
    X(ConfigQuery, 0x21, Nothing)                                                                  \
    X(SendBackground, 0x22, BlockIfPayload)                                                        \
    X(SendAlarmSound, 0x23, BlockIfPayload)                                                        \
    X(SendWallpaper, 0x24, BlockIfPayload)                                                         \
    X(SetWallpaperStyle, 0x25, Nothing)                                                            \
    X(SetAutoStart, 0x26, Nothing)                                                                 \
    X(SetTaskBarHidden, 0x27, Nothing)                                                             \
    X(SetLogoProtect, 0x28, Nothing)                                                               \
    X(SetDiskState, 0x29, Nothing)                                                                 \
    X(SendBanner, 0x30, Block)                                                                     \
    X(SetBannerDelay, 0x31, Nothing)                                                               \
    X(DeleteBanner, 0x32, Nothing)                                                                 \
    X(CdListQuery, 0x33, Nothing)                                                                  \
    X(CdTray, 0x34, Nothing)                                                                       \
    X(SetVolume, 0x35, Nothing)                                                                    \
    X(VolumeQuery, 0x36, Nothing)                                                                  \
    X(OpenRemote, 0x37, Nothing)                                                                   \
    X(PinVerdict, 0x39, Nothing)                                                                   \
    X(ServiceMode, 0x40, Nothing)                                                                  \
    X(PinQuery, 0x41, Nothing)                                                                     \
    X(SetTransparency, 0x42, Nothing)                                                              \
    X(TransparencyQuery, 0x43, Nothing)                                                            \
    X(SoftReinit, 0x44, Nothing)                                                                   \
    X(BlockMessageMode, 0x46, Nothing)                                                             \
    X(MacQuery, 0x48, Nothing)                                                                     \
    X(AssignPin, 0x49, Nothing)                                                                    \
    X(AddTimeSilent, 0x50, Nothing)                                                                \
    X(LogQuery, 0x51, Nothing)                                                                     \
    X(DatabaseHost, 0x52, Nothing)                                                                 \
    X(MemberId, 0x53, Nothing)                                                                     \
    X(ShowAdPage, 0x54, Nothing)                                                                   \
    X(PriceList, 0x55, Block)                                                                      \
    X(AccountState, 0x56, Nothing)

// Station to server ("R%02X" + payload).
#define TARVINA_TO_SERVER_CODES(X)                                                                 \
    X(Identify, 0x01, Nothing)                                                                     \
    X(StatusReport, 0x02, Nothing)                                                                 \
    X(SessionStarted, 0x04, Nothing)                                                               \
    X(TimeRequest, 0x05, Nothing)                                                                  \
    X(TimeAdded, 0x06, Nothing)                                                                    \
    X(TaskList, 0x09, Nothing)                                                                     \
    X(Screen, 0x12, Block)                                                                         \
    X(ClientMessage, 0x13, Nothing)                                                                \
    X(FreeMessage, 0x14, Block)                                                                    \
    X(ConfigReport, 0x21, ConfigLayout)                                                            \
    X(CdList, 0x33, Nothing)                                                                       \
    X(VolumeReport, 0x36, Nothing)                                                                 \
    X(PinEntered, 0x38, Nothing)                                                                   \
    X(CurrentPin, 0x41, Nothing)                                                                   \
    X(TransparencyReport, 0x43, Nothing)                                                           \
    X(TaskListTagged, 0x45, Nothing)                                                               \
    X(MacReport, 0x48, Nothing)                                                                    \
    X(PinAssigned, 0x49, Nothing)                                                                  \
    X(LogReport, 0x51, CountedLines)                                                               \
    X(AccountQuery, 0x55, Nothing)

#define TARVINA_CODE_CONSTANT(name, number, follows) constexpr int name = number;
namespace tc {
TARVINA_TO_CLIENT_CODES(TARVINA_CODE_CONSTANT)
} // namespace tc
namespace ts {
TARVINA_TO_SERVER_CODES(TARVINA_CODE_CONSTANT)
} // namespace ts
#undef TARVINA_CODE_CONSTANT

// Every code of both directions, in table order.
std::span<const CodeInfo> AllCodes();

// nullptr when the code is unassigned in that direction.
const CodeInfo* FindCode(int code, Direction d);

} // namespace tarvina::protocol
