#include "client/control/RemoteConfig.h"

#include "client/config/ConfigModel.h"
#include "client/control/Wallpaper.h"
#include "client/station/ClientSettings.h"
#include "client/station/StationContext.h"
#include "client/station/StationKeys.h"
#include "common/Cp1252.h"
#include "common/Paths.h"
#include "platform/Autostart.h"
#include "platform/Desktop.h"
#include "platform/Registry.h"
#include "protocol/Block.h"
#include "protocol/Codes.h"
#include "protocol/Fields.h"
#include "protocol/Line.h"

#include <QDir>

namespace tarvina::client {

using platform::Root;
namespace tc = protocol::tc;

namespace {

// Seconds a banner may stay: a day.
constexpr int kMaxBannerSeconds = 86400;

// A text of the report travels as one line: no line breaks, bounded.
QByteArray ReportLine(const QString& text) {
    QByteArray l = common::ToCp1252(text).left(protocol::kMaxLineLength - 2);
    l.replace('\r', ' ');
    l.replace('\n', ' ');
    return l + "\r\n";
}

QByteArray Flag(bool on) {
    return on ? "1\r\n" : "0\r\n";
}

// A whole decimal number, nullopt for anything else.
std::optional<int> Decimal(QByteArrayView text) {
    bool ok = false;
    const int v = protocol::TrimBlanks(text).toInt(&ok);
    return ok ? std::optional<int>(v) : std::nullopt;
}

RemoteConfig::Result Failure(const QString& step, const QString& why) {
    RemoteConfig::Result r;
    r.step = step;
    r.error = why;
    return r;
}

} // namespace

QByteArray RemoteConfig::report(const ClientSettings& s) const {
    QByteArray out;
    out += ReportLine(s.background);
    out += ReportLine(s.alarmSnd);
    out += Flag(p_.autostart.isEnabled());
    out += Flag(s.glbBarraInvisible);
    out += Flag(keys::kProtectWinLogo.value(p_.registry));
    out += ReportLine(s.winBackground);
    out += ReportLine(QString::number(s.winBackgroundStyle + s.winBackgroundTile));
    out += protocol::EncodeUInt32(config::ConfigModel::ReadHiddenDrives(p_.registry));
    const QList<Banners::Entry>& list = p_.banners.list();
    out += protocol::EncodeInt32(static_cast<qint32>(list.size()));
    for (const Banners::Entry& e : list) {
        out += protocol::EncodeInt32(e.seconds);
        out += ReportLine(e.file);
    }
    return out;
}

bool RemoteConfig::applyWallpaper(const ClientSettings& s) {
    if (s.winBackground.isEmpty())
        return true;
    Wallpaper rule(p_.registry, p_.desktop);
    return rule.apply(StationFile(p_.files.folder(), s.winBackground), s.winBackgroundTile,
                      s.winBackgroundStyle) != Wallpaper::Outcome::Failed;
}

RemoteConfig::Result RemoteConfig::apply(int code, const QByteArray& payload,
                                         const std::optional<QByteArray>& block,
                                         ClientSettings& s) {
    const QByteArray text = protocol::TrimBlanks(payload);
    const bool on = text.startsWith('1');
    switch (code) {
    case tc::SendBackground:
    case tc::SendAlarmSound:
    case tc::SendWallpaper:
        return receiveFile(code, payload, block, s);
    case tc::SetWallpaperStyle: {
        const int n = Decimal(text.left(16)).value_or(0);
        s.winBackgroundTile = n > 1 ? 0 : n;
        s.winBackgroundStyle = n > 1 ? n : 0;
        Result r;
        r.wallpaperFailed = !applyWallpaper(s);
        return r;
    }
    case tc::SetAutoStart: {
        QString err;
        if (!p_.autostart.setEnabled(on, &err))
            return Failure(QStringLiteral("AutoInit"), err);
        return {};
    }
    case tc::SetTaskBarHidden:
        p_.desktop.setTaskBarHidden(on);
        s.glbBarraInvisible = on;
        if (!keys::kGlbBarraInvisible.write(p_.registry, on))
            return Failure(QStringLiteral("AutoInvisibleTaskBar(2)"),
                           QStringLiteral("No se pudo guardar GlbBarraInvisible"));
        return {};
    case tc::SetLogoProtect: {
        const bool protect = on && p_.backupLogos && p_.backupLogos();
        if (!keys::kProtectWinLogo.write(p_.registry, protect))
            return Failure(QStringLiteral("AutoLogoProtect(2)"),
                           QStringLiteral("No se pudo guardar ProtectWinLogo"));
        if (on && !protect)
            return Failure(QStringLiteral("AutoLogoProtect"),
                           QStringLiteral("No fue posible respaldar los logotipos"));
        return {};
    }
    case tc::SetDiskState: {
        const std::optional<int> mask = Decimal(text.left(16));
        if (!mask)
            return Failure(QStringLiteral("SetDiskState"),
                           QStringLiteral("Máscara de unidades no válida: '") +
                               common::FromCp1252(text.left(32)) + u'\'');
        const quint32 m = static_cast<quint32>(*mask) & 0x03FFFFFFu;
        // Written as an integer, as the cashier's command always has.
        if (!keys::kNoDrives.writeAs<platform::form::Integer>(p_.registry, static_cast<qint32>(m)))
            return Failure(QStringLiteral("SetDiskState(2)"),
                           QStringLiteral("No se pudo guardar NoDrives"));
        Result r;
        QString why;
        if (!p_.desktop.setHiddenDrives(m, &why))
            r.hiddenDrivesFailed = why.isEmpty() ? QStringLiteral("sin razón") : why;
        return r;
    }
    case tc::SendBanner:
    case tc::SetBannerDelay:
    case tc::DeleteBanner:
        return banner(code, payload, block);
    default:
        return Failure(QString(), QStringLiteral("Comando desconocido"));
    }
}

RemoteConfig::Result RemoteConfig::receiveFile(int code, const QByteArray& payload,
                                               const std::optional<QByteArray>& block,
                                               ClientSettings& s) {
    const QString step = code == tc::SendBackground   ? QStringLiteral("ReceiveBackImage")
                         : code == tc::SendAlarmSound ? QStringLiteral("ReceiveAlarmSound")
                                                      : QStringLiteral("ReceiveWallpaper");
    Result r;
    QString name;
    if (block) {
        QString err;
        const QString serverPath = common::FromCp1252(protocol::TrimBlanks(payload));
        const std::optional<QString> stored = p_.files.store(serverPath, *block, &err);
        if (!stored)
            return transferFailed(code, serverPath, err, s);
        name = *stored;
    }
    switch (code) {
    case tc::SendBackground:
        // A picture the lock cannot show is not kept as the lock's picture
        // (the file stays in the folder).
        if (!name.isEmpty() && !LooksLikePicture(QByteArrayView(*block).first(
                                   std::min<qsizetype>(16, block->size())))) {
            s.background.clear();
            r = Failure(step, QStringLiteral("El archivo '") + name +
                                  QStringLiteral("' no es una imagen"));
        } else {
            s.background = name;
        }
        r.lockPicture = s.background;
        return r;
    case tc::SendAlarmSound:
        s.alarmSnd = name;
        return r;
    default:
        s.winBackground = name;
        r.wallpaperFailed = !applyWallpaper(s);
        return r;
    }
}

RemoteConfig::Result RemoteConfig::transferFailed(int code, const QString& serverPath,
                                                  const QString& why, ClientSettings& s) {
    const QString step =
        code == tc::SendBackground ? QStringLiteral("ReceiveBackImage") : QString();
    Result r = Failure(step, why);
    // The alarm sound and the wallpaper keep the name they were sent under
    // even when their file did not arrive whole (a name that could not be a
    // file of the folder is not kept); the lock's picture stays as it was.
    const std::optional<QString> name = p_.files.safeName(serverPath, nullptr);
    if (!name || code == tc::SendBackground)
        return r;
    if (code == tc::SendAlarmSound) {
        s.alarmSnd = *name;
    } else if (code == tc::SendWallpaper) {
        s.winBackground = *name;
        r.wallpaperFailed = !applyWallpaper(s);
    }
    return r;
}

RemoteConfig::Result RemoteConfig::banner(int code, const QByteArray& payload,
                                          const std::optional<QByteArray>& block) {
    const qsizetype comma = payload.indexOf(',');
    const QByteArray head = comma < 0 ? payload : payload.left(comma);
    const QByteArray rest = comma < 0 ? QByteArray() : payload.mid(comma + 1);
    const QString step = code == tc::SendBanner       ? QStringLiteral("SetBannerFile")
                         : code == tc::SetBannerDelay ? QStringLiteral("SetBannerDelay")
                                                      : QStringLiteral("SetBannerDelete");
    const std::optional<int> position = Decimal(head.left(16));
    if (!position)
        return Failure(step, QStringLiteral("Posición de banner no válida: '") +
                                 common::FromCp1252(head.left(32)) + u'\'');
    const int count = static_cast<int>(p_.banners.list().size());
    auto outside = [&] {
        return Failure(step, QStringLiteral("La posición %1 no está en la lista de banners (%2)")
                                 .arg(*position)
                                 .arg(count));
    };
    Result r;
    switch (code) {
    case tc::SendBanner: {
        QString err;
        const std::optional<QString> stored = p_.files.store(
            common::FromCp1252(protocol::TrimBlanks(rest)), block.value_or(""), &err);
        if (!stored)
            return Failure(QStringLiteral("SetBannerFile(2)"), err);
        p_.banners.setFile(*position, *stored);
        break;
    }
    case tc::SetBannerDelay: {
        const std::optional<int> seconds = Decimal(rest.left(16));
        if (!seconds || *seconds < 0 || *seconds > kMaxBannerSeconds)
            return Failure(step, QStringLiteral("Segundos de banner no válidos: '") +
                                     common::FromCp1252(protocol::TrimBlanks(rest).left(32)) +
                                     u'\'');
        if (!p_.banners.setSeconds(*position, *seconds))
            return outside();
        break;
    }
    default:
        if (!p_.banners.remove(*position))
            return outside();
        break;
    }
    p_.banners.load();
    r.bannersChanged = true;
    return r;
}

} // namespace tarvina::client
