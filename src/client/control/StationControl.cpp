#include "client/control/StationControl.h"

#include "client/control/BmpImage.h"
#include "client/control/Wallpaper.h"
#include "client/link/StationLink.h"
#include "client/station/StationContext.h"
#include "client/station/StationLog.h"
#include "client/station/StationView.h"
#include "common/Cp1252.h"
#include "platform/ScreenGrabber.h"
#include "protocol/Block.h"
#include "protocol/Codes.h"
#include "protocol/Fields.h"
#include "protocol/Line.h"
#include "protocol/StationLines.h"

#include <QFileInfo>

namespace tarvina::client {

namespace tc = protocol::tc;
namespace station = protocol::station;

namespace {

bool IsOwn(OwnWindows& own, platform::WindowId w) {
    for (int i = 0; i < static_cast<int>(OwnWindow::Count); ++i)
        if (own.id(static_cast<OwnWindow>(i)) == w)
            return true;
    return false;
}

// The step each remote item names in the exception log while it runs.
QString StepOf(int code) {
    switch (code) {
    case tc::CloseTask:
        return QStringLiteral("KillTask");
    case tc::SendBackground:
        return QStringLiteral("ReceiveBackImage");
    case tc::SetWallpaperStyle:
        return QStringLiteral("StyleWallpaper");
    case tc::SetAutoStart:
        return QStringLiteral("AutoInit");
    case tc::SetTaskBarHidden:
        return QStringLiteral("AutoInvisibleTaskBar");
    case tc::SetLogoProtect:
        return QStringLiteral("AutoLogoProtect");
    case tc::SetDiskState:
        return QStringLiteral("SetDiskState");
    case tc::SendBanner:
        return QStringLiteral("SetBannerFile");
    case tc::SetBannerDelay:
        return QStringLiteral("SetBannerDelay");
    case tc::DeleteBanner:
        return QStringLiteral("SetBannerDelete");
    default:
        return {};
    }
}

} // namespace

StationControl::StationControl(Parts parts, QObject* parent)
    : QObject(parent), p_(std::move(parts)),
      tasks_(p_.windows, p_.registry, p_.processes,
             [own = &p_.own](platform::WindowId w) { return w != 0 && IsOwn(*own, w); }),
      files_(p_.programFolder, p_.exeName), banners_(p_.registry, p_.programFolder),
      remote_({p_.registry, p_.desktop, p_.autostart, files_, banners_,
               [this] { return host_ && host_->backupLogos && host_->backupLogos(); }}),
      startMode_(p_.modes.current()) {
    loadBannerList();
}

void StationControl::attach(ControlHost* host) {
    host_ = host;
    if (host_)
        loadBannerList();
}

void StationControl::fail(const QString& step, const QString& why) {
    if (!host_)
        return;
    if (!step.isEmpty())
        host_->ctx.log.lastCommand().set(step);
    host_->ctx.log.LogException(QStringLiteral("NewMsg") + why);
}

void StationControl::onCommand(int code, const QByteArray& payload, const QByteArray& block,
                               const SendFn& send) {
    // A block came with the file items, except for a line that clears one.
    const bool hasBlock =
        code == tc::SendBanner ||
        ((code == tc::SendBackground || code == tc::SendAlarmSound || code == tc::SendWallpaper) &&
         !protocol::TrimBlanks(payload).isEmpty());
    std::optional<QByteArray> file;
    if (hasBlock)
        file = block;
    // The receive thread goes on reading; the work runs on the main thread.
    QMetaObject::invokeMethod(
        this, [this, code, payload, file, send] { command(code, payload, file, send); },
        Qt::QueuedConnection);
}

void StationControl::command(int code, const QByteArray& payload,
                             const std::optional<QByteArray>& block, const SendFn& send) {
    // Queued work that arrives after the station let go of this control
    // has no one to answer to.
    if (!host_)
        return;
    if (const QString step = StepOf(code); !step.isEmpty())
        host_->ctx.log.lastCommand().set(step);
    switch (code) {
    case tc::TaskListQuery:
        sendTaskList(send);
        return;
    case tc::CloseTask:
        // The whole text after the code is the title, commas and all.
        tasks_.close(common::FromCp1252(payload.left(4 * TaskList::kMaxTitle)));
        return;
    default:
        break;
    }
    const RemoteConfig::Result r = remote_.apply(code, payload, block, host_->ctx.settings);
    if (r.lockPicture) {
        const QString file = StationFile(p_.programFolder, *r.lockPicture);
        host_->ctx.view.display().lockPicture =
            !r.lockPicture->isEmpty() && QFileInfo::exists(file) ? file : QString();
        host_->ctx.view.changed();
    }
    if (r.bannersChanged)
        refreshBanners();
    if (r.wallpaperFailed)
        host_->link.SendClientMessage(Wallpaper::kFailure);
    if (!r.hiddenDrivesFailed.isEmpty())
        ReportHiddenDrivesFailure(host_->link, host_->ctx.log, r.hiddenDrivesFailed);
    if (r.failed())
        fail(r.step, r.error);
}

void StationControl::onTransferFailed(int code, const QByteArray& payload) {
    QMetaObject::invokeMethod(
        this,
        [this, code, payload] {
            if (!host_)
                return;
            if (const QString step = StepOf(code); !step.isEmpty())
                host_->ctx.log.lastCommand().set(step);
            const RemoteConfig::Result r = remote_.transferFailed(
                code, common::FromCp1252(protocol::TrimBlanks(payload)),
                QStringLiteral("Transferencia de archivo interrumpida"), host_->ctx.settings);
            if (r.wallpaperFailed)
                host_->link.SendClientMessage(Wallpaper::kFailure);
            fail(r.step, r.error);
        },
        Qt::QueuedConnection);
}

void StationControl::onPosted(int code, const SendFn& send) {
    if (!host_)
        return;
    switch (code) {
    case tc::ScreenQuery:
        sendScreen();
        return;
    case tc::CleanTasks:
        cleanTasks();
        return;
    case tc::ConfigQuery:
        sendConfigReport();
        return;
    case tc::TaskListQuery:
        sendTaskList(send);
        return;
    default:
        return;
    }
}

void StationControl::sendTaskList(const SendFn& send) {
    if (p_.windows.displayLost()) {
        send(station::ClientMessage("No fue posible crear lista de tareas"));
        send(station::TaskList({}));
        return;
    }
    send(station::TaskList(TaskList::Encode(tasks_.tasks())));
}

void StationControl::sendScreen() {
    if (!host_ || !host_->link.connected())
        return;
    host_->ctx.log.lastCommand().set(QStringLiteral("ManifestSendScreenShot"));
    QString err;
    const std::optional<platform::ScreenImage> image = p_.grabber.grab(&err);
    const QByteArray bmp = image ? EncodeBmp(*image) : QByteArray();
    if (bmp.isEmpty()) {
        // Told to the cashier's console: the capture window waits otherwise.
        host_->link.SendClientMessage(QStringLiteral("No fue posible capturar la pantalla: ") +
                                      (err.isEmpty() ? QStringLiteral("imagen vacía") : err));
        return;
    }
    if (host_->link.SendLineAndBody(station::ScreenHead(), protocol::EncodeBlock(bmp)))
        host_->ctx.view.setStatus(Txt::StrSuccessTrans);
    else
        host_->ctx.view.setStatus(Txt::StrFailConn);
}

void StationControl::sendConfigReport() {
    if (!host_ || !host_->link.connected())
        return;
    host_->ctx.log.lastCommand().set(QStringLiteral("ManifestSendConfigToMaster"));
    const QByteArray report = remote_.report(host_->ctx.settings);
    host_->ctx.log.lastCommand().set(QStringLiteral("ManifestSendConfigToMaster(2)"));
    if (!host_->link.SendLineAndBody(station::ConfigReportHead(), report))
        host_->ctx.view.setStatus(Txt::StrFailConn);
}

void StationControl::cleanTasks() {
    host_->ctx.log.lastCommand().set(QStringLiteral("ManifestCleanTask"));
    const QStringList closed = tasks_.clean([this](const QString& title) {
        host_->link.SendFreeMessage("Eliminando tarea: " + common::ToCp1252(title));
    });
    // What was closed may have changed the screen's mode (a game): the mode
    // of the start comes back, when it was a real desktop's.
    if (closed.isEmpty() || !startMode_ || startMode_->width < 501 ||
        p_.modes.current() == startMode_)
        return;
    host_->ctx.log.lastCommand().set(QStringLiteral("ManifestCleanTask(2)"));
    QString err;
    if (!p_.modes.set(*startMode_, &err))
        fail(QStringLiteral("ManifestCleanTask(2)"), err);
}

QList<QByteArray> StationControl::taskCaptions() {
    QList<QByteArray> out;
    for (const TaskList::Task& t : tasks_.tasks())
        out << common::ToCp1252(t.title);
    return out;
}

void StationControl::refreshBanners() {
    // Resolved once here: the lock asks for the list every second.
    resolved_.clear();
    for (const Banners::Entry& e : banners_.list())
        resolved_.append({StationFile(p_.programFolder, e.file), e.seconds});
}

void StationControl::loadBannerList() {
    if (host_)
        host_->ctx.log.lastCommand().set(QStringLiteral("LoadBannerList"));
    banners_.load();
    refreshBanners();
}

void StationControl::applyWallpaper() {
    if (host_ && !remote_.applyWallpaper(host_->ctx.settings))
        host_->link.SendClientMessage(Wallpaper::kFailure);
}

} // namespace tarvina::client
