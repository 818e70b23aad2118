#include "client/station/ClientSettings.h"

#include "common/Cp1252.h"
#include "common/Password.h"

namespace tarvina::client {

using platform::Root;

namespace {

const QString Key() {
    return QString::fromLatin1(ClientSettings::kKey);
}

// Integers: a value of another kind or a missing one keeps the default.
int ReadInt(const platform::Registry& r, const char* name, int fallback) {
    const auto v = r.readInteger(Root::LocalMachine, Key(), QString::fromLatin1(name));
    return v ? *v : fallback;
}

int ReadInterval(const platform::Registry& r, const char* name, int fallback) {
    const int v = ReadInt(r, name, fallback);
    return v < 0 ? fallback : v;
}

bool ReadBool(const platform::Registry& r, const char* name, bool fallback) {
    const auto v = r.readInteger(Root::LocalMachine, Key(), QString::fromLatin1(name));
    return v ? *v != 0 : fallback;
}

QString ReadText(const platform::Registry& r, const char* name) {
    return r.readString(Root::LocalMachine, Key(), QString::fromLatin1(name)).value_or(QString());
}

// Tile and style are texts holding integers; anything else counts as 0.
int ReadIntText(const platform::Registry& r, const char* name) {
    bool ok = false;
    const int v = ReadText(r, name).trimmed().toInt(&ok);
    return ok ? v : 0;
}

} // namespace

ClientSettings ClientSettings::Defaults() {
    ClientSettings s;
    s.password = common::ScramblePassword("mirlo");
    return s;
}

ClientSettings ClientSettings::Read(const platform::Registry& r) {
    ClientSettings s = Defaults();
    const QString pw = ReadText(r, "Password");
    if (!pw.isEmpty())
        s.password = common::ToCp1252(pw);
    // A missing text reads as empty: it does not fall back to the built-in.
    // Without the key the built-in values stand; with it, a missing text reads
    // as empty rather than falling back.
    if (r.keyExists(Root::LocalMachine, Key())) {
        s.host = ReadText(r, "Host");
        s.background = ReadText(r, "Background");
        s.alarmSnd = ReadText(r, "AlarmSnd");
    }
    s.winBackground = ReadText(r, "WinBackground");
    s.winBackgroundTile = ReadIntText(r, "WinBackgroundTile");
    s.winBackgroundStyle = ReadIntText(r, "WinBackgroundStyle");
    s.msgAtBlock = ReadBool(r, "MsgAtBlock", false);
    s.alphaBlend = ReadInt(r, "AlphaBlend", 255);
    if (s.alphaBlend < 0 || s.alphaBlend > 255)
        s.alphaBlend = 255;
    s.intDisconn = ReadInterval(r, "IntDisconn", 2000);
    s.intConn = ReadInterval(r, "IntConn", 5000);
    s.intNewConn = ReadInterval(r, "IntNewConn", 1500);
    s.timeout = ReadInt(r, "timeout", 0);
    if (s.timeout < 0)
        s.timeout = 0;
    s.glbCtrlPanelInvisible = ReadBool(r, "GlbCtrlPanelInvisible", false);
    s.glbBarraInvisible = ReadBool(r, "GlbBarraInvisible", false);
    return s;
}

bool ClientSettings::write(platform::Registry& r, const QString& currentDir, const QString& exeName,
                           int lockOpacity, QString* error) const {
    const QString key = Key();
    bool ok = true;
    auto note = [&](bool done, const char* name) {
        if (!done && ok) {
            ok = false;
            if (error)
                *error = QString::fromLatin1(name);
        }
    };
    platform::SaveBatch batch(r);
    note(r.writeString(Root::LocalMachine, key, QStringLiteral("Password"),
                       common::FromCp1252(password)),
         "Password");
    note(r.writeString(Root::LocalMachine, key, QStringLiteral("Host"), host), "Host");
    note(r.writeString(Root::LocalMachine, key, QStringLiteral("Background"), background),
         "Background");
    note(r.writeInteger(Root::LocalMachine, key, QStringLiteral("MsgAtBlock"), msgAtBlock ? 1 : 0),
         "MsgAtBlock");
    note(r.writeString(Root::LocalMachine, key, QStringLiteral("WinBackground"), winBackground),
         "WinBackground");
    note(r.writeString(Root::LocalMachine, key, QStringLiteral("WinBackgroundTile"),
                       QString::number(winBackgroundTile)),
         "WinBackgroundTile");
    note(r.writeString(Root::LocalMachine, key, QStringLiteral("WinBackgroundStyle"),
                       QString::number(winBackgroundStyle)),
         "WinBackgroundStyle");
    note(r.writeString(Root::LocalMachine, key, QStringLiteral("AlarmSnd"), alarmSnd), "AlarmSnd");
    note(r.writeString(Root::LocalMachine, key, QStringLiteral("CurDir"), currentDir), "CurDir");
    note(r.writeString(Root::LocalMachine, key, QStringLiteral("PuestoExeName"), exeName),
         "PuestoExeName");
    note(r.writeInteger(Root::LocalMachine, key, QStringLiteral("AlphaBlend"), lockOpacity),
         "AlphaBlend");
    note(r.writeInteger(Root::LocalMachine, key, QStringLiteral("IntDisconn"), intDisconn),
         "IntDisconn");
    note(r.writeInteger(Root::LocalMachine, key, QStringLiteral("IntConn"), intConn), "IntConn");
    note(r.writeInteger(Root::LocalMachine, key, QStringLiteral("IntNewConn"), intNewConn),
         "IntNewConn");
    note(r.writeInteger(Root::LocalMachine, key, QStringLiteral("timeout"), timeout), "timeout");
    note(batch.commit(), "save");
    return ok;
}

QString ReadCountry(const platform::Registry& r) {
    const QString c = r.readString(Root::CurrentUser, QString::fromLatin1(kInternationalKey),
                                   QStringLiteral("sCountry"))
                          .value_or(QString());
    return c.isEmpty() ? QStringLiteral("No%20definido") : c;
}

} // namespace tarvina::client
