#pragma once

#include <QString>

namespace tarvina::platform {
class Desktop;
class Registry;
} // namespace tarvina::platform

namespace tarvina::client {

// The café's wallpaper held on the desktop: at the start, at every lock and
// whenever the dialog or the cashier changes it. Only a ".bmp" file that
// exists counts; anything else leaves the desktop alone.
//
// The values the desktop keeps ("Wallpaper", "TileWallpaper",
// "WallpaperStyle" of "\Control Panel\Desktop", and the same plus
// "BackupWallpaper" of the Internet Explorer desktop key) are written for the
// current user and for the default user when they differ from the picture
// and its style. The picture itself is shown again every time: here the
// desktop draws its background from its own settings, not from these values,
// so a customer's change does not show in them.
class Wallpaper {
public:
    // Said to the cashier when the wallpaper could not be put back.
    static const QString kFailure;

    enum class Outcome {
        NotSet,  // no wallpaper, a missing file, or not a ".bmp"
        Shown,   // values as they were; the picture shown again
        Written, // values written and the picture shown
        Failed,  // a value could not be stored or the picture not shown
    };

    Wallpaper(platform::Registry& registry, platform::Desktop& desktop)
        : registry_(registry), desktop_(desktop) {}

    // path: the wallpaper file, already resolved against the station's
    // folder; tile and style as stored (tile 1 tiles, style 2 stretches).
    Outcome apply(const QString& path, int tile, int style);

private:
    bool storeValues(const QString& path, int tile, int style);

    platform::Registry& registry_;
    platform::Desktop& desktop_;
};

} // namespace tarvina::client
