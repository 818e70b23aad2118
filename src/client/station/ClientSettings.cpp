#include "client/station/ClientSettings.h"

#include "common/Cp1252.h"
#include "common/Password.h"
#include "platform/NetworkKey.h"

namespace tarvina::client {

using namespace keys;

namespace {

// Intervals: a negative one keeps the default.
int ReadInterval(const platform::Registry& r, const SettingValue<form::Integer>& setting) {
    const int v = setting.value(r);
    return v < 0 ? setting.fallback() : v;
}

} // namespace

ClientSettings ClientSettings::Defaults() {
    ClientSettings s;
    s.password = common::ScramblePassword("mirlo");
    return s;
}

ClientSettings ClientSettings::Read(const platform::Registry& r) {
    ClientSettings s = Defaults();
    const QString pw = kPassword.value(r);
    if (!pw.isEmpty())
        s.password = common::ToCp1252(pw);
    // Without the key the built-in values stand; with it, a missing text reads
    // as empty rather than falling back.
    if (r.keyExists(kStation.root, kStation.text())) {
        s.host = kHost.read(r).value_or(QString());
        s.background = kBackground.read(r).value_or(QString());
        s.alarmSnd = kAlarmSnd.read(r).value_or(QString());
    }
    s.winBackground = kWinBackground.value(r);
    s.winBackgroundTile = kWinBackgroundTile.value(r);
    s.winBackgroundStyle = kWinBackgroundStyle.value(r);
    s.msgAtBlock = kMsgAtBlock.value(r);
    s.alphaBlend = kAlphaBlend.value(r);
    if (s.alphaBlend < 0 || s.alphaBlend > 255)
        s.alphaBlend = kAlphaBlend.fallback();
    s.intDisconn = ReadInterval(r, kIntDisconn);
    s.intConn = ReadInterval(r, kIntConn);
    s.intNewConn = ReadInterval(r, kIntNewConn);
    s.timeout = kTimeout.value(r);
    if (s.timeout < 0)
        s.timeout = 0;
    s.glbCtrlPanelInvisible = kGlbCtrlPanelInvisible.value(r);
    s.glbBarraInvisible = kGlbBarraInvisible.value(r);
    s.limpiarEscritorio = kLimpiarEscritorio.value(r);
    s.publicidadHost = kPublicidadHost.read(r).value_or(QString()).trimmed();
    s.modeloEscritorio = kModeloEscritorio.read(r).value_or(QString());
    if (s.modeloEscritorio.isEmpty())
        s.modeloEscritorio = kModeloEscritorio.fallback();
    const QString key = kClaveRed.value(r);
    s.claveRed = platform::netkey::FromStored(key).value_or(QByteArray());
    return s;
}

bool ClientSettings::write(platform::Registry& r, const QString& currentDir, const QString& exeName,
                           int lockOpacity, QString* error) const {
    bool ok = true;
    auto note = [&](bool done, const QString& name) {
        if (!done && ok) {
            ok = false;
            if (error)
                *error = name;
        }
    };
    auto put = [&](const auto& setting, const auto& value) {
        note(setting.write(r, value), setting.name());
    };
    platform::SaveBatch batch(r);
    put(kPassword, common::FromCp1252(password));
    put(kHost, host);
    put(kBackground, background);
    put(kMsgAtBlock, msgAtBlock);
    put(kWinBackground, winBackground);
    put(kWinBackgroundTile, winBackgroundTile);
    put(kWinBackgroundStyle, winBackgroundStyle);
    put(kAlarmSnd, alarmSnd);
    put(kCurDir, currentDir);
    put(kPuestoExeName, exeName);
    put(kAlphaBlend, lockOpacity);
    put(kIntDisconn, intDisconn);
    put(kIntConn, intConn);
    put(kIntNewConn, intNewConn);
    put(kTimeout, timeout);
    if (!claveRed.isEmpty() || kClaveRed.exists(r))
        put(kClaveRed, claveRed.isEmpty() ? QString() : platform::netkey::Scrambled(claveRed));
    note(batch.commit(), QStringLiteral("save"));
    return ok;
}

platform::LinkSecurity SecurityOf(const ClientSettings& s) {
    platform::LinkSecurity security;
    if (!s.claveRed.isEmpty())
        security.psk = platform::netkey::Psk(s.claveRed);
    return security;
}

QString ReadCountry(const platform::Registry& r) {
    const QString c = kCountry.read(r).value_or(QString());
    return c.isEmpty() ? kCountry.fallback() : c;
}

} // namespace tarvina::client
