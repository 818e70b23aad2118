#include "client/control/Wallpaper.h"

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
    const QString desktopKey = QString::fromLatin1(kDesktopKey);
    const QString tileText = QString::number(tile);
    const QString styleText = QString::number(style);
    const bool same =
        registry_.readString(Root::CurrentUser, desktopKey, QStringLiteral("Wallpaper"))
                .value_or(QString())
                .compare(path, Qt::CaseInsensitive) == 0 &&
        registry_.readString(Root::CurrentUser, desktopKey, QStringLiteral("TileWallpaper")) ==
            tileText &&
        registry_.readString(Root::CurrentUser, desktopKey, QStringLiteral("WallpaperStyle")) ==
            styleText;
    const bool stored = same || storeValues(path, tile, style);
    const bool shown = desktop_.setWallpaper(path, platform::Desktop::ModeOf(tile, style));
    if (!stored || !shown)
        return Outcome::Failed;
    return same ? Outcome::Shown : Outcome::Written;
}

bool Wallpaper::storeValues(const QString& path, int tile, int style) {
    const QString tileText = QString::number(tile);
    const QString styleText = QString::number(style);
    const QString desktopKey = QString::fromLatin1(kDesktopKey);
    const QString browserKey = QString::fromLatin1(kBrowserKey);
    const QString defaultUser = QString::fromLatin1(kDefaultUser);
    // One save for all of them; every write is tried even after one fails.
    platform::SaveBatch batch(registry_);
    bool ok = true;
    const auto write = [&](Root root, const QString& key, const char* name, const QString& value) {
        ok = registry_.writeString(root, key, QString::fromLatin1(name), value) && ok;
    };
    for (const auto& [root, prefix] :
         {std::pair{Root::CurrentUser, QString()}, std::pair{Root::LocalMachine, defaultUser}}) {
        for (const QString& key : {prefix + desktopKey, prefix + browserKey}) {
            write(root, key, "Wallpaper", path);
            write(root, key, "TileWallpaper", tileText);
            write(root, key, "WallpaperStyle", styleText);
        }
        write(root, prefix + browserKey, "BackupWallpaper", path);
    }
    return batch.commit() && ok;
}

} // namespace tarvina::client
