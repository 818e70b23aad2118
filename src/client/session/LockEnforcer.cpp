#include "client/session/LockEnforcer.h"

#include "client/link/StationLink.h"
#include "client/session/PinEntry.h"
#include "client/station/MachineControl.h"
#include "client/station/StationContext.h"
#include "client/station/StationLog.h"
#include "client/station/StationView.h"
#include "common/Cp1252.h"
#include "protocol/StationLines.h"

#include <QFile>
#include <QFileInfo>

namespace tarvina::client {

using common::DateTime;
using platform::WindowId;

namespace {

// The station's windows that belong above the lock, bottom first, so that
// the dialogs end above the main window.
constexpr OwnWindow kAboveLock[] = {OwnWindow::Main,   OwnWindow::Welcome, OwnWindow::Password,
                                    OwnWindow::Notice, OwnWindow::SendMsg, OwnWindow::ReqTime};

} // namespace

LockEnforcer::LockEnforcer(StationContext& ctx, StationLink& link, PinEntry& pin, StateSource state,
                           QObject* parent)
    : QObject(parent), ctx_(ctx), link_(link), pin_(pin), state_(std::move(state)), guard_(ctx) {}

WindowId LockEnforcer::ownId(OwnWindow w) const {
    return ctx_.platform.own.id(w);
}

bool LockEnforcer::ownShowing(OwnWindow w) const {
    if (w == OwnWindow::Lock)
        return ctx_.view.display().lockVisible;
    if (w == OwnWindow::Main)
        return ctx_.view.display().mainVisible;
    if (w == OwnWindow::Welcome)
        return ctx_.platform.welcome.isShowing();
    return ctx_.platform.own.isShowing(w);
}

bool LockEnforcer::IsOwnWindow(WindowId w, std::initializer_list<OwnWindow> kinds) const {
    if (w == 0)
        return false;
    for (OwnWindow k : kinds)
        if (ownId(k) == w)
            return true;
    return false;
}

void LockEnforcer::ShowLockScreen() {
    ClientDisplay& d = ctx_.view.display();
    const QString bg = StationFile(ctx_.env.currentDir, ctx_.settings.background);
    d.lockPicture = !ctx_.settings.background.isEmpty() && QFileInfo::exists(bg) ? bg : QString();
    // The display server's own keys (text consoles, killing the server)
    // stay off while the lock is up; turned off before it shows, as that
    // takes a moment in which the lock must already answer any window that
    // covers it.
    if (!ctx_.env.testMode)
        ctx_.platform.windows.setSystemKeysBlocked(true);
    d.lockVisible = true;
    Q_EMIT ctx_.view.raiseLockScreen();
    ctx_.view.changed();
    HoldInput();
    StackingChanged();
}

void LockEnforcer::CloseLockScreen() {
    ctx_.view.display().lockMayClose = true;
    ctx_.view.display().lockVisible = false;
    ctx_.view.changed();
    ReleaseInput();
}

WindowId LockEnforcer::KeyWindow() const {
    // The window that is to take what the customer types: a dialog asking
    // something, else the main window with its code box, else the lock.
    for (OwnWindow o : {OwnWindow::Password, OwnWindow::Welcome, OwnWindow::Notice,
                        OwnWindow::SendMsg, OwnWindow::ReqTime}) {
        if (ownShowing(o) && ownId(o) != 0)
            return ownId(o);
    }
    if (ctx_.view.display().mainVisible && ownId(OwnWindow::Main) != 0)
        return ownId(OwnWindow::Main);
    return ownId(OwnWindow::Lock);
}

void LockEnforcer::HoldInput() {
    if (ctx_.env.testMode || !ctx_.view.display().lockVisible)
        return;
    // A grab by the window that takes the keys: the window manager's own
    // bindings never see them, and keys typed at another program come here.
    // Taken again on every tick, as a menu or a dialog of our own ends it.
    ctx_.platform.windows.grabInput(KeyWindow());
}

void LockEnforcer::ReleaseInput() {
    ctx_.platform.windows.releaseInput();
    ctx_.platform.windows.setSystemKeysBlocked(false);
}

void LockEnforcer::KeepLockOnTop() {
    if (ctx_.env.testMode || !ctx_.view.display().lockVisible)
        return;
    // Raised only over something foreign: raised for nothing, the lock would
    // cover the station's windows that belong above it, such as the main
    // window that the double click ending in this very button release has
    // just shown, until the next tick lifted them again.
    if (!ForeignAboveLock())
        return;
    platform::WindowSystem& ws = ctx_.platform.windows;
    ctx_.log.lastCommand().set(QStringLiteral("FixTop"));
    ws.setTopMost(ownId(OwnWindow::Lock));
    // Raised again at once: the window manager may not have restacked yet,
    // so the order read now would not show them covered.
    for (OwnWindow o : kAboveLock) {
        const WindowId id = ownId(o);
        if (id != 0 && ownShowing(o))
            ws.raise(id);
    }
}

bool LockEnforcer::ForceForeground(WindowId w, bool activate) {
    platform::WindowSystem& ws = ctx_.platform.windows;
    if (w == 0)
        return false;
    const bool ok = activate ? ws.setForeground(w) : true;
    if (w == ownId(OwnWindow::Lock)) {
        for (OwnWindow o : {OwnWindow::Main, OwnWindow::Welcome, OwnWindow::Password}) {
            if (!ownShowing(o))
                continue;
            const WindowId id = ownId(o);
            ws.raise(id);
            ws.setForeground(id);
            ws.setTopMost(id);
        }
    }
    return ok;
}

void LockEnforcer::LiftOwnWindows() {
    platform::WindowSystem& ws = ctx_.platform.windows;
    const auto order = ws.stackingOrder();
    if (!order)
        return;
    const qsizetype lockAt = order->indexOf(ownId(OwnWindow::Lock));
    if (lockAt < 0)
        return;
    for (OwnWindow o : kAboveLock) {
        const WindowId id = ownId(o);
        if (id == 0 || !ownShowing(o))
            continue;
        if (order->indexOf(id) > lockAt)
            ws.raise(id);
    }
}

void LockEnforcer::RaiseClock() {
    if (ctx_.platform.windows.foregroundWindow() != ownId(OwnWindow::Clock))
        ctx_.platform.windows.setTopMost(ownId(OwnWindow::Clock));
}

bool LockEnforcer::ForeignAboveLock() {
    const auto order = ctx_.platform.windows.stackingOrder();
    if (!order)
        return true;
    const WindowId lock = ownId(OwnWindow::Lock);
    for (WindowId w : *order) {
        if (w == lock)
            return false;
        if (ctx_.platform.windows.windowTitle(w).isEmpty())
            continue;
        if (!IsOwnWindow(w,
                         {OwnWindow::Clock, OwnWindow::Welcome, OwnWindow::Notice,
                          OwnWindow::Progress, OwnWindow::ReqTime, OwnWindow::SendMsg,
                          OwnWindow::Password, OwnWindow::App, OwnWindow::Main, OwnWindow::Config}))
            return true;
    }
    return false;
}

bool LockEnforcer::Guarding() const {
    if (ctx_.env.testMode || ctx_.closing.load() ||
        ctx_.platform.own.isShowing(OwnWindow::Config) || !ctx_.view.display().lockVisible)
        return false;
    const ClientState s = state_();
    return s == ClientState::Locked || s == ClientState::Waiting;
}

void LockEnforcer::StackingChanged() {
    if (Guarding())
        guard_.Restack(ownId(OwnWindow::Lock), KeyWindow());
}

void LockEnforcer::EnforcementTick() {
    // What came above the lock since the last tick; and, read now, what
    // covers it now.
    WindowId coverer = guard_.TakeCoverer();
    if (ctx_.env.testMode || ctx_.closing.load() || ctx_.platform.own.isShowing(OwnWindow::Config))
        return;
    platform::WindowSystem& ws = ctx_.platform.windows;
    const ClientState state = state_();
    StackingChanged();
    if (const WindowId now = guard_.TakeCoverer())
        coverer = now;
    WindowId f = ws.foregroundWindow();
    if (state == ClientState::Waiting && ownShowing(OwnWindow::Welcome) &&
        f != ownId(OwnWindow::Welcome)) {
        const WindowId welcome = ownId(OwnWindow::Welcome);
        ForceForeground(welcome, true);
        ws.setTopMost(welcome);
        f = ws.foregroundWindow();
    }
    const QString cls = ws.windowClass(f, 100);
    pin_.TimeoutCheck();
    if (state == ClientState::Locked || state == ClientState::Waiting)
        HoldInput();
    const bool locked = state == ClientState::Locked || state == ClientState::Waiting;
    // No window in front (a desktop without a window manager, or a moment
    // between two windows): nothing to fight, and nothing to count but a
    // window that came above the lock.
    if (f == 0) {
        if (locked)
            CountCoverer(coverer);
        return;
    }

    if (locked) {
        const std::pair<OwnWindow, Txt> named[] = {
            {OwnWindow::Main, Txt::StrMainActive},   {OwnWindow::Lock, Txt::StrBackActive},
            {OwnWindow::Clock, Txt::StrClockActive}, {OwnWindow::Welcome, Txt::StrGrantAccess},
            {OwnWindow::Tasks, Txt::StrCheckTask},   {OwnWindow::Notice, Txt::StrNotice},
            {OwnWindow::Progress, Txt::StrNotice},   {OwnWindow::Password, Txt::StrPassReq},
            {OwnWindow::App, Txt::StrAppPresent},
        };
        for (const auto& [kind, text] : named) {
            if (f == ownId(kind)) {
                ctx_.view.setStatus(ctx_.view.text(text));
                LiftOwnWindows();
                // The lock and the clock take no typing: what the customer
                // types goes to the window that asks for it (the code box).
                if (kind == OwnWindow::Lock || kind == OwnWindow::Clock) {
                    const WindowId key = KeyWindow();
                    if (key != f && key != 0)
                        ws.setForeground(key);
                }
                CountCoverer(coverer);
                return;
            }
        }
        if (ws.isTaskBar(f) || cls == u"Shell_TrayWnd") {
            ctx_.view.setStatus(QStringLiteral("Shell_TrayWnd"));
            ws.postTaskList(f);
            CountCoverer(coverer);
            return;
        }
        FightForeignWindow(f);
        return;
    }
    if (!IsOwnWindow(f, {OwnWindow::Clock, OwnWindow::Main, OwnWindow::Welcome, OwnWindow::Tasks,
                         OwnWindow::Notice, OwnWindow::Progress, OwnWindow::ReqTime,
                         OwnWindow::SendMsg, OwnWindow::Password, OwnWindow::App}))
        ws.setTopMost(ownId(OwnWindow::Clock));
}

void LockEnforcer::CountForeignWindow(WindowId w) {
    if (w == foreignWindow_) {
        ++foreignCount_;
    } else {
        foreignWindow_ = w;
        foreignCount_ = 1;
    }
    if (foreignCount_ > 35) {
        link_.SendFreeMessage("El bloqueo no se hace efectivo");
        link_.SendReply(protocol::station::TaskListTagged(static_cast<quint32>(w),
                                                          ctx_.platform.control.taskCaptions()));
        Q_EMIT lockIneffective();
    }
}

void LockEnforcer::CountCoverer(WindowId w) {
    if (w == 0)
        return;
    // Put back under the lock on every try, but trying again and again: as
    // a window kept in front would be.
    ctx_.view.setStatus(ctx_.view.text(Txt::StrExtWin));
    CountForeignWindow(w);
}

void LockEnforcer::FightForeignWindow(WindowId f) {
    platform::WindowSystem& ws = ctx_.platform.windows;
    ctx_.view.setStatus(ctx_.view.text(Txt::StrExtWin));
    CountForeignWindow(f);
    const bool above = ForeignAboveLock();
    const WindowId lock = ownId(OwnWindow::Lock);
    if ((f != ownId(OwnWindow::SendMsg) || above) && f != lock) {
        // The lock to the front, then the station's windows that belong
        // above it (the code box, the welcome dialog) raised over it again.
        ctx_.log.lastCommand().set(QStringLiteral("FixTop"));
        ws.setTopMost(lock);
        ForceForeground(lock, true);
    }
    if (!above)
        return;
    if (state_() != ClientState::Locked)
        ws.setTopMost(ownId(OwnWindow::Clock));
    for (OwnWindow o : {OwnWindow::Password, OwnWindow::Notice, OwnWindow::Config,
                        OwnWindow::Welcome, OwnWindow::SendMsg}) {
        if (ownShowing(o)) {
            const WindowId id = ownId(o);
            ws.raise(id);
            ws.setTopMost(id);
            ws.setForeground(id);
            return;
        }
    }
    if (ctx_.view.display().mainVisible) {
        const WindowId id = ownId(OwnWindow::Main);
        ws.raise(id);
        ws.setTopMost(id);
        ws.setForeground(id);
    }
}

void LockEnforcer::ToggleMainWindow() {
    ClientDisplay& d = ctx_.view.display();
    if (d.mainVisible) {
        d.mainVisible = false;
    } else {
        d.mainVisible = true;
        const ClientState s = state_();
        if (d.lockVisible || s == ClientState::Locked || s == ClientState::Waiting)
            ctx_.platform.windows.setTopMost(ownId(OwnWindow::Main));
    }
    ctx_.view.changed();
}

void LockEnforcer::LockBackgroundClicked() {
    if (!ctx_.view.display().mainVisible) {
        ToggleMainWindow();
        return;
    }
    // The click gave the lock the focus: the main window comes back on top
    // and takes the keys again.
    const WindowId main = ownId(OwnWindow::Main);
    ctx_.platform.windows.setTopMost(main);
    if (!ctx_.env.testMode)
        ctx_.platform.windows.setForeground(main);
}

void LockEnforcer::HideMainWindow() {
    ctx_.view.display().mainVisible = false;
    ctx_.view.changed();
}

void LockEnforcer::SetLockOpacity(int alpha) {
    if (ctx_.firstShowPending)
        return;
    ClientDisplay& d = ctx_.view.display();
    alpha = std::clamp(alpha, 0, 255);
    if (alpha == d.lockOpacity)
        return;
    d.lockOpacity = alpha;
    if (alpha != 255)
        d.lockLayered = true;
    ctx_.view.changed();
}

int LockEnforcer::LockOpacity() const {
    return ctx_.view.display().lockOpacity;
}

void LockEnforcer::RestartBannerClock() {
    lastBannerChange_ = ctx_.now();
}

void LockEnforcer::BannerTick(const DateTime& t) {
    MachineControl& control = ctx_.platform.control;
    const QList<MachineControl::Banner> list = control.banners();
    const int def = control.defaultBannerDelay();
    int delay = def;
    if (!list.isEmpty())
        delay = bannerIndex_ < list.size() ? list[bannerIndex_].delaySeconds : 5;
    if (delay <= 0)
        delay = def;
    if (delay <= 0 || !ctx_.view.display().lockVisible || lastBannerChange_.secondsTo(t) <= delay)
        return;
    lastBannerChange_ = t;
    if (list.isEmpty())
        return;
    bannerIndex_ = (bannerIndex_ + 1) % list.size();
    const QString file = list[bannerIndex_].file;
    if (!QFileInfo::exists(file))
        return;
    ctx_.view.display().bannerFile = file;
    ctx_.view.display().bannerSerial++;
    ctx_.view.changed();
}

bool LockEnforcer::AlarmExempt() {
    if (exemptions_.isEmpty())
        return false;
    platform::WindowSystem& ws = ctx_.platform.windows;
    for (WindowId w : ws.visibleTitledWindows()) {
        if (IsOwnWindow(w, {OwnWindow::Main, OwnWindow::Clock, OwnWindow::App}))
            continue;
        const QString title = ws.windowTitle(w);
        for (const QString& ex : exemptions_)
            if (title.compare(ex, Qt::CaseInsensitive) == 0)
                return true;
    }
    return false;
}

void LockEnforcer::LoadExemptions() {
    exemptions_.clear();
    QFile f(StationFile(ctx_.env.currentDir, QStringLiteral("noalarm.txt")));
    if (!f.open(QIODevice::ReadOnly))
        return;
    // A list of window titles: a few kilobytes at most in practice.
    const QByteArray bytes = f.read(256 * 1024);
    for (const QByteArray& raw : bytes.split('\n')) {
        QString line = common::FromCp1252(raw);
        if (line.endsWith(u'\r'))
            line.chop(1);
        const QString t = line.trimmed();
        if (t.startsWith(u'#') || t.startsWith(u';'))
            continue;
        if (line.isEmpty())
            continue;
        exemptions_ << line;
    }
}

} // namespace tarvina::client
