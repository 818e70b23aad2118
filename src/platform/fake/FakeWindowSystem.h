#pragma once

#include "platform/WindowSystem.h"

#include <QHash>
#include <QSet>
#include <QStringList>

namespace tarvina::platform {

// A scripted desktop: tests set the windows, their classes and order, and
// read back what the station asked for.
class FakeWindowSystem final : public WindowSystem {
public:
    struct Window {
        QString className;
        QString title;
        bool visible = true;
        bool taskBar = false;
        qint64 pid = 0; // 0: the desktop does not tell
    };
    QHash<WindowId, Window> windows;
    QList<WindowId> stacking; // top first
    bool stackingFails = false;
    WindowId foreground = 0;
    // When set, setForeground really moves the focus there.
    bool foregroundFollows = true;

    QList<WindowId> foregroundCalls;
    QList<WindowId> topMostCalls;
    QList<WindowId> raiseCalls;
    QList<WindowId> taskListPosts;
    QList<bool> taskBarVisibleCalls;
    QList<WindowId> grabCalls; // 0: released
    QList<bool> systemKeyCalls;
    QList<WindowId> closeCalls;
    QList<WindowId> minimizeCalls;
    QList<WindowId> quitCalls;
    bool grabFails = false;
    WindowId desktop = 0;  // the window that draws the desktop, 0: unknown
    bool lost = false;     // the display connection is gone
    bool quitWorks = true; // false: a desktop that cannot end programs
    // The screen as the display stacks it, top first; nullopt: cannot tell.
    std::optional<QList<ScreenWindow>> screen;
    // When set, putBelow really moves the window in `screen`.
    bool putBelowFollows = true;
    QList<std::pair<WindowId, WindowId>> putBelowCalls; // (window, under)
    std::function<void()> stackingWatcher;

    WindowId foregroundWindow() override { return foreground; }
    QString windowClass(WindowId w, int maxLength) override {
        return windows.value(w).className.left(maxLength);
    }
    QString windowTitle(WindowId w) override { return windows.value(w).title; }
    bool isTaskBar(WindowId w) override { return windows.value(w).taskBar; }
    std::optional<QList<WindowId>> stackingOrder() override {
        if (stackingFails)
            return std::nullopt;
        return stacking;
    }
    QList<WindowId> visibleTitledWindows() override {
        QList<WindowId> out;
        for (auto it = windows.cbegin(); it != windows.cend(); ++it)
            if (it->visible && !it->title.isEmpty())
                out << it.key();
        return out;
    }
    bool setForeground(WindowId w) override {
        foregroundCalls << w;
        if (foregroundFollows)
            foreground = w;
        return true;
    }
    void setTopMost(WindowId w) override { topMostCalls << w; }
    void raise(WindowId w) override { raiseCalls << w; }
    void postTaskList(WindowId w) override { taskListPosts << w; }
    bool minimize(WindowId w) override {
        minimizeCalls << w;
        return windows.contains(w);
    }
    bool closeWindow(WindowId w) override {
        closeCalls << w;
        return windows.contains(w);
    }
    qint64 windowProcess(WindowId w) override { return windows.value(w).pid; }
    bool quitWindow(WindowId w) override {
        quitCalls << w;
        return quitWorks && windows.contains(w);
    }
    void setTaskBarVisible(bool visible) override { taskBarVisibleCalls << visible; }
    bool grabInput(WindowId w) override {
        grabCalls << w;
        return !grabFails && w != 0;
    }
    void releaseInput() override { grabCalls << 0; }
    bool setSystemKeysBlocked(bool blocked) override {
        systemKeyCalls << blocked;
        return true;
    }
    WindowId desktopWindow() override { return desktop; }
    bool displayLost() override { return lost; }
    std::optional<QList<ScreenWindow>> screenStacking() override { return screen; }
    void putBelow(WindowId w, WindowId under) override {
        putBelowCalls << std::pair{w, under};
        if (!putBelowFollows || !screen)
            return;
        const auto at = [&](WindowId id) {
            for (qsizetype i = 0; i < screen->size(); ++i)
                if ((*screen)[i].id == id)
                    return i;
            return qsizetype(-1);
        };
        const qsizetype from = at(w);
        if (from < 0 || at(under) < 0 || w == under)
            return;
        const ScreenWindow moved = screen->takeAt(from);
        screen->insert(at(under) + 1, moved);
    }
    bool watchStacking(std::function<void()> changed) override {
        stackingWatcher = std::move(changed);
        return true;
    }
    // The display reports a change of the stacking.
    void stackingChanged() {
        if (stackingWatcher)
            stackingWatcher();
    }

    void clearCalls() {
        foregroundCalls.clear();
        topMostCalls.clear();
        raiseCalls.clear();
        taskListPosts.clear();
        taskBarVisibleCalls.clear();
        grabCalls.clear();
        systemKeyCalls.clear();
        closeCalls.clear();
        minimizeCalls.clear();
        quitCalls.clear();
        putBelowCalls.clear();
    }
};

} // namespace tarvina::platform
