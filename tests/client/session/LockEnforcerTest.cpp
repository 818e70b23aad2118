// The lock's own windows on a desktop whose window manager stacks them as it
// likes: what the enforcement tick does to keep the code box above the lock
// and the customer's typing in it.
#include "client/ClientFakes.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::client;
using namespace tarvina::client::test;
using platform::WindowId;

namespace {

struct LockedStation : Station {
    WindowId lock = 0, main = 0, clock = 0;
    LockedStation() {
        start();
        windows.foregroundFollows = false;
        lock = own.id(OwnWindow::Lock);
        main = own.id(OwnWindow::Main);
        clock = own.id(OwnWindow::Clock);
        windows.clearCalls();
    }
};

TEST(LockEnforcer, MainWindowCoveredByTheLockIsRaisedAndTakesTheKeys) {
    LockedStation st;
    // The window manager put the lock over the main window (both "above").
    st.windows.stacking = {st.lock, st.main};
    st.windows.foreground = st.lock;
    st.core->lock().EnforcementTick();
    EXPECT_EQ(st.windows.raiseCalls, QList<WindowId>{st.main});
    EXPECT_EQ(st.windows.foregroundCalls, QList<WindowId>{st.main});
    EXPECT_EQ(st.windows.grabCalls.last(), st.main);
    EXPECT_EQ(st.core->display().statusText, QStringLiteral("Fondo activo"));
    EXPECT_EQ(st.core->lock().foreignWindowCount(), 0);

    // Already above and in front: nothing to do.
    st.windows.clearCalls();
    st.windows.stacking = {st.main, st.lock};
    st.windows.foreground = st.main;
    st.core->lock().EnforcementTick();
    EXPECT_TRUE(st.windows.raiseCalls.isEmpty());
    EXPECT_TRUE(st.windows.foregroundCalls.isEmpty());

    // A click on the clock gives it the focus; the typing goes back to the
    // main window.
    st.windows.foreground = st.clock;
    st.core->lock().EnforcementTick();
    EXPECT_EQ(st.windows.foregroundCalls, QList<WindowId>{st.main});
}

TEST(LockEnforcer, HiddenMainWindowLeavesTheKeysWithTheLock) {
    LockedStation st;
    st.core->lock().HideMainWindow();
    st.windows.clearCalls();
    st.windows.stacking = {st.lock, st.main};
    st.windows.foreground = st.lock;
    st.core->lock().EnforcementTick();
    EXPECT_TRUE(st.windows.raiseCalls.isEmpty());
    EXPECT_TRUE(st.windows.foregroundCalls.isEmpty());
    EXPECT_EQ(st.windows.grabCalls, QList<WindowId>{st.lock});
}

TEST(LockEnforcer, DialogsAboveTheLockStayAboveTheMainWindow) {
    LockedStation st;
    const WindowId password = st.own.id(OwnWindow::Password);
    st.own.showing[static_cast<int>(OwnWindow::Password)] = true;
    st.windows.stacking = {st.lock, password, st.main};
    st.windows.foreground = st.lock;
    st.core->lock().EnforcementTick();
    // The main window first, the dialog last, so the dialog ends on top;
    // the keys go to the dialog.
    EXPECT_EQ(st.windows.raiseCalls, (QList<WindowId>{st.main, password}));
    EXPECT_EQ(st.windows.foregroundCalls, QList<WindowId>{password});
}

TEST(LockEnforcer, StackingThatCannotBeReadChangesNothingOfTheOwnWindows) {
    LockedStation st;
    st.windows.stackingFails = true;
    st.windows.foreground = st.main;
    st.core->lock().EnforcementTick();
    EXPECT_TRUE(st.windows.raiseCalls.isEmpty());
    // A lock missing from the order (not mapped yet) likewise.
    st.windows.stackingFails = false;
    st.windows.stacking = {st.main};
    st.core->lock().EnforcementTick();
    EXPECT_TRUE(st.windows.raiseCalls.isEmpty());
}

TEST(LockEnforcer, ClickOnTheClockRaisesTheLockOnlyOverForeignWindows) {
    LockedStation st;
    // Only the station's windows over the lock (the main window a double
    // click has just shown): the order stays, the main window uncovered.
    st.windows.stacking = {st.clock, st.main, st.lock};
    st.core->lock().KeepLockOnTop();
    EXPECT_TRUE(st.windows.topMostCalls.isEmpty());
    EXPECT_TRUE(st.windows.raiseCalls.isEmpty());

    // A titled foreign window over it: the lock goes up, and the main window
    // straight back above it.
    st.windows.windows[99] = {QStringLiteral("XTerm"), QStringLiteral("xterm"), true, false};
    st.windows.stacking = {99, st.main, st.lock};
    st.core->lock().KeepLockOnTop();
    EXPECT_EQ(st.windows.topMostCalls, QList<WindowId>{st.lock});
    EXPECT_EQ(st.windows.raiseCalls, QList<WindowId>{st.main});

    // An order that cannot be read counts as covered.
    st.windows.clearCalls();
    st.windows.stackingFails = true;
    st.core->lock().KeepLockOnTop();
    EXPECT_EQ(st.windows.topMostCalls, QList<WindowId>{st.lock});
}

TEST(LockEnforcer, BackgroundClickRaisesTheMainWindowOrShowsIt) {
    LockedStation st;
    st.core->lock().LockBackgroundClicked();
    EXPECT_EQ(st.windows.topMostCalls, QList<WindowId>{st.main});
    EXPECT_EQ(st.windows.foregroundCalls, QList<WindowId>{st.main});
    EXPECT_TRUE(st.core->display().mainVisible);

    st.core->lock().HideMainWindow();
    st.windows.clearCalls();
    st.core->lock().LockBackgroundClicked();
    EXPECT_TRUE(st.core->display().mainVisible);
    // Shown again (top-most, as over a lock); a second click keeps it.
    st.core->lock().LockBackgroundClicked();
    EXPECT_TRUE(st.core->display().mainVisible);
}

TEST(LockEnforcer, WindowsAboveTheLockGoUnderItAndOneThatKeepsComingBackEndsTheSession) {
    LockedStation st;
    using platform::ScreenWindow;
    const ScreenWindow popup{900, false, false, 4242}; // untitled, bypasses the manager
    const ScreenWindow ownMenu{950, false, true, 0};   // a menu of the station's connection
    const ScreenWindow ownProcess{960, true, false, QCoreApplication::applicationPid()};
    const ScreenWindow clock{st.clock, false, false, 0};
    const ScreenWindow lock{st.lock, true, false, 0};
    const ScreenWindow main{st.main, true, false, 0};
    st.windows.screen = QList<ScreenWindow>{popup, ownMenu, ownProcess, clock, main, lock};
    const auto order = [&] {
        QList<WindowId> ids;
        for (const ScreenWindow& w : *st.windows.screen)
            ids << w.id;
        return ids;
    };
    st.windows.foreground = st.main;
    st.windows.stackingChanged();
    EXPECT_EQ(order(), (QList<WindowId>{950, 960, st.clock, st.main, st.lock, 900}));
    // Only a window that bypasses the manager: the focus stays where it is.
    EXPECT_TRUE(st.windows.foregroundCalls.isEmpty());

    // A managed one that took the focus to stand above the lock: under it,
    // and the code box takes the focus back.
    st.windows.screen->prepend({910, true, false, 4343});
    st.windows.foreground = 910;
    st.windows.stackingChanged();
    EXPECT_EQ(order(), (QList<WindowId>{950, 960, st.clock, st.main, st.lock, 910, 900}));
    EXPECT_EQ(st.windows.foregroundCalls, QList<WindowId>{st.main});

    // The pop-up comes back above the lock before every tick, while the
    // station's own window is in front: counted as a window kept in front.
    st.windows.foreground = st.main;
    const auto comesBack = [&] {
        st.windows.screen->removeIf([](const ScreenWindow& w) { return w.id == 900; });
        st.windows.screen->prepend(popup);
        st.windows.stackingChanged();
    };
    st.core->lock().EnforcementTick(); // the managed one's turn, counted once
    for (int i = 0; i < 35; ++i) {
        comesBack();
        st.core->lock().EnforcementTick();
    }
    EXPECT_EQ(st.core->lock().foreignWindowCount(), 35);
    EXPECT_EQ(st.core->display().statusText, QStringLiteral("Ventana ajena activa"));
    EXPECT_EQ(st.core->session().pendingShutdown(), QChar(u'N'));
    comesBack();
    st.core->lock().EnforcementTick();
    EXPECT_EQ(st.core->session().pendingShutdown(), QChar(u'L'));
    // Given up: no longer counted.
    st.core->lock().EnforcementTick();
    EXPECT_EQ(st.core->lock().foreignWindowCount(), 36);

    // Unlocked, the customer's windows stack as they like.
    st.core->lock().CloseLockScreen();
    st.windows.clearCalls();
    comesBack();
    EXPECT_TRUE(st.windows.putBelowCalls.isEmpty());
}

} // namespace
