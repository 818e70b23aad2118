#include "client/session/CoverGuard.h"

#include "client/station/StationContext.h"

#include <QCoreApplication>
#include <utility>

namespace tarvina::client {

using platform::ScreenWindow;
using platform::WindowId;

CoverGuard::CoverGuard(StationContext& ctx) : ctx_(ctx) {}

bool CoverGuard::OwnId(WindowId w) const {
    for (int k = 0; k < static_cast<int>(OwnWindow::Count); ++k)
        if (w != 0 && ctx_.platform.own.id(static_cast<OwnWindow>(k)) == w)
            return true;
    return false;
}

bool CoverGuard::Own(const ScreenWindow& w) const {
    return w.sameClient || (w.pid != 0 && w.pid == QCoreApplication::applicationPid()) ||
           OwnId(w.id);
}

void CoverGuard::Restack(WindowId lock, WindowId keyWindow) {
    platform::WindowSystem& ws = ctx_.platform.windows;
    const auto screen = ws.screenStacking();
    if (!screen || lock == 0)
        return;
    qsizetype lockAt = -1;
    for (qsizetype i = 0; i < screen->size() && lockAt < 0; ++i)
        if ((*screen)[i].id == lock)
            lockAt = i;
    // A lock not on the screen yet (being mapped) covers nothing.
    if (lockAt <= 0)
        return;
    WindowId top = 0;
    bool managed = false;
    // The nearest first, so that they end in the order they stood in.
    for (qsizetype i = lockAt - 1; i >= 0; --i) {
        const ScreenWindow& w = (*screen)[i];
        if (Own(w))
            continue;
        top = w.id;
        managed = managed || w.managed;
        ws.putBelow(w.id, lock);
    }
    if (top == 0)
        return;
    coverer_ = top;
    // A window the manager has just activated may not be named active yet:
    // whenever a managed one covers the lock and the focus is not ours,
    // ours takes it.
    const WindowId f = ws.foregroundWindow();
    if (managed && keyWindow != 0 && f != keyWindow && !OwnId(f))
        ws.setForeground(keyWindow);
}

WindowId CoverGuard::TakeCoverer() {
    return std::exchange(coverer_, 0);
}

} // namespace tarvina::client
