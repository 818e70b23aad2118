#pragma once

#include "platform/Desktop.h"

#include <QStringList>

namespace tarvina::platform {

// Records what the station asked of the desktop.
class FakeDesktop final : public Desktop {
public:
    QList<bool> taskBarCalls; // true: hidden
    int screenSaverSuspends = 0;
    int screenSaverRestores = 0;
    struct WallpaperCall {
        QString path;
        WallpaperMode mode;
    };
    QList<WallpaperCall> wallpapers;
    bool wallpaperFails = false;
    QList<quint32> hiddenDrives;
    bool hiddenDrivesFail = false;
    QList<Logo> logoFiles;

    void setTaskBarHidden(bool hidden) override { taskBarCalls << hidden; }
    bool suspendScreenSaver() override {
        ++screenSaverSuspends;
        return true;
    }
    void restoreScreenSaver() override { ++screenSaverRestores; }
    bool setWallpaper(const QString& path, WallpaperMode mode) override {
        wallpapers << WallpaperCall{path, mode};
        return !wallpaperFails;
    }
    bool setHiddenDrives(quint32 mask, QString* error) override {
        hiddenDrives << mask;
        if (hiddenDrivesFail && error)
            *error = QStringLiteral("Permission denied");
        return !hiddenDrivesFail;
    }
    QList<Logo> logos() override { return logoFiles; }
};

} // namespace tarvina::platform
