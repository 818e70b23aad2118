#pragma once

#include "client/station/StationPlatform.h"

namespace tarvina::client {

struct StationContext;

// Keeps the lock above every window of another program on the screen, as
// the display itself stacks them: managed or not (a pop-up that bypasses
// the window manager), titled or not. The station's own windows (its
// dialogs, menus and tool tips: made over its own connection, by its own
// process, or known to it by their ids) are never put under the lock.
class CoverGuard {
public:
    explicit CoverGuard(StationContext& ctx);

    // Every other program's window above the lock goes right under it; when
    // one of them could have the focus, keyWindow (the station's window
    // that takes the typing) takes it back, as a focused window may stand in
    // a layer of its own above the lock. Nothing when the lock is not on the
    // screen or the screen cannot be read.
    void Restack(platform::WindowId lock, platform::WindowId keyWindow);
    // The window most recently found above the lock since the last call
    // (the top-most one of that pass); 0 when none came.
    platform::WindowId TakeCoverer();

private:
    bool Own(const platform::ScreenWindow& w) const;
    bool OwnId(platform::WindowId w) const;

    StationContext& ctx_;
    platform::WindowId coverer_ = 0;
};

} // namespace tarvina::client
