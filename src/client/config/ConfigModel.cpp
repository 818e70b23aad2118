#include "client/config/ConfigModel.h"

#include "common/Cp1252.h"
#include "common/Password.h"
#include "platform/NetworkKey.h"

#include <QFileInfo>

namespace tarvina::client::config {

using platform::Root;

const QString ConfigModel::kPlaceholder1 = QStringLiteral("0123456789abc");
const QString ConfigModel::kPlaceholder2 = QStringLiteral("cba9876543210");

namespace {

struct Preset {
    int intDisconn, intConn, intNewConn, timeout;
    const char16_t* caption;
};
constexpr Preset kPresets[] = {
    {5000, 15000, 3000, 0, u"Establece Valores por defecto (bajo consumo de cpu)"},
    {2000, 5000, 1500, 2500, u"Establece valores de respuesta rápida."},
    {1000, 2500, 1000, 2500, u"Establece valores de respuesta muy rápida. Alto tráfico de red"},
};

QString Unquoted(const QString& typed) {
    QString t = typed.trimmed();
    if (t.size() >= 2 && t.startsWith(u'"') && t.endsWith(u'"'))
        t = t.mid(1, t.size() - 2);
    return t;
}

bool HasControl(const QString& s) {
    for (QChar c : s)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return true;
    return false;
}

std::optional<QString> CheckInterval(int v, int low, const char16_t* what) {
    if (v < low || v > 60000)
        return QStringLiteral("El %1 debe estar entre %2 y 60000 milisegundos.")
            .arg(QString::fromUtf16(what))
            .arg(low);
    return std::nullopt;
}

} // namespace

ConfigModel::ConfigModel(platform::Registry& registry, platform::Autostart& autostart,
                         FileExists fileExists)
    : registry_(registry), autostart_(autostart), fileExists_(std::move(fileExists)) {
    if (!fileExists_)
        fileExists_ = [](const QString& path) { return QFileInfo(path).isFile(); };
}

int ConfigModel::TransparencyFromAlpha(int alpha) {
    return (255 - qBound(0, alpha, 255)) * 100 / 255;
}

int ConfigModel::AlphaFromTransparency(int value) {
    return 255 - qBound(0, value, 100) * 255 / 100;
}

void ConfigModel::ApplyPreset(ConfigValues& v, int preset) {
    const Preset& p = kPresets[qBound(0, preset, 2)];
    v.intDisconn = p.intDisconn;
    v.intConn = p.intConn;
    v.intNewConn = p.intNewConn;
    v.timeout = p.timeout;
}

QString ConfigModel::PresetCaption(int preset) {
    return QString::fromUtf16(kPresets[qBound(0, preset, 2)].caption);
}

QList<RotationEntry> ConfigModel::ReadRotation(const platform::Registry& r) {
    QList<RotationEntry> list;
    const Root root = keys::kBannerList.root;
    const QString key = keys::kBannerList.text();
    for (const QString& name : r.valueNames(root, key)) {
        if (list.size() >= kMaxRotation)
            break;
        const auto seconds = r.readInteger(root, key, name);
        list.append({name, seconds && *seconds > 0 ? *seconds : 5});
    }
    return list;
}

quint32 ConfigModel::ReadHiddenDrives(const platform::Registry& r) {
    return keys::kNoDrives.value(r) & 0x03FFFFFFu;
}

void ConfigModel::setControlPanel(platform::ControlAppletSource applets, QString controlIniPath) {
    applets_ = std::move(applets);
    controlIni_ = std::move(controlIniPath);
}

QList<AppletLine> ConfigModel::loadApplets() const {
    QList<AppletLine> lines;
    if (!applets_)
        return lines;
    const QHash<QString, QString> dontLoad = ControlIni(controlIni_).dontLoad();
    for (const platform::ControlApplet& a : applets_()) {
        AppletLine l;
        l.file = a.file;
        l.caption = a.description.isEmpty()
                        ? a.file
                        : a.file + QStringLiteral(" [") + a.description + QStringLiteral("]");
        l.shown = dontLoad.value(a.file.toLower()).compare(u"no", Qt::CaseInsensitive) != 0;
        lines.append(l);
    }
    return lines;
}

WindowsPageValues ConfigModel::loadWindowsPage() const {
    return ReadWindowsPage(registry_);
}

ConfigValues ConfigModel::load(const ClientSettings& s,
                               const std::function<void(const QString&)>& progress) const {
    auto stage = [&progress](const char* text) {
        if (progress)
            progress(QString::fromUtf8(text));
    };
    ConfigValues v;
    stage("Cargando configuración...");
    v.intDisconn = s.intDisconn;
    v.intConn = s.intConn;
    v.intNewConn = s.intNewConn;
    v.timeout = s.timeout;
    stage("Cargando configuración (fondo)...");
    v.rotation = ReadRotation(registry_);
    stage("Cargando configuración (directorio actual)...");
    stage("Cargando configuración (misceláneos)...");
    v.limpiarEscritorio = s.limpiarEscritorio;
    v.host = s.host;
    v.claveRed = s.claveRed.isEmpty() ? QString() : platform::netkey::Shown(s.claveRed);
    v.pass1 = kPlaceholder1;
    v.pass2 = kPlaceholder2;
    v.passwordChanged = false;
    v.background = s.background;
    v.alarmSnd = s.alarmSnd;
    v.winBackground = s.winBackground;
    v.transparency = TransparencyFromAlpha(s.alphaBlend);
    v.wallpaperStyle = qBound(0, s.winBackgroundTile + s.winBackgroundStyle, 2);
    stage("Cargando configuración (registro de inicio)...");
    v.startWithSystem = autostart_.isEnabled();
    v.protectLogo = keys::kProtectWinLogo.value(registry_);
    v.hiddenTaskBar = s.glbBarraInvisible;
    v.msgOnlyWhenNotBlocked = !s.msgAtBlock;
    v.hiddenDrives = ReadHiddenDrives(registry_);
    v.drivesChanged = false;
    stage("Cargando configuración ... ok");
    return v;
}

std::optional<QString> ConfigModel::Validate(const ConfigValues& v) {
    const QString host = v.host.trimmed();
    if (host.isEmpty())
        return QStringLiteral("Escriba el nombre o la dirección de la computadora de la caja.");
    if (host.size() > 253)
        return QStringLiteral("El nombre de la caja es demasiado largo (%1 caracteres; el máximo "
                              "es 253).")
            .arg(host.size());
    for (QChar c : host) {
        if (c.isSpace())
            return QStringLiteral("El nombre de la caja no puede tener espacios.");
        if (!(c.isLetterOrNumber() || c == u'.' || c == u'-' || c == u'_' || c == u':'))
            return QStringLiteral("El nombre de la caja tiene caracteres no válidos (%1).").arg(c);
    }
    if (!v.claveRed.trimmed().isEmpty() && !platform::netkey::Normalise(v.claveRed))
        return QStringLiteral("La clave de red debe tener los 24 caracteres que muestra la caja "
                              "(seis grupos de cuatro).");
    if (auto e = CheckInterval(v.intDisconn, 500, u"tiempo de reintento de conexión"))
        return e;
    if (auto e = CheckInterval(v.intConn, 500, u"tiempo de prueba de conexión"))
        return e;
    if (auto e = CheckInterval(v.intNewConn, 500, u"tiempo de nueva conexión"))
        return e;
    if (auto e = CheckInterval(v.timeout, 0, u"tiempo de espera"))
        return e;
    if (v.transparency < 0 || v.transparency > 90)
        return QStringLiteral("La transparencia debe estar entre 0 y 90.");
    if (v.wallpaperStyle < 0 || v.wallpaperStyle > 2)
        return QStringLiteral("Elija el estilo del fondo de escritorio.");
    for (const QString* path : {&v.background, &v.alarmSnd, &v.winBackground})
        if (path->size() > 1024 || HasControl(*path))
            return QStringLiteral("La ruta \"%1\" no es válida.").arg(path->left(60));
    if (v.rotation.size() > kMaxRotation)
        return QStringLiteral("La lista de fondos admite hasta %1 imágenes.").arg(kMaxRotation);
    for (const RotationEntry& e : v.rotation) {
        if (e.file.trimmed().isEmpty() || e.file.size() > 260 || HasControl(e.file))
            return QStringLiteral("El nombre de imagen \"%1\" no es válido.").arg(e.file.left(60));
        if (e.seconds < 1 || e.seconds > 86400)
            return QStringLiteral("Los segundos de \"%1\" deben estar entre 1 y 86400.")
                .arg(e.file.left(60));
    }
    if (v.passwordChanged && v.pass1.isEmpty() && v.pass2.isEmpty())
        return QStringLiteral("La contraseña no puede quedar vacía.");
    if (v.passwordChanged && (v.pass1.size() > 64 || HasControl(v.pass1)))
        return QStringLiteral("La contraseña no es válida (hasta 64 caracteres, sin caracteres "
                              "de control).");
    return std::nullopt;
}

QString ConfigModel::takeFile(const QString& typed, const QString& current) const {
    const QString t = Unquoted(typed);
    if (t.isEmpty() || t == current || !fileExists_(t))
        return current;
    return t;
}

void ConfigModel::saveRotation(const QList<RotationEntry>& rotation) {
    // Rewritten whole, in its order.
    if (ReadRotation(registry_) == rotation)
        return;
    const Root root = keys::kBannerList.root;
    const QString key = keys::kBannerList.text();
    registry_.deleteKey(root, key);
    registry_.createKey(root, key);
    for (const RotationEntry& e : rotation)
        registry_.writeInteger(root, key, e.file.trimmed(), e.seconds);
}

void ConfigModel::saveDesktop(const ConfigValues& v, ConfigTarget& target, ClientSettings& next,
                              SaveOutcome& out) {
    // The control panel's applets ("Control.ini" is a file of its own, not
    // part of the batch).
    if (v.appletsLoaded && !controlIni_.isEmpty()) {
        QString error;
        if (!ControlIni(controlIni_).apply(v.applets, &error))
            out.notStored << QStringLiteral("Panel de control: ") + error;
    }

    // Logo protection: its value is the backup's result.
    const bool protect = v.protectLogo && target.backupLogos(false);
    keys::kProtectWinLogo.write(registry_, protect);

    // Start with the session.
    QString autostartError;
    if (!autostart_.setEnabled(v.startWithSystem, &autostartError))
        out.notStored << QStringLiteral("Inicio con el sistema: ") + autostartError;

    // Hidden task bar: at once.
    target.setTaskBarHidden(v.hiddenTaskBar);
    next.glbBarraInvisible = v.hiddenTaskBar;
    keys::kGlbBarraInvisible.write(registry_, v.hiddenTaskBar);
}

bool ConfigModel::takeFiles(const ConfigValues& v, const ClientSettings& current,
                            ClientSettings& next) const {
    // Taken only when they exist and differ.
    next.background = takeFile(v.background, current.background);
    const QString wallpaper = takeFile(v.winBackground, current.winBackground);
    next.alarmSnd = takeFile(v.alarmSnd, current.alarmSnd);
    const int oldStyle = qBound(0, current.winBackgroundTile + current.winBackgroundStyle, 2);
    const bool wallpaperChanged = wallpaper != current.winBackground;
    const bool styleChanged = v.wallpaperStyle != oldStyle;
    next.winBackground = wallpaper;
    if (wallpaperChanged || styleChanged) {
        next.winBackgroundStyle = v.wallpaperStyle > 1 ? v.wallpaperStyle : 0;
        next.winBackgroundTile = v.wallpaperStyle > 1 ? 0 : v.wallpaperStyle;
    }
    return wallpaperChanged || styleChanged;
}

bool ConfigModel::saveDrives(const ConfigValues& v, SaveOutcome& out) {
    // Only when the page was changed, and only into an existing policies key
    // (it is not created for this).
    const platform::SettingKey& policies = keys::kNoDrives.key();
    const bool written = v.drivesChanged && registry_.keyExists(policies.root, policies.text());
    if (written) {
        keys::kNoDrives.write(registry_, v.hiddenDrives & 0x03FFFFFFu);
    } else if (v.drivesChanged) {
        out.notStored << QStringLiteral("Unidades de disco: no hay políticas del explorador donde "
                                        "guardarlas; acepte primero la página \"Windows\" y "
                                        "vuelva a elegir las unidades.");
    }
    return written;
}

SaveOutcome ConfigModel::save(const ConfigValues& v, const ClientSettings& current,
                              ConfigTarget& target, const QString& currentDir,
                              const QString& exeName) {
    SaveOutcome out;
    if (auto e = Validate(v)) {
        out.kind = SaveOutcome::Kind::Invalid;
        out.message = *e;
        return out;
    }
    // A mismatch is found before anything is applied, so a refused dialog
    // leaves the station exactly as it was.
    if (v.passwordChanged && v.pass1 != v.pass2) {
        out.kind = SaveOutcome::Kind::PasswordMismatch;
        out.message = QStringLiteral("Las contraseñas tipeadas no coinciden.");
        return out;
    }

    // The clean desktop is turned on only with a model to clean from.
    if (v.limpiarEscritorio && !current.limpiarEscritorio && modelCheck_) {
        const QString why = modelCheck_(current.modeloEscritorio);
        if (!why.isEmpty()) {
            out.kind = SaveOutcome::Kind::Invalid;
            out.message = QStringLiteral("No se puede limpiar el escritorio al terminar cada "
                                         "uso: ") +
                          why;
            return out;
        }
    }

    ClientSettings next = current;
    next.limpiarEscritorio = v.limpiarEscritorio;
    platform::SaveBatch batch(registry_);

    next.intDisconn = v.intDisconn;
    next.intConn = v.intConn;
    next.intNewConn = v.intNewConn;
    next.timeout = v.timeout;
    saveRotation(v.rotation);
    saveDesktop(v, target, next, out);

    // Password: only when a box was edited and the scrambled form is new.
    if (v.passwordChanged) {
        const QByteArray scrambled = common::ScramblePassword(common::ToCp1252(v.pass1));
        if (scrambled != current.password)
            next.password = scrambled;
    }
    const bool wallpaperChanged = takeFiles(v, current, next);
    next.msgAtBlock = !v.msgOnlyWhenNotBlocked;
    next.alphaBlend = AlphaFromTransparency(v.transparency);
    const QString host = v.host.trimmed();
    out.hostChanged = host != current.host;
    next.host = host;
    next.claveRed = platform::netkey::Normalise(v.claveRed).value_or(QByteArray());
    const bool drivesWritten = saveDrives(v, out);
    // The "Windows" page's policies and desktop icons.
    if (v.windowsLoaded)
        WriteWindowsPage(registry_, v.windows);

    QString writeError;
    next.write(registry_, currentDir, exeName, next.alphaBlend, &writeError);
    // Not among what the exit writes back: stored here, when it changes.
    if (next.limpiarEscritorio != current.limpiarEscritorio)
        keys::kLimpiarEscritorio.write(registry_, next.limpiarEscritorio);
    if (!batch.commit())
        out.notStored.prepend(QStringLiteral("La configuración requiere privilegio de "
                                             "administrador para ser almacenada"));

    // The running station follows whatever could or could not be stored.
    target.applySettings(next, out.hostChanged);
    target.reloadRotation();
    if (drivesWritten)
        target.setHiddenDrives(v.hiddenDrives & 0x03FFFFFFu);
    if (next.background != current.background)
        target.showLockPicture(next.background);
    if (wallpaperChanged)
        target.applyWallpaper();
    out.kind = SaveOutcome::Kind::Saved;
    return out;
}

} // namespace tarvina::client::config
