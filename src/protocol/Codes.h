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

// Server to client.
namespace tc {
constexpr int Hello = 0x01;
constexpr int StatusQuery = 0x02;
constexpr int ScheduleShutdown = 0x03;
constexpr int GrantAccess = 0x04;
constexpr int AddTime = 0x06;
constexpr int SyncTime = 0x07;
constexpr int Lock = 0x08;
constexpr int TaskListQuery = 0x09;
constexpr int TimeRequestMode = 0x0A;
constexpr int CloseTask = 0x10;
constexpr int SetAccountTag = 0x11;
constexpr int ScreenQuery = 0x12;
constexpr int WithdrawAccess = 0x13;
constexpr int Notice = 0x14;
constexpr int CleanTasks = 0x15;
constexpr int ClockHint = 0x16;
constexpr int SetServicePassword = 0x20;
constexpr int ConfigQuery = 0x21;
constexpr int SendBackground = 0x22;
constexpr int SendAlarmSound = 0x23;
constexpr int SendWallpaper = 0x24;
constexpr int SetWallpaperStyle = 0x25;
constexpr int SetAutoStart = 0x26;
constexpr int SetTaskBarHidden = 0x27;
constexpr int SetLogoProtect = 0x28;
constexpr int SetDiskState = 0x29;
constexpr int SendBanner = 0x30;
constexpr int SetBannerDelay = 0x31;
constexpr int DeleteBanner = 0x32;
constexpr int CdListQuery = 0x33;
constexpr int CdTray = 0x34;
constexpr int SetVolume = 0x35;
constexpr int VolumeQuery = 0x36;
constexpr int OpenRemote = 0x37;
constexpr int PinVerdict = 0x39;
constexpr int ServiceMode = 0x40;
constexpr int PinQuery = 0x41;
constexpr int SetTransparency = 0x42;
constexpr int TransparencyQuery = 0x43;
constexpr int SoftReinit = 0x44;
constexpr int BlockMessageMode = 0x46;
constexpr int MacQuery = 0x48;
constexpr int AssignPin = 0x49;
constexpr int AddTimeSilent = 0x50;
constexpr int LogQuery = 0x51;
constexpr int DatabaseHost = 0x52;
constexpr int MemberId = 0x53;
constexpr int ShowAdPage = 0x54;
} // namespace tc

// Client to server (written with the leading "R").
namespace ts {
constexpr int Identify = 0x01;
constexpr int StatusReport = 0x02;
constexpr int SessionStarted = 0x04;
constexpr int TimeRequest = 0x05;
constexpr int TimeAdded = 0x06;
constexpr int TaskList = 0x09;
constexpr int Screen = 0x12;
constexpr int ClientMessage = 0x13;
constexpr int FreeMessage = 0x14;
constexpr int ConfigReport = 0x21;
constexpr int CdList = 0x33;
constexpr int VolumeReport = 0x36;
constexpr int PinEntered = 0x38;
constexpr int CurrentPin = 0x41;
constexpr int TransparencyReport = 0x43;
constexpr int TaskListTagged = 0x45;
constexpr int MacReport = 0x48;
constexpr int PinAssigned = 0x49;
constexpr int LogReport = 0x51;
} // namespace ts

// Every code of both directions. Append-only: a code once published keeps its
// number, name and direction, because stations of older versions stay in the
// room for years.
std::span<const CodeInfo> AllCodes();

// nullptr when the code is unassigned in that direction.
const CodeInfo* FindCode(int code, Direction d);

} // namespace tarvina::protocol
