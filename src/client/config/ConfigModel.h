#pragma once

#include "client/config/ControlIni.h"
#include "client/config/WindowsPage.h"
#include "client/station/ClientSettings.h"
#include "platform/Autostart.h"
#include "platform/ControlPanel.h"
#include "platform/Registry.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace tarvina::client::config {

// One picture of the lock screen's rotation list: file name and seconds.
struct RotationEntry {
    QString file;
    int seconds = 5;
    bool operator==(const RotationEntry&) const = default;
};

// What the configuration dialog's controls show and edit.
struct ConfigValues {
    // "Básico"
    QString host;
    // "Clave de red", as shown ("K7QF-M2XD-..."); empty: none.
    QString claveRed;
    QString pass1;
    QString pass2;
    bool passwordChanged = false; // any edit of the first box
    QString background;
    QString alarmSnd;
    bool startWithSystem = false;
    bool msgOnlyWhenNotBlocked = false; // MsgAtBlock inverted
    // "Prot. Windows"
    bool protectLogo = false;
    QString winBackground;
    int wallpaperStyle = 0; // 0 "Centrado", 1 "Mosaico", 2 "Estirado"
    bool hiddenTaskBar = false;
    // "Panel de control": filled when the page is first shown, saved only then
    bool appletsLoaded = false;
    QList<AppletLine> applets;
    // "Unidades de disco": bit 0 = A: ... bit 25 = Z: (a set bit hides it)
    quint32 hiddenDrives = 0;
    bool drivesChanged = false;
    // "Fondo en bloqueo"
    QList<RotationEntry> rotation;
    // "Apariencia": 0..90
    int transparency = 0;
    // "Redes", milliseconds
    int intDisconn = 0;
    int intConn = 0;
    int intNewConn = 0;
    int timeout = 0;
    // "Windows": filled when the page is first shown, saved only then
    bool windowsLoaded = false;
    WindowsPageValues windows;
    // "Escritorio"
    bool limpiarEscritorio = false;
};

// What a confirmed dialog does to the running station, beyond the stored
// values: the station's side of the save.
class ConfigTarget {
public:
    virtual ~ConfigTarget() = default;
    // The station adopts the saved settings: its timers follow the four
    // intervals at once, the host only at the next start.
    virtual void applySettings(const ClientSettings& next, bool hostChanged) = 0;
    // Backs up the start and exit pictures (always when forced, else only
    // when there is no backup yet); true when a backup exists afterwards.
    virtual bool backupLogos(bool force) = 0;
    virtual void setTaskBarHidden(bool hidden) = 0;
    // The drives the page hides, kept from the customer on the desktop.
    virtual void setHiddenDrives(quint32 mask) = 0;
    virtual void showLockPicture(const QString& path) = 0;
    virtual void applyWallpaper() = 0;
    virtual void reloadRotation() = 0;
};

// How a save ended.
struct SaveOutcome {
    enum class Kind {
        Saved,            // close the dialog
        Invalid,          // a value is refused: message says which; nothing saved
        PasswordMismatch, // "Las contraseñas tipeadas no coinciden.": keep open, empty boxes
    };
    Kind kind = Kind::Saved;
    QString message;
    bool hostChanged = false; // show "Los cambios en anfitrión serán efectivos al reiniciar"
    QStringList notStored;    // values that could not be made durable
};

// The configuration dialog's model: loading the controls from the station's
// settings and saving them back in the station's order. Everything the
// dialog writes goes to the settings store in one batch, so a failed or
// interrupted save leaves the stored settings as they were.
class ConfigModel {
public:
    using FileExists = std::function<bool(const QString&)>;

    ConfigModel(platform::Registry& registry, platform::Autostart& autostart,
                FileExists fileExists = {});

    // The placeholders the password boxes show after loading: 13 characters
    // each, different from each other, so unchanged boxes never count as a
    // new password.
    static const QString kPlaceholder1;
    static const QString kPlaceholder2;

    // progress: told each stage as it begins ("Cargando configuración...",
    // ... "Cargando configuración ... ok"), for the "Procesando" window.
    ConfigValues load(const ClientSettings& settings,
                      const std::function<void(const QString&)>& progress = {}) const;

    // Where the "Panel de control" page finds the desktop's applets and the
    // file that hides them; without it the page lists nothing.
    void setControlPanel(platform::ControlAppletSource applets, QString controlIniPath);
    // The pages that load their contents only when first shown.
    QList<AppletLine> loadApplets() const;
    WindowsPageValues loadWindowsPage() const;

    // Refuses what cannot be stored; the message is the notice to show.
    static std::optional<QString> Validate(const ConfigValues& v);

    // Saves v over the station's current settings and tells target.
    // currentDir and exeName are what the settings need to be written whole.
    SaveOutcome save(const ConfigValues& v, const ClientSettings& current, ConfigTarget& target,
                     const QString& currentDir, const QString& exeName);

    // Why a model folder cannot serve the clean desktop (empty: it can).
    void setModelCheck(std::function<QString(const QString& model)> check) {
        modelCheck_ = std::move(check);
    }

    // The "Redes" page's three preset buttons (0, 1, 2).
    static void ApplyPreset(ConfigValues& v, int preset);
    static QString PresetCaption(int preset);

    // Transparency slider <-> the lock screen's alpha.
    static int TransparencyFromAlpha(int alpha);
    static int AlphaFromTransparency(int value);

    // The rotation list as stored (key \Software\Velt\Tarvina\Background).
    static QList<RotationEntry> ReadRotation(const platform::Registry& r);
    // NoDrives: 4 raw bytes, a little-endian mask (an integer value, as
    // earlier versions stored it, is read too).
    static quint32 ReadHiddenDrives(const platform::Registry& r);

    static constexpr int kMaxRotation = 250;

private:
    QString takeFile(const QString& typed, const QString& current) const;
    // The parts of a save, in its order.
    void saveRotation(const QList<RotationEntry>& rotation);
    void saveDesktop(const ConfigValues& v, ConfigTarget& target, ClientSettings& next,
                     SaveOutcome& out);
    // True when the wallpaper or its style changed.
    bool takeFiles(const ConfigValues& v, const ClientSettings& current,
                   ClientSettings& next) const;
    // True when the drives were written.
    bool saveDrives(const ConfigValues& v, SaveOutcome& out);

    platform::Registry& registry_;
    platform::Autostart& autostart_;
    FileExists fileExists_;
    platform::ControlAppletSource applets_;
    QString controlIni_;
    std::function<QString(const QString&)> modelCheck_;
};

} // namespace tarvina::client::config
