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

    // The toolkit neither reaches other programs' windows nor the display's
    // grabs and keys, and its own windows are the station's business: all
    // of this is out of its reach.
    bool minimize(WindowId) override { return false; }
    bool closeWindow(WindowId) override { return false; }
    qint64 windowProcess(WindowId) override { return 0; }
    bool quitWindow(WindowId) override { return false; }
    void setTaskBarVisible(bool) override {}
    WindowId desktopWindow() override { return 0; }
    bool grabInput(WindowId) override { return false; }
    void releaseInput() override {}
    bool setSystemKeysBlocked(bool) override { return false; }
    // No display connection of its own to lose; the toolkit ends the
    // program when its own goes.
    bool displayLost() override { return false; }
    // Other programs' windows are out of sight: nothing ever covers the
    // program's own.
    std::optional<QList<ScreenWindow>> screenStacking() override { return std::nullopt; }
    void putBelow(WindowId, WindowId) override {}
    bool watchStacking(std::function<void()>) override { return false; }
};

} // namespace tarvina::platform
