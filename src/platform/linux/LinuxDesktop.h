#pragma once

#include "platform/Desktop.h"

#include <QByteArray>
#include <functional>
#include <memory>

namespace tarvina::platform {

class WindowSystem;

// A bitmap file read into 0xRRGGBB pixels, top row first.
struct Bitmap {
    int width = 0;
    int height = 0;
    QList<quint32> pixels;
};
// Reads an uncompressed Windows bitmap (1, 4, 8, 24 or 32 bits a pixel);
// false for anything else, a damaged file, or one larger than 16384 pixels
// a side.
bool DecodeBmp(const QByteArray& file, Bitmap* out);

// The absolute path an environment variable names, else the fallback.
QString PathFromEnvironment(const char* variable, const char* fallback);

struct LinuxDesktopSetup {
    QByteArray display; // the X display (empty: $DISPLAY)
    // The list of kernel device names kept from the customer, one a line,
    // which the package's udev rule reads (it marks them UDISKS_IGNORE, so
    // no file manager shows or mounts them).
    QString hiddenDrivesFile = QStringLiteral("/etc/tarvina/hidden-drives");
    // The kernel device name ("sdb") of a drive letter; empty when none.
    std::function<QString(QChar)> deviceOf;
    // The greeter's settings (its background is the picture shown when the
    // computer starts) and the boot splash theme (shown while it stops).
    // TARVINA_GREETER_CONF and TARVINA_PLYMOUTH_THEME name others (another
    // greeter, a theme kept elsewhere).
    QString greeterConf =
        PathFromEnvironment("TARVINA_GREETER_CONF", "/etc/lightdm/lightdm-gtk-greeter.conf");
    QString plymouthTheme = PathFromEnvironment("TARVINA_PLYMOUTH_THEME",
                                                "/usr/share/plymouth/themes/default.plymouth");
    // Also tell the common desktops (GNOME, Cinnamon, MATE through
    // gsettings; Xfce through xfconf-query) about the wallpaper.
    bool desktopSettings = true;
};

// The Linux meaning of the station's desktop rules: the task bar is the
// desktop's dock windows; the screen saver is the X server's; the wallpaper
// is the root window's background (seen wherever no desktop program draws
// its own) and the common desktops' setting; hidden drives go to the file
// the package's udev rule reads; the logos are the greeter's background and
// the boot splash picture.
class LinuxDesktop final : public Desktop {
public:
    LinuxDesktop(WindowSystem& windows, LinuxDesktopSetup setup);
    ~LinuxDesktop() override;
    LinuxDesktop(const LinuxDesktop&) = delete;
    LinuxDesktop& operator=(const LinuxDesktop&) = delete;

    void setTaskBarHidden(bool hidden) override;
    bool suspendScreenSaver() override;
    void restoreScreenSaver() override;
    bool setWallpaper(const QString& path, WallpaperMode mode) override;
    bool setHiddenDrives(quint32 mask, QString* error) override;
    QList<Logo> logos() override;

private:
    struct X;
    bool paintRoot(const Bitmap& bmp, WallpaperMode mode);
    void tellDesktops(const QString& path, WallpaperMode mode);

    WindowSystem& windows_;
    LinuxDesktopSetup setup_;
    std::unique_ptr<X> x_;
};

} // namespace tarvina::platform
