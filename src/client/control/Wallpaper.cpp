#include "client/control/Wallpaper.h"

#include "client/station/StationKeys.h"
#include "platform/Desktop.h"
#include "platform/Registry.h"

#include <QFileInfo>

namespace tarvina::client {

using platform::Root;

const QString Wallpaper::kFailure = QStringLiteral("Falla restauración de papel tapíz");

Wallpaper::Outcome Wallpaper::apply(const QString& path, int tile, int style) {
    if (path.isEmpty() || !path.endsWith(QStringLiteral(".bmp"), Qt::CaseInsensitive) ||
        !QFileInfo(path).isFile())
        return Outcome::NotSet;
    const bool same = keys::kWallpaper.value(registry_).compare(path, Qt::CaseInsensitive) == 0 &&
                      keys::kTileWallpaper.read(registry_) == QString::number(tile) &&
                      keys::kWallpaperStyle.read(registry_) == QString::number(style);
    const bool stored = same || storeValues(path, tile, style);
    const bool shown = desktop_.setWallpaper(path, platform::Desktop::ModeOf(tile, style));
    if (!stored || !shown)
        return Outcome::Failed;
    return same ? Outcome::Shown : Outcome::Written;
}

bool Wallpaper::storeValues(const QString& path, int tile, int style) {
    const QString tileText = QString::number(tile);
    const QString styleText = QString::number(style);
    const QString desktopKey = QString::fromLatin1(keys::kDesktopPath);
    const QString browserKey = QString::fromLatin1(keys::kBrowserDesktopPath);
    // The default user's copies: the store has no root of all users, so they
    // live in the machine's, under the name that root gives them.
    const QString defaultUser = QString::fromLatin1(keys::kDefaultUserPath);
    // One save for all of them; every write is tried even after one fails.
    platform::SaveBatch batch(registry_);
    bool ok = true;
    const auto write = [&](const auto& setting, Root root, const QString& key,
                           const QString& value) {
        ok = setting.in(root, key).write(registry_, value) && ok;
    };
    for (const auto& [root, prefix] :
         {std::pair{Root::CurrentUser, QString()}, std::pair{Root::LocalMachine, defaultUser}}) {
        for (const QString& key : {prefix + desktopKey, prefix + browserKey}) {
            write(keys::kWallpaper, root, key, path);
            write(keys::kTileWallpaper, root, key, tileText);
            write(keys::kWallpaperStyle, root, key, styleText);
        }
        write(keys::kBackupWallpaper, root, prefix + browserKey, path);
    }
    return batch.commit() && ok;
}

} // namespace tarvina::client
