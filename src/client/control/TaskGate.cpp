#include "client/control/TaskGate.h"

#include "client/session/LockEnforcer.h"
#include "client/session/Session.h"
#include "client/station/ClientSettings.h"
#include "client/station/StationPlatform.h"
#include "client/station/StationView.h"
#include "common/Cp1252.h"
#include "common/Password.h"

namespace tarvina::client {

TaskPicker::TaskPicker(TaskList& tasks) : tasks_(tasks), lines_(tasks.tasks()) {}

QStringList TaskPicker::titles() const {
    QStringList out;
    for (const TaskList::Task& t : lines_)
        out << t.title;
    return out;
}

bool TaskPicker::finish(int row) {
    if (!canFinish(row))
        return false;
    // Asked, never waited for: a program that ignores it leaves the list
    // anyway, as the cashier's window does.
    tasks_.closeTask(lines_.takeAt(row));
    return true;
}

TaskGate::Result TaskGate::MnuTareasClick(TaskWindowView& window) {
    QString typed;
    const bool ok = p_.password.exec(&typed);
    const bool match =
        ok && common::ScramblePassword(common::ToCp1252(typed)) == p_.settings.password;
    typed.fill(u' ');
    if (!ok)
        return Result::Cancelled;
    if (!match) {
        const QString bad = p_.view.text(Txt::StrBadPassword);
        window.setPasswordCaption(bad);
        p_.view.setStatus(bad);
        p_.notice.showNotice(bad);
        return Result::Refused;
    }
    window.setPasswordCaption({});
    // The task window is one of the station's own: the enforcement leaves it
    // alone, and the lock goes out of its way while it shows.
    p_.lock.CloseLockScreen();
    TaskPicker picker(tasks_);
    window.exec(picker);
    if (p_.session.state() != ClientState::InUse && !(p_.closing && p_.closing())) {
        p_.view.display().lockMayClose = false;
        p_.lock.ShowLockScreen();
    }
    return Result::Shown;
}

} // namespace tarvina::client
