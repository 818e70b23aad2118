#pragma once

#include "client/station/StationKeys.h"
#include "platform/LinkSecurity.h"
#include "platform/Registry.h"

#include <QByteArray>
#include <QString>

namespace tarvina::client {

// The station's settings under the machine root. Read once at start, written
// back at an orderly exit.
struct ClientSettings {
    QByteArray password; // ScramblePassword form
    QString host = keys::kHost.fallback();
    QString background = keys::kBackground.fallback();
    QString alarmSnd = keys::kAlarmSnd.fallback();
    QString winBackground;
    int winBackgroundTile = keys::kWinBackgroundTile.fallback();
    int winBackgroundStyle = keys::kWinBackgroundStyle.fallback();
    bool msgAtBlock = keys::kMsgAtBlock.fallback();
    int alphaBlend = keys::kAlphaBlend.fallback();
    int intDisconn = keys::kIntDisconn.fallback();
    int intConn = keys::kIntConn.fallback();
    int intNewConn = keys::kIntNewConn.fallback();
    int timeout = keys::kTimeout.fallback();
    bool glbCtrlPanelInvisible = keys::kGlbCtrlPanelInvisible.fallback();
    bool glbBarraInvisible = keys::kGlbBarraInvisible.fallback();
    // The clean desktop (written by the configuration dialog, not at exit).
    bool limpiarEscritorio = keys::kLimpiarEscritorio.fallback();
    QString modeloEscritorio = keys::kModeloEscritorio.fallback();
    // The advertising page's host; empty: none (read only, like the two above).
    QString publicidadHost;
    // The network key's 24 characters; empty: none (the link stays plain).
    QByteArray claveRed;

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

// The link the settings ask for: TLS with the key's PSK, or plain.
platform::LinkSecurity SecurityOf(const ClientSettings& settings);

// The desktop's country ("No%20definido" when it has none).
QString ReadCountry(const platform::Registry& registry);

} // namespace tarvina::client
