#include "protocol/Codes.h"

namespace tarvina::protocol {

namespace {

constexpr Direction C = Direction::ToClient;
constexpr Direction S = Direction::ToServer;

// Append new codes at the end only.
constexpr CodeInfo kCodes[] = {
    {tc::Hello, "Hello", C},
    {tc::StatusQuery, "StatusQuery", C},
    {tc::ScheduleShutdown, "ScheduleShutdown", C},
    {tc::GrantAccess, "GrantAccess", C},
    {tc::AddTime, "AddTime", C},
    {tc::SyncTime, "SyncTime", C},
    {tc::Lock, "Lock", C},
    {tc::TaskListQuery, "TaskListQuery", C},
    {tc::TimeRequestMode, "TimeRequestMode", C},
    {tc::CloseTask, "CloseTask", C},
    {tc::SetAccountTag, "SetAccountTag", C},
    {tc::ScreenQuery, "ScreenQuery", C},
    {tc::WithdrawAccess, "WithdrawAccess", C},
    {tc::Notice, "Notice", C},
    {tc::CleanTasks, "CleanTasks", C},
    {tc::ClockHint, "ClockHint", C},
    {tc::SetServicePassword, "SetServicePassword", C},
    {tc::ConfigQuery, "ConfigQuery", C},
    {tc::SendBackground, "SendBackground", C, Follows::BlockIfPayload},
    {tc::SendAlarmSound, "SendAlarmSound", C, Follows::BlockIfPayload},
    {tc::SendWallpaper, "SendWallpaper", C, Follows::BlockIfPayload},
    {tc::SetWallpaperStyle, "SetWallpaperStyle", C},
    {tc::SetAutoStart, "SetAutoStart", C},
    {tc::SetTaskBarHidden, "SetTaskBarHidden", C},
    {tc::SetLogoProtect, "SetLogoProtect", C},
    {tc::SetDiskState, "SetDiskState", C},
    {tc::SendBanner, "SendBanner", C, Follows::Block},
    {tc::SetBannerDelay, "SetBannerDelay", C},
    {tc::DeleteBanner, "DeleteBanner", C},
    {tc::CdListQuery, "CdListQuery", C},
    {tc::CdTray, "CdTray", C},
    {tc::SetVolume, "SetVolume", C},
    {tc::VolumeQuery, "VolumeQuery", C},
    {tc::OpenRemote, "OpenRemote", C},
    {tc::PinVerdict, "PinVerdict", C},
    {tc::ServiceMode, "ServiceMode", C},
    {tc::PinQuery, "PinQuery", C},
    {tc::SetTransparency, "SetTransparency", C},
    {tc::TransparencyQuery, "TransparencyQuery", C},
    {tc::SoftReinit, "SoftReinit", C},
    {tc::BlockMessageMode, "BlockMessageMode", C},
    {tc::MacQuery, "MacQuery", C},
    {tc::AssignPin, "AssignPin", C},
    {tc::AddTimeSilent, "AddTimeSilent", C},
    {tc::LogQuery, "LogQuery", C},
    {tc::DatabaseHost, "DatabaseHost", C},
    {tc::MemberId, "MemberId", C},
    {tc::ShowAdPage, "ShowAdPage", C},

    {ts::Identify, "Identify", S},
    {ts::StatusReport, "StatusReport", S},
    {ts::SessionStarted, "SessionStarted", S},
    {ts::TimeRequest, "TimeRequest", S},
    {ts::TimeAdded, "TimeAdded", S},
    {ts::TaskList, "TaskList", S},
    {ts::Screen, "Screen", S, Follows::Block},
    {ts::ClientMessage, "ClientMessage", S},
    {ts::FreeMessage, "FreeMessage", S, Follows::Block},
    {ts::ConfigReport, "ConfigReport", S, Follows::ConfigLayout},
    {ts::CdList, "CdList", S},
    {ts::VolumeReport, "VolumeReport", S},
    {ts::PinEntered, "PinEntered", S},
    {ts::CurrentPin, "CurrentPin", S},
    {ts::TransparencyReport, "TransparencyReport", S},
    {ts::TaskListTagged, "TaskListTagged", S},
    {ts::MacReport, "MacReport", S},
    {ts::PinAssigned, "PinAssigned", S},
    {ts::LogReport, "LogReport", S, Follows::CountedLines},
};

} // namespace

std::span<const CodeInfo> AllCodes() {
    return kCodes;
}

const CodeInfo* FindCode(int code, Direction d) {
    for (const CodeInfo& info : kCodes) {
        if (info.code == code && info.direction == d)
            return &info;
    }
    return nullptr;
}

} // namespace tarvina::protocol
