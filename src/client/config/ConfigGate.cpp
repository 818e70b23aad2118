#include "client/config/ConfigGate.h"

#include "client/link/StationLink.h"
#include "client/session/LockEnforcer.h"
#include "client/session/Session.h"
#include "client/station/MachineControl.h"
#include "client/station/StationContext.h"
#include "client/station/StationLog.h"
#include "client/station/StationView.h"
#include "common/Cp1252.h"
#include "common/Password.h"

#include <QFileInfo>

namespace tarvina::client::config {

ConfigGate::Result ConfigGate::MnuConfigClick(ConfigDialogView& dialog) {
    QString typed;
    const bool ok = ctx_.platform.password.exec(&typed);
    const bool match =
        ok && common::ScramblePassword(common::ToCp1252(typed)) == ctx_.settings.password;
    typed.fill(u' ');
    if (!ok)
        return Result::Cancelled;
    if (!match) {
        const QString bad = ctx_.view.text(Txt::StrBadPassword);
        ctx_.platform.password.setNextCaption(bad);
        ctx_.view.setStatus(bad);
        ctx_.platform.notice.showNotice(bad);
        return Result::Refused;
    }
    // The enforcement leaves the dialog alone while it shows (it is one of
    // the station's own windows); the lock goes out of its way meanwhile.
    lock_.CloseLockScreen();
    dialog.exec();
    if (session_.state() != ClientState::InUse && !ctx_.closing.load()) {
        ctx_.view.display().lockMayClose = false;
        lock_.ShowLockScreen();
    }
    return Result::Shown;
}

void StationConfigTarget::applySettings(const ClientSettings& next, bool hostChanged) {
    // A new host is stored and written at the close, and connected to from
    // the next start on, as the warning tells the staff.
    if (hostChanged)
        link_.KeepHostUntilRestart();
    ctx_.settings = next;
    link_.ApplySettings();
    lock_.SetLockOpacity(next.alphaBlend);
    session_.UpdateMenusForConnection();
}

bool StationConfigTarget::backupLogos(bool force) {
    return hooks_.backupLogos ? hooks_.backupLogos(force) : false;
}

void StationConfigTarget::setHiddenDrives(quint32 mask) {
    QString why;
    if (hooks_.setHiddenDrives && !hooks_.setHiddenDrives(mask, &why))
        ReportHiddenDrivesFailure(link_, ctx_.log, why);
}

void StationConfigTarget::setTaskBarHidden(bool hidden) {
    if (hooks_.setTaskBarHidden)
        hooks_.setTaskBarHidden(hidden);
}

void StationConfigTarget::showLockPicture(const QString& path) {
    const QString file = StationFile(ctx_.env.currentDir, path);
    ctx_.view.display().lockPicture = QFileInfo::exists(file) ? file : QString();
    ctx_.view.changed();
}

void StationConfigTarget::applyWallpaper() {
    control_.applyWallpaper();
}

void StationConfigTarget::reloadRotation() {
    control_.loadBannerList();
    lock_.RestartBannerClock();
}

} // namespace tarvina::client::config
