#pragma once

#include "platform/WindowSystem.h"

namespace tarvina::platform {

// A desktop seen only through the toolkit: the program's own top-level
// windows are known, no other program's are (so none of them is ever taken
// for a foreign window). The focus window is the application's active one.
// For runs without a window system the program can reach (offscreen).
class QtWindowSystem final : public WindowSystem {
public:
    WindowId foregroundWindow() override;
    QString windowClass(WindowId w, int maxLength) override;
    QString windowTitle(WindowId w) override;
    bool isTaskBar(WindowId) override { return false; }
    std::optional<QList<WindowId>> stackingOrder() override;
    QList<WindowId> visibleTitledWindows() override;
    bool setForeground(WindowId w) override;
    void setTopMost(WindowId w) override;
    void raise(WindowId w) override;
    void postTaskList(WindowId) override {}
};

} // namespace tarvina::platform
