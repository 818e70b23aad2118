#include "client/control/StationMachine.h"

#include "client/control/RunCommand.h"
#include "client/link/StationLink.h"
#include "client/station/MachineControl.h"
#include "client/station/StationContext.h"
#include "client/station/StationLog.h"
#include "common/Cp1252.h"
#include "platform/Audio.h"
#include "platform/Drives.h"
#include "platform/Shell.h"
#include "platform/SystemTime.h"
#include "protocol/StationLines.h"

#include <QCryptographicHash>

namespace tarvina::client {

using common::DateTime;

namespace {

constexpr char kAdSalt[] = "tarvina puesto anuncios"; // three words, 23 characters
static_assert(sizeof(kAdSalt) - 1 == 23);

QString PercentEncodeMac(const QString& mac) {
    QString out;
    for (QChar c : mac) {
        const ushort u = c.unicode();
        if ((u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z'))
            out += c;
        else
            out += QStringLiteral("%%1").arg(u & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
    }
    return out;
}

// The advertising endpoint on the configured host; empty when there is none
// (or when the setting is not a bare host, with its port at most).
QString AdEndpoint(const QString& host) {
    if (host.isEmpty() || host.size() > 253)
        return {};
    for (QChar c : host)
        if (!(c.isLetterOrNumber() || c == u'.' || c == u'-' || c == u':' || c == u'[' ||
              c == u']'))
            return {};
    return QStringLiteral("http://") + host + QStringLiteral("/zu/newsite.php");
}

} // namespace

StationMachine::StationMachine(StationContext& ctx, StationLink& link, QObject* parent)
    : QObject(parent), ctx_(ctx), link_(link) {}

StationMachine::~StationMachine() {
    ReapTrays(true);
}

void StationMachine::SyncTime(double days) {
    if (days <= 0)
        return;
    QString err;
    if (!ctx_.platform.timeSetter.setLocalTime(DateTime::FromDays(days), &err))
        ctx_.log.LogException(QStringLiteral("ManifestSyncTime ") + err);
}

void StationMachine::CdList() {
    link_.SendReply(protocol::station::CdList(ctx_.platform.drives.cdDriveLetters().toLatin1()));
}

void StationMachine::ReapTrays(bool all) {
    for (auto it = trays_.begin(); it != trays_.end();) {
        if (all || it->done->load()) {
            it->thread.join();
            it = trays_.erase(it);
        } else {
            ++it;
        }
    }
}

void StationMachine::CdTray(QChar letter, bool open) {
    ctx_.log.lastCommand().set(QStringLiteral("OpenCloseCD"));
    ReapTrays(false);
    auto done = std::make_shared<std::atomic<bool>>(false);
    platform::Drives& drives = ctx_.platform.drives;
    StationLog& log = ctx_.log;
    std::thread t([&drives, &log, letter, open, done] {
        QString err;
        if (!drives.setTray(letter, open, &err)) {
            log.lastCommand().set(QStringLiteral("TIdleCDExitThread"));
            log.LogException(QStringLiteral("OpenCloseCD ") + err);
        }
        done->store(true);
    });
    trays_.push_back({std::move(t), std::move(done)});
}

void StationMachine::SetVolume(quint16 left, quint16 right) {
    ctx_.platform.audio.setVolume({left, right});
}

void StationMachine::VolumeQuery() {
    const auto v = ctx_.platform.audio.volume();
    link_.SendReply(v ? protocol::station::VolumeReport(v->left, v->right)
                      : protocol::station::VolumeFailed());
}

void StationMachine::OpenRemote(QString address) {
    const QString endpoint = AdEndpoint(ctx_.settings.publicidadHost);
    if (!endpoint.isEmpty() && address == endpoint)
        address += QStringLiteral("?pais=") + country_;
    const RunCommand command = RunCommand::Parse(address, &RunCommand::FindOnPath);
    if (command.kind == RunCommand::Kind::None) {
        ctx_.log.LogException(QStringLiteral("OpenRemote: no se encontró '") + address.left(200) +
                              u'\'');
        return;
    }
    if (!command.run(ctx_.platform.shell))
        ctx_.log.LogException(QStringLiteral("OpenRemote: no se pudo abrir '") + command.target +
                              u'\'');
}

void StationMachine::ShowAdPage() {
    const QString endpoint = AdEndpoint(ctx_.settings.publicidadHost);
    if (endpoint.isEmpty()) {
        // No host: the station has no advertising page.
        if (!ctx_.settings.publicidadHost.isEmpty())
            ctx_.log.LogException(QStringLiteral("ShowAdPage: PublicidadHost no es un nombre de "
                                                 "equipo: '") +
                                  ctx_.settings.publicidadHost.left(100) + u'\'');
        return;
    }
    const QString mac = ctx_.env.macText;
    const QByteArray digest =
        QCryptographicHash::hash(common::ToCp1252(mac) + QByteArray::number(memberId_) + kAdSalt,
                                 QCryptographicHash::Md5)
            .toHex()
            .toUpper();
    ctx_.platform.shell.openDocument(endpoint + QStringLiteral("?idsocio=") +
                                     QString::number(memberId_) + QStringLiteral("&mac=") +
                                     PercentEncodeMac(mac) + QStringLiteral("&cmd=") +
                                     QString::fromLatin1(digest));
}

void StationMachine::MediaCheck() {
    const DateTime t = ctx_.now();
    if (mediaCheck_.days() != 0 && mediaCheck_.msecsTo(t) < 60000)
        return;
    mediaCheck_ = t;
    for (QChar letter : ctx_.platform.drives.lettersWithMedia())
        link_.SendFreeMessage("-urgeHay un disco en la unidad '" +
                              QByteArray(1, letter.toLatin1()) + "'");
}

void StationMachine::Posted(int code) {
    ctx_.platform.control.onPosted(code,
                                   [this](const QByteArray& l) { return link_.SendReply(l); });
}

} // namespace tarvina::client
