#include "server/remote/RemoteConfigForm.h"

#include "protocol/Codes.h"
#include "server/remote/RemoteSenders.h"

#include <algorithm>

namespace tarvina::server {

namespace p = tarvina::protocol;
using K = ConfigCommand::Kind;

RemoteConfig RemoteConfig::FromRecord(const TCompItem& r) {
    RemoteConfig c;
    c.background = r.remoteBackground;
    c.alarmSound = r.remoteAlarmSound;
    c.wallpaper = r.remoteWallpaper;
    c.autoStart = r.remoteAutoStart;
    c.taskBarHidden = r.remoteTaskBarHidden;
    c.logoProtected = r.remoteLogoProtected;
    bool ok = false;
    const int style = r.remoteWallpaperStyle.trimmed().toInt(&ok);
    c.style = ok && style >= 0 && style <= 2 ? style : 0;
    c.hiddenDrives = r.remoteHiddenDrives;
    c.banners = r.remoteBanners.value_or(QList<RemoteBanner>{});
    return c;
}

QStringList RemoteConfigForm::StyleItems() {
    return {QStringLiteral("Centrado"), QStringLiteral("Mosaico"), QStringLiteral("Expandido")};
}

QString RemoteConfigForm::PictureFilter() {
    return QStringLiteral(
        "Todos (*.gif;*.jpg;*.jpeg;*.jpg;*.jpeg;*.bmp;*.emf;*.wmf)|*.gif;*.jpg;*.jpeg;*.jpg;*.jpeg;"
        "*.bmp;*.emf;*.wmf|Imagen CompuServe GIF (*.gif)|*.gif|Archivo de imagen JPEG  "
        "(*.jpg)|*.jpg|Archivo de imagen JPEG (*.jpeg)|*.jpeg|Mapas de bits (*.bmp)|*.bmp|Metafile "
        "mejorado(*.emf)|*.emf|Metafiles (*.wmf)|*.wmf");
}

QString RemoteConfigForm::SoundFilter() {
    return QStringLiteral("Archivo de onda|*.wav");
}

QString RemoteConfigForm::WallpaperFilter() {
    return QStringLiteral("Mapas de bits (*.bmp)|*.bmp");
}

void RemoteConfigForm::show(TCompItem* record, const QString& computerName,
                            const RemoteConfig& config) {
    target_ = record;
    name_ = computerName;
    config_ = config;
    drives_ = config.hiddenDrives;
    rows_.clear();
    for (int i = 0; i < config.banners.size(); ++i) {
        const RemoteBanner& b = config.banners[i];
        BannerRow row;
        row.name = b.name.left(kMaxBannerName);
        row.receivedName = row.name;
        row.seconds = row.receivedSeconds = b.number;
        row.position = i;
        rows_.append(row);
    }
    waiting_ = false;
    noAnswer_ = false;
}

QString RemoteConfigForm::title() const {
    return waiting_ ? QStringLiteral("Esperando actualización")
                    : QStringLiteral("Configuración remota");
}

QString RemoteConfigForm::header() const {
    if (waiting_)
        return QStringLiteral("Esperando configuración");
    if (noAnswer_)
        return QStringLiteral("Sin respuesta de ") + name_ +
               QStringLiteral("; se muestra la última configuración recibida");
    return QStringLiteral("Configuración de ") + name_;
}

QString RemoteConfigForm::drivesButton() const {
    return target_ == nullptr ? QStringLiteral("Envia configuración a ...")
                              : QStringLiteral("Envía configuración a ") + name_;
}

QList<ConfigCommand> RemoteConfigForm::changed(QList<ConfigCommand> commands) {
    if (commands.isEmpty() || target_ == nullptr)
        return {};
    commands.append(ConfigCommand(K::Query));
    waiting_ = true;
    noAnswer_ = false;
    waitingSince_ = clock_.steadyMs();
    return commands;
}

QList<ConfigCommand> RemoteConfigForm::changeFile(int code, const QString& path) {
    ConfigCommand c{K::File};
    c.code = code;
    c.path = path;
    return changed({c});
}

QList<ConfigCommand> RemoteConfigForm::clearFile(int code) {
    return changeFile(code, QString());
}

QList<ConfigCommand> RemoteConfigForm::setStyle(int style) {
    ConfigCommand c{K::Style};
    c.value = std::clamp(style, 0, 2);
    return changed({c});
}

namespace {
ConfigCommand Flag(int code, bool on) {
    ConfigCommand c{K::Flag};
    c.code = code;
    c.on = on;
    return c;
}
} // namespace

QList<ConfigCommand> RemoteConfigForm::setAutoStart(bool on) {
    return changed({Flag(p::tc::SetAutoStart, on)});
}

QList<ConfigCommand> RemoteConfigForm::setTaskBarVisible(bool visible) {
    // The station's flag says hidden.
    return changed({Flag(p::tc::SetTaskBarHidden, !visible)});
}

QList<ConfigCommand> RemoteConfigForm::setLogoProtect(bool on) {
    return changed({Flag(p::tc::SetLogoProtect, on)});
}

bool RemoteConfigForm::driveTicked(int i) const {
    return i < 0 || i >= 26 || (drives_ & (1u << i)) == 0;
}

void RemoteConfigForm::setDriveTicked(int i, bool ticked) {
    if (i < 0 || i >= 26)
        return;
    if (ticked)
        drives_ &= ~(1u << i);
    else
        drives_ |= 1u << i;
}

QList<ConfigCommand> RemoteConfigForm::sendDrives() {
    ConfigCommand c{K::Disks};
    c.mask = drives_;
    return changed({c});
}

int RemoteConfigForm::addRow() {
    rows_.append(BannerRow{});
    return static_cast<int>(rows_.size()) - 1;
}

void RemoteConfigForm::setRowFile(int row, const QString& path) {
    if (row < 0 || row >= rows_.size())
        return;
    rows_[row].fullPath = path;
    rows_[row].name = FileNameOf(path).left(kMaxBannerName);
}

void RemoteConfigForm::setRowName(int row, const QString& name) {
    if (row < 0 || row >= rows_.size())
        return;
    BannerRow& r = rows_[row];
    r.name = name.left(kMaxBannerName);
    // A name typed over a chosen picture stands for itself.
    if (!r.fullPath.isEmpty() && FileNameOf(r.fullPath) != r.name)
        r.fullPath.clear();
}

void RemoteConfigForm::setRowSeconds(int row, int seconds) {
    if (row < 0 || row >= rows_.size())
        return;
    rows_[row].seconds = std::clamp(seconds, 1, 86400);
}

QList<ConfigCommand> RemoteConfigForm::deleteRow(int row) {
    if (row < 0 || row >= rows_.size())
        return {};
    const BannerRow gone = rows_.takeAt(row);
    if (gone.position < 0)
        return {};
    ConfigCommand c{K::Delete};
    c.position = gone.position;
    return changed({c});
}

QList<ConfigCommand>
RemoteConfigForm::update(const std::function<bool(const QString&)>& fileExists) {
    QList<ConfigCommand> out;
    for (const BannerRow& r : rows_) {
        if (r.name == r.receivedName && r.position >= 0)
            continue;
        QString path;
        if (!r.fullPath.isEmpty() && fileExists(r.fullPath))
            path = r.fullPath;
        else if (!r.name.isEmpty() && fileExists(r.name))
            path = r.name;
        if (path.isEmpty())
            continue; // neither the chosen picture nor the typed name exists
        ConfigCommand c{K::Banner};
        c.position = r.position;
        c.path = path;
        out.append(c);
    }
    for (const BannerRow& r : rows_) {
        // A row added here gets the station's default; its own delay can
        // be set once the station lists it.
        if (r.position < 0 || r.seconds == r.receivedSeconds)
            continue;
        ConfigCommand c{K::Delay};
        c.position = r.position;
        c.value = r.seconds;
        out.append(c);
    }
    return changed(out);
}

QList<ConfigCommand> RemoteConfigForm::setSlider(int value) {
    slider_ = std::clamp(value, 0, kSliderMax);
    if (target_ == nullptr)
        return {};
    ConfigCommand c{K::Transparency};
    c.value = slider_;
    return {c};
}

bool RemoteConfigForm::transparencyReported(TCompItem* record, int alpha) {
    if (record == nullptr || record != target_)
        return false;
    // May be above the slider's end (an opacity of 3 is 98): the view
    // clamps, the value stays what the station said.
    slider_ = SliderFromOpacity(alpha);
    return true;
}

bool RemoteConfigForm::tick() {
    if (!waiting_ || clock_.steadyMs() - waitingSince_ < kWaitLimitMs)
        return false;
    waiting_ = false;
    noAnswer_ = true;
    return true;
}

QString RemoteConfigForm::ElidePath(const QString& path,
                                    const std::function<bool(const QString&)>& fits) {
    if (fits(path))
        return path;
    const QString name = FileNameOf(path);
    const QString dots = path.contains(QLatin1Char('\\')) || !path.contains(QLatin1Char('/'))
                             ? QStringLiteral("...\\")
                             : QStringLiteral(".../");
    const qsizetype limit = path.size() - name.size();
    // The longest beginning that still fits; none when even the name alone
    // is too wide.
    qsizetype lo = 0, hi = std::max<qsizetype>(0, limit - 1);
    while (lo < hi) {
        const qsizetype mid = (lo + hi + 1) / 2;
        if (fits(path.left(mid) + dots + name))
            lo = mid;
        else
            hi = mid - 1;
    }
    return path.left(lo) + dots + name;
}

} // namespace tarvina::server
