#pragma once

#include "client/control/Banners.h"
#include "client/control/ReceivedFiles.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

namespace tarvina::platform {
class Autostart;
class Desktop;
class Registry;
} // namespace tarvina::platform

namespace tarvina::client {

struct ClientSettings;

// The remote configuration of a station: the report the server's editor
// reads (21) and the items it sends back (22 to 32), applied to the
// settings, the desktop, the start with the session and the banner list.
// Main thread (it changes the settings).
class RemoteConfig {
public:
    struct Parts {
        platform::Registry& registry;
        platform::Desktop& desktop;
        platform::Autostart& autostart;
        ReceivedFiles& files;
        Banners& banners;
        // The backup of the start and exit pictures; false when it failed.
        std::function<bool()> backupLogos;
    };
    explicit RemoteConfig(Parts parts) : p_(std::move(parts)) {}

    // What follows the line "R21": seven lines (lock picture, alarm sound,
    // start with the session, hidden task bar, logo protection, wallpaper,
    // wallpaper style), the hidden-drives mask as a 4-byte value, the count
    // of banners as a 4-byte value and, for each, its seconds as a 4-byte
    // value and its file name as a line.
    QByteArray report(const ClientSettings& s) const;

    struct Result {
        // Empty when the item was applied; else the step and a Spanish reason.
        QString step;
        QString error;
        // The lock screen's picture changed (22): the name now in force,
        // empty when cleared.
        std::optional<QString> lockPicture;
        bool bannersChanged = false;
        // The wallpaper could not be put on the desktop (24, 25): the
        // cashier is told, the item itself is kept.
        bool wallpaperFailed = false;
        // The mask is stored but the desktop could not hide the drives (29):
        // the reason, for the log and the cashier.
        QString hiddenDrivesFailed;
        bool failed() const { return !error.isEmpty(); }
    };
    // One item; block: the file that followed the line (22, 23, 24, 30),
    // nullopt for a clearing line.
    Result apply(int code, const QByteArray& payload, const std::optional<QByteArray>& block,
                 ClientSettings& s);

    // A file item (22, 23, 24) whose block did not arrive or could not be
    // written: a failure, with the name recorded where the item keeps it.
    Result transferFailed(int code, const QString& serverPath, const QString& why,
                          ClientSettings& s);

    // The wallpaper of the settings on the desktop and in the desktop's
    // stored values (nothing when none is set); false when it failed.
    bool applyWallpaper(const ClientSettings& s);

private:
    Result receiveFile(int code, const QByteArray& payload, const std::optional<QByteArray>& block,
                       ClientSettings& s);
    Result banner(int code, const QByteArray& payload, const std::optional<QByteArray>& block);

    Parts p_;
};

} // namespace tarvina::client
