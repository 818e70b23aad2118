#pragma once

#include "client/session/CoverGuard.h"
#include "client/station/StationPlatform.h"
#include "common/DateTime.h"

#include <QObject>
#include <QStringList>
#include <functional>
#include <initializer_list>

namespace tarvina::client {

class PinEntry;
class StationLink;
struct StationContext;

// The lock screen and what keeps it in front: the enforcement tick that
// fights foreign windows, the station's own windows above the lock, the
// main window's visibility, the lock's opacity, the banner rotation on the
// lock, and the windows that silence the alarm ("noalarm.txt").
class LockEnforcer : public QObject {
    Q_OBJECT
public:
    using StateSource = std::function<ClientState()>;
    LockEnforcer(StationContext& ctx, StationLink& link, PinEntry& pin, StateSource state,
                 QObject* parent = nullptr);

    void EnforcementTick();
    // The display's stacking changed: while locked, every other program's
    // window that came above the lock goes back under it at once (and is
    // counted by the next tick as a window in front would be).
    void StackingChanged();
    // Shows the lock: the display server's own keys off, input held.
    void ShowLockScreen();
    // Closes it: input and keys given back.
    void CloseLockScreen();
    // The keyboard and pointer grab while the lock is up (again after
    // whatever ended it); ReleaseInput gives both back with the keys.
    void HoldInput();
    void ReleaseInput();
    // Lock screen top-most again (after the clock is clicked, at a grant)
    // when a foreign window covers it, the station's own windows that belong
    // above it raised over it again.
    void KeepLockOnTop();
    bool ForceForeground(platform::WindowId w, bool activate);
    void BringLockToFront() { ForceForeground(ownId(OwnWindow::Lock), true); }
    // The clock above everything (alarm blinking, a session in use).
    void RaiseClock();
    void ToggleMainWindow();
    // A click on the lock's background: the main window top-most when it is
    // showing, shown otherwise.
    void LockBackgroundClicked();
    void HideMainWindow();
    void SetLockOpacity(int alpha);
    int LockOpacity() const;
    // The banners on the lock change every few seconds.
    void BannerTick(const common::DateTime& now);
    void RestartBannerClock();
    // True when a window named in "noalarm.txt" is showing: the alarm stays
    // silent.
    bool AlarmExempt();
    void LoadExemptions();
    QStringList alarmExemptions() const { return exemptions_; }
    int foreignWindowCount() const { return foreignCount_; }

Q_SIGNALS:
    // A foreign window stayed in front for too long: the lock does not hold.
    void lockIneffective();

private:
    bool ForeignAboveLock();
    // The station's windows that belong above the lock (the main window
    // with its code box, the dialogs) raised again where the lock covers
    // them.
    void LiftOwnWindows();
    platform::WindowId KeyWindow() const;
    void FightForeignWindow(platform::WindowId f);
    // One more tick with w in front of the lock; past 35 the lock does not
    // hold.
    void CountForeignWindow(platform::WindowId w);
    // Counts what came above the lock since the last tick, if anything did.
    void CountCoverer(platform::WindowId w);
    bool Guarding() const;
    bool IsOwnWindow(platform::WindowId w, std::initializer_list<OwnWindow> kinds) const;
    platform::WindowId ownId(OwnWindow w) const;
    bool ownShowing(OwnWindow w) const;

    StationContext& ctx_;
    StationLink& link_;
    PinEntry& pin_;
    StateSource state_;
    CoverGuard guard_;
    int foreignCount_ = 0;
    platform::WindowId foreignWindow_ = 0;
    QStringList exemptions_;
    common::DateTime lastBannerChange_;
    int bannerIndex_ = 0;
};

} // namespace tarvina::client
