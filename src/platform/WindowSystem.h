#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <optional>

namespace tarvina::platform {

// A top-level window of the desktop, by the system's handle (0: none).
using WindowId = quint64;

// A window as the display stacks it on the screen, whoever placed it there.
struct ScreenWindow {
    // The program's own window: for one the window manager placed in a frame
    // of its own, the program's window inside, never the frame.
    WindowId id = 0;
    // Stacked by the window manager (false: a window that bypasses it, such
    // as a menu or a pop-up, or any window of a desktop without a manager).
    bool managed = false;
    // Made over this program's own connection to the display.
    bool sameClient = false;
    // The process that made it, 0 when unknown.
    qint64 pid = 0;
};

// What the station asks of the desktop to keep its lock screen in front:
// which window has the focus, what it is, the stacking order, and the means to
// bring a window to the front. Every call is harmless on a window that has
// gone away.
class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    // The window with the input focus, 0 when none.
    virtual WindowId foregroundWindow() = 0;
    // The window's class name (WM_CLASS on X11), at most maxLength characters.
    virtual QString windowClass(WindowId w, int maxLength = 100) = 0;
    virtual QString windowTitle(WindowId w) = 0;
    // True for the desktop's task bar (a dock on X11).
    virtual bool isTaskBar(WindowId w) = 0;
    // Top-level windows from the top of the stacking order down, visible or
    // not; nullopt when the system cannot list them.
    virtual std::optional<QList<WindowId>> stackingOrder() = 0;
    // Titles of the visible top-level windows that have one.
    virtual QList<WindowId> visibleTitledWindows() = 0;

    // Makes w the foreground window (activating it); false when refused.
    virtual bool setForeground(WindowId w) = 0;
    virtual void setTopMost(WindowId w) = 0;
    virtual void raise(WindowId w) = 0;
    // Asks the task bar to show its task list (the SC_TASKLIST command).
    virtual void postTaskList(WindowId taskBar) = 0;

    // A desktop that offers no such thing answers the calls below with
    // their "could not" value (false, 0) and leaves the rest alone.

    // Iconifies w; false when the desktop cannot.
    virtual bool minimize(WindowId w) = 0;
    // Asks w to close, as its close button would; false when w is gone.
    virtual bool closeWindow(WindowId w) = 0;
    // The process of this machine that owns w, 0 when unknown (a window of
    // another machine's program, or a desktop that does not tell).
    virtual qint64 windowProcess(WindowId w) = 0;
    // The quit request: the program that owns w is asked to end, not only
    // the window (for programs whose close only hides them). Never this
    // program's own windows. False when w is gone or nobody could be asked.
    virtual bool quitWindow(WindowId w) = 0;
    // Hides or shows the desktop's task bars (every dock window).
    virtual void setTaskBarVisible(bool visible) = 0;
    // The window that draws the desktop (icons, wallpaper); the root window
    // when no program draws one. 0 when unknown.
    virtual WindowId desktopWindow() = 0;

    // An active keyboard and pointer grab for w (the lock screen): the
    // window manager's own keys and mouse bindings never see input while it
    // is held, and keys typed at another program's window come to w. The
    // station's other windows keep their input. Calling it again while held
    // is harmless and takes the grab back when something released it.
    // False when it could not be taken (another client holds a grab, w is
    // not showing).
    virtual bool grabInput(WindowId w) = 0;
    virtual void releaseInput() = 0;
    // Keys the display server itself acts on (switch to a text console,
    // kill the display server): off while blocked. False when that could
    // not be done.
    virtual bool setSystemKeysBlocked(bool blocked) = 0;
    // True once the display connection is gone for good.
    virtual bool displayLost() = 0;

    // The windows that show on the screen, from the top down, as the display
    // itself stacks them: managed or not, titled or not, every one that is
    // mapped and can be seen (none wholly off the screen, none that only
    // takes input). nullopt when the desktop cannot tell.
    virtual std::optional<QList<ScreenWindow>> screenStacking() = 0;
    // Puts w right under `under` (both from screenStacking), as w's kind
    // allows: a managed window through the window manager, any other one
    // directly. Harmless when either has gone.
    virtual void putBelow(WindowId w, WindowId under) = 0;
    // From now on `changed` runs whenever the stacking of the screen may have
    // changed (a window made, mapped, unmapped, restacked, reparented or gone,
    // another window activated), as the display reports it: on the thread
    // that uses this object, from its event loop, never inside a call to it.
    // Null stops it. False when the desktop cannot tell (nothing is called).
    virtual bool watchStacking(std::function<void()> changed) = 0;
};

} // namespace tarvina::platform
