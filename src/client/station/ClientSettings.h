#pragma once

#include "platform/Registry.h"

#include <QByteArray>
#include <QString>

namespace tarvina::client {

// The station's settings under the machine root. Read once at start, written
// back at an orderly exit.
struct ClientSettings {
    static constexpr char kKey[] = "\\Software\\Velt\\Tarvina";

    QByteArray password; // ScramblePassword form
    QString host = QStringLiteral("127.0.0.1");
    QString background = QStringLiteral("zu26x.gif");
    QString alarmSnd = QStringLiteral("alarm.wav");
    QString winBackground;
    int winBackgroundTile = 0;
    int winBackgroundStyle = 0;
    bool msgAtBlock = false;
    int alphaBlend = 255;
    int intDisconn = 2000;
    int intConn = 5000;
    int intNewConn = 1500;
    int timeout = 0;
    bool glbCtrlPanelInvisible = false;
    bool glbBarraInvisible = false;

    // The built-in values (password: the scrambled built-in word).
    static ClientSettings Defaults();

    // Reads every value over the defaults: a missing or mistyped integer or
    // boolean, and a negative interval, keeps the default; a missing text
    // reads as empty (the password only counts when non-empty).
    static ClientSettings Read(const platform::Registry& registry);

    // What the exit writes back (the two Glb values are not among them).
    // Returns false when any write failed; error names the first one.
    bool write(platform::Registry& registry, const QString& currentDir, const QString& exeName,
               int lockOpacity, QString* error = nullptr) const;
};

// The country and the screen-saver values of the current-user root.
inline constexpr char kInternationalKey[] = "\\Control Panel\\International";
inline constexpr char kDesktopKey[] = "\\Control Panel\\Desktop";
QString ReadCountry(const platform::Registry& registry);

} // namespace tarvina::client
