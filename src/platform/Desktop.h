#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

namespace tarvina::platform {

// What the station changes on the customer's desktop beyond its own windows:
// the task bar, the screen saver, the wallpaper, drives kept from the
// customer, and the pictures the system shows while it starts and stops.
// The settings themselves stay where the station keeps them (its registry
// store); this is only their effect on the running desktop.
class Desktop {
public:
    virtual ~Desktop() = default;

    // The desktop's panels (task bars, docks) hidden or shown again.
    virtual void setTaskBarHidden(bool hidden) = 0;

    // The screen saver off while the station runs; restoreScreenSaver puts
    // back what suspendScreenSaver found. False when there is none to switch.
    virtual bool suspendScreenSaver() = 0;
    virtual void restoreScreenSaver() = 0;

    enum class WallpaperMode { Centred, Tiled, Stretched };
    // The stored tile and style numbers: tile 1 tiles, style 2 stretches,
    // anything else centres.
    static WallpaperMode ModeOf(int tile, int style) {
        if (tile == 1)
            return WallpaperMode::Tiled;
        if (style == 2)
            return WallpaperMode::Stretched;
        return WallpaperMode::Centred;
    }
    // Shows the picture as the desktop background; false when it could not
    // be read or shown anywhere.
    virtual bool setWallpaper(const QString& path, WallpaperMode mode) = 0;

    // Drive letters kept from the customer: bit n hides letter "A" + n.
    // False, with the reason in error, when they could not be hidden.
    virtual bool setHiddenDrives(quint32 mask, QString* error) = 0;

    // The system's pictures of its start and its shut-down, where it is set
    // up to show one: what the station backs up and puts back.
    struct Logo {
        enum class Role { Start, ShutDown, Exit };
        Role role;
        QString path;
    };
    virtual QList<Logo> logos() = 0;
};

} // namespace tarvina::platform
