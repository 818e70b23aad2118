#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>
#include <optional>

namespace tarvina::platform {

// A top-level window of the desktop, by the system's handle (0: none).
using WindowId = quint64;

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
};

} // namespace tarvina::platform
