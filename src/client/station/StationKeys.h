#pragma once

#include "platform/Setting.h"

// Every value the station reads or writes in the store, each with its name as
// stored, its form and the default a read falls back to. Names are compared
// without regard to case but keep the spelling of their first write, so a
// name is spelled here as it has always been written.
namespace tarvina::client::keys {

using platform::Root;
using platform::SettingKey;
using platform::SettingValue;
namespace form = platform::form;

// The station's own settings, under the machine root.
inline constexpr char kStationPath[] = "\\Software\\Velt\\Tarvina";
// Built at start rather than at compile time: a view over a named array is
// not a constant expression once the undefined-behaviour checks are on.
inline const SettingKey kStation{Root::LocalMachine, kStationPath};

// Scrambled as ScramblePassword leaves it; the built-in word stands while
// none is stored (ClientSettings::Defaults).
inline const SettingValue<form::Text> kPassword{kStation, "Password"};
inline const SettingValue<form::Text> kHost{kStation, "Host", "127.0.0.1"};
inline const SettingValue<form::Text> kBackground{kStation, "Background", "zu26x.gif"};
inline const SettingValue<form::Text> kAlarmSnd{kStation, "AlarmSnd", "alarm.wav"};
inline const SettingValue<form::Text> kWinBackground{kStation, "WinBackground"};
inline const SettingValue<form::NumberText> kWinBackgroundTile{kStation, "WinBackgroundTile", 0};
inline const SettingValue<form::NumberText> kWinBackgroundStyle{kStation, "WinBackgroundStyle", 0};
inline const SettingValue<form::Flag> kMsgAtBlock{kStation, "MsgAtBlock", false};
inline const SettingValue<form::Integer> kAlphaBlend{kStation, "AlphaBlend", 255};
// Connection intervals in milliseconds.
inline const SettingValue<form::Integer> kIntDisconn{kStation, "IntDisconn", 2000};
inline const SettingValue<form::Integer> kIntConn{kStation, "IntConn", 5000};
inline const SettingValue<form::Integer> kIntNewConn{kStation, "IntNewConn", 1500};
inline const SettingValue<form::Integer> kTimeout{kStation, "timeout", 0};
inline const SettingValue<form::Flag> kGlbCtrlPanelInvisible{kStation, "GlbCtrlPanelInvisible",
                                                             false};
inline const SettingValue<form::Flag> kGlbBarraInvisible{kStation, "GlbBarraInvisible", false};
// Where the station last ran from, for the tools that find it.
inline const SettingValue<form::Text> kCurDir{kStation, "CurDir"};
inline const SettingValue<form::Text> kPuestoExeName{kStation, "PuestoExeName"};
// Whether the start and shut-down pictures are put back at the close.
inline const SettingValue<form::Flag> kProtectWinLogo{kStation, "ProtectWinLogo", false};

// The lock screen's rotating pictures: each value's name is a picture's
// file, its integer the seconds it stays.
inline constexpr char kBannerListPath[] = "\\Software\\Velt\\Tarvina\\Background";
inline const SettingKey kBannerList{Root::LocalMachine, kBannerListPath};

// The tasks open at the first grant after the start, under the user's root.
inline const SettingKey kUserStation{Root::CurrentUser, kStationPath};
inline const SettingValue<form::Text> kClientTasks{kUserStation, "ClientTasks"};

// The desktop's values.
inline const SettingKey kInternational{Root::CurrentUser, "\\Control Panel\\International"};
// Empty reads as the default too.
inline const SettingValue<form::Text> kCountry{kInternational, "sCountry", "No%20definido"};

inline constexpr char kDesktopPath[] = "\\Control Panel\\Desktop";
inline const SettingKey kDesktop{Root::CurrentUser, kDesktopPath};
inline const SettingValue<form::Text> kScreenSaveActive{kDesktop, "ScreenSaveActive"};
// The wallpaper's values, kept alike under the desktop key and the browser's
// desktop key, for the current user and for the default user (a copy under
// the machine root, with kDefaultUserPath before each path).
inline constexpr char kBrowserDesktopPath[] =
    "\\Software\\Microsoft\\Internet Explorer\\Desktop\\General";
inline constexpr char kDefaultUserPath[] = "\\.DEFAULT";
inline const SettingValue<form::Text> kWallpaper{kDesktop, "Wallpaper"};
inline const SettingValue<form::Text> kTileWallpaper{kDesktop, "TileWallpaper"};
inline const SettingValue<form::Text> kWallpaperStyle{kDesktop, "WallpaperStyle"};
// Only under the browser's desktop key.
inline const SettingValue<form::Text> kBackupWallpaper{{Root::CurrentUser, kBrowserDesktopPath},
                                                       "BackupWallpaper"};

// The desktop's restrictions: a sub-key of this for each group of policies.
#define TARVINA_POLICIES_PATH "\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\"
inline constexpr char kPoliciesPath[] = TARVINA_POLICIES_PATH;
inline constexpr char kExplorerPoliciesPath[] = TARVINA_POLICIES_PATH "Explorer";
#undef TARVINA_POLICIES_PATH
// The drives hidden from the file manager, one bit a drive from A; older
// versions stored it as an integer.
inline const SettingValue<form::RawMask> kNoDrives{
    {Root::CurrentUser, kExplorerPoliciesPath}, "NoDrives", 0};

// The desktop icons shown: each a key of the namespace, present while shown,
// with the value its folder needs.
inline const SettingValue<form::Text> kRecycleBin{
    {Root::LocalMachine, "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Desktop\\"
                         "NameSpace\\{645FF040-5081-101B-9F08-00AA002F954E}"},
    "",
    "Recycle Bin"};
inline const SettingValue<form::Text> kMyDocuments{
    {Root::LocalMachine, "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Desktop\\"
                         "NameSpace\\{450D8FBA-AD25-11D0-98A8-0800361B1103}"},
    "Removal Message",
    "@mydocs.dll,-900"};

// A clean desktop after each use: the customer's home made to match the
// model folder, for the whole machine like the host.
inline const SettingValue<form::Flag> kLimpiarEscritorio{kStation, "LimpiarEscritorio", false};
inline const SettingValue<form::Text> kModeloEscritorio{kStation, "ModeloEscritorio",
                                                        "/etc/tarvina/escritorio"};

// The host of the advertising page that code 54 opens ("anuncios.example"
// or "anuncios.example:8080"); empty: the station has no advertising page.
// Set by the café's technician, never written by the station.
inline const SettingValue<form::Text> kPublicidadHost{kStation, "PublicidadHost"};

// The café's network key, machine-wide: with one the station speaks only
// encrypted. Kept scrambled like the passwords; a key written plainly (by the
// package's configuration) is read too and stored scrambled at the next exit.
inline const SettingValue<form::Text> kClaveRed{kStation, "ClaveRed"};

} // namespace tarvina::client::keys
