#pragma once

#include "common/DateTime.h"
#include "platform/Clock.h"
#include "server/computers/TCompItem.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace tarvina::server {

// A station's configuration as its last report gave it.
struct RemoteConfig {
    QString background;
    QString alarmSound;
    QString wallpaper;
    bool autoStart = false;
    bool taskBarHidden = false;
    bool logoProtected = false;
    int style = 0; // 0 centred, 1 tiled, 2 stretched
    quint32 hiddenDrives = 0;
    QList<RemoteBanner> banners;
    // From the record's remote fields (ComputersLock held by the caller).
    static RemoteConfig FromRecord(const TCompItem& record);
};

// One thing the window sends; the caller turns it into its sender.
struct ConfigCommand {
    enum class Kind { File, Style, Flag, Disks, Banner, Delay, Delete, Transparency, Query };
    ConfigCommand(Kind k) : kind(k) {} // NOLINT: a kind alone is a command
    Kind kind;
    int code = 0;     // File: 22, 23 or 24; Flag: 26, 27 or 28
    QString path;     // File, Banner
    int value = 0;    // Style, Delay (seconds), Transparency (slider)
    int position = 0; // Banner, Delay, Delete
    bool on = false;  // Flag
    quint32 mask = 0; // Disks
    bool operator==(const ConfigCommand&) const = default;
};

// One row of the banner grid.
struct BannerRow {
    QString name;      // "Nombre de archivo", at most kMaxBannerName characters
    int seconds = 5;   // "Duración (seg)"
    QString fullPath;  // the picture chosen on this computer
    int position = -1; // in the station's list; -1 for a row added here
    QString receivedName;
    int receivedSeconds = 5;
};

// The window "Configuración remota": one window for all computers, showing
// the last report it was given; every change puts it in waiting and asks
// the station again (the transparency slider alone does neither).
class RemoteConfigForm {
public:
    explicit RemoteConfigForm(platform::Clock& clock) : clock_(clock) {}

    static constexpr int kMaxBannerName = 128;
    static constexpr int kSliderMax = 90;
    // A station that has not answered after this long is taken to have
    // nothing new: the window shows what it had, with a note.
    static constexpr qint64 kWaitLimitMs = 30000;

    static QStringList StyleItems();
    static QString PictureFilter();
    static QString SoundFilter();
    static QString WallpaperFilter();

    // A report: fills the window (whatever it was showing or waiting for).
    void show(TCompItem* record, const QString& computerName, const RemoteConfig& config);
    TCompItem* target() const { return target_; }
    const QString& computerName() const { return name_; }
    const RemoteConfig& config() const { return config_; }

    QString title() const;
    QString header() const;
    QString drivesButton() const;
    bool waiting() const { return waiting_; }
    bool enabled() const { return target_ != nullptr && !waiting_; }

    // "Barra de tareas visible" is ticked while the bar is shown.
    bool taskBarVisible() const { return !config_.taskBarHidden; }

    // --- changes; each returns what to send ---
    QList<ConfigCommand> changeFile(int code, const QString& path);
    QList<ConfigCommand> clearFile(int code);
    QList<ConfigCommand> setStyle(int style);
    QList<ConfigCommand> setAutoStart(bool on);
    QList<ConfigCommand> setTaskBarVisible(bool visible);
    QList<ConfigCommand> setLogoProtect(bool on);

    // "Unidades": letter i (0 = "A") is ticked unless its bit is set.
    bool driveTicked(int i) const;
    void setDriveTicked(int i, bool ticked);
    quint32 drivesMask() const { return drives_; }
    QList<ConfigCommand> sendDrives();

    // "Fondo ": the grid.
    const QList<BannerRow>& rows() const { return rows_; }
    int addRow();
    void setRowFile(int row, const QString& path);
    void setRowName(int row, const QString& name);
    void setRowSeconds(int row, int seconds);
    QList<ConfigCommand> deleteRow(int row);
    // "Actualiza configuaración": pictures whose names changed, then delays
    // that changed. fileExists says whether a path (or a typed name, from
    // the program's folder) names a file.
    QList<ConfigCommand> update(const std::function<bool(const QString&)>& fileExists);

    // The slider; a change sends at once.
    int slider() const { return slider_; }
    QList<ConfigCommand> setSlider(int value);
    // An R43: true when it was for the computer shown (the slider moved).
    bool transparencyReported(TCompItem* record, int alpha);

    // The waiting limit, on the clock; true when the wait just ended.
    bool tick();
    bool noAnswer() const { return noAnswer_; }

    // A path too wide for its field: its beginning, "...\" and the file's
    // name, as much of the beginning as fits.
    static QString ElidePath(const QString& path, const std::function<bool(const QString&)>& fits);

private:
    QList<ConfigCommand> changed(QList<ConfigCommand> commands);

    TCompItem* target_ = nullptr;
    QString name_;
    RemoteConfig config_;
    quint32 drives_ = 0;
    QList<BannerRow> rows_;
    int slider_ = 0;
    bool waiting_ = false;
    bool noAnswer_ = false;
    platform::Clock& clock_;
    qint64 waitingSince_ = 0;
};

} // namespace tarvina::server
