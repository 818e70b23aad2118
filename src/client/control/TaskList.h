#pragma once

#include "platform/WindowSystem.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace tarvina::platform {
class Processes;
class Registry;
} // namespace tarvina::platform

namespace tarvina::client {

// The programs open on the customer's desktop as the cashier sees them: the
// visible top-level windows that have a title, less the station's own (by
// the list of its windows and by its process, so that none of its dialogs
// is ever a task) and the desktop's (its panels, the window of its
// background). Also the baseline of tasks that were open at the first grant
// after the start (`ClientTasks`), which a clean leaves alone.
class TaskList {
public:
    static constexpr int kMaxTitle = 199;
    // The program whose close only hides it: it gets the quit request.
    static constexpr char kQuitTitle[] = "MSN Messenger";

    struct Task {
        platform::WindowId window = 0;
        QString title;
        qint64 pid = 0;  // 0: not known
        QString program; // the program file, empty when not known
    };
    // isOwn: true for a window of the station itself.
    TaskList(platform::WindowSystem& windows, platform::Registry& registry,
             platform::Processes& processes, std::function<bool(platform::WindowId)> isOwn);

    // In the window manager's order, titles cut to kMaxTitle characters.
    QList<Task> tasks();
    // The titles as the comma list of the wire (Windows-1252), at most
    // maxBytes long: the tasks past that are left out whole.
    static QByteArray Encode(const QList<Task>& tasks, qsizetype maxBytes = 16000);

    // Asks the window of the task with that title (any case) to close;
    // false when no such task is open.
    bool close(const QString& title);
    // Closes one task: the close request to its window, or the quit request
    // to its program for a window titled kQuitTitle (any case), whose close
    // only hides it. False when the window is gone.
    bool closeTask(const Task& task);

    // Every titled top-level window, shown or not, the station's own too
    // (the all-windows list of "Tareas en fondo").
    QList<Task> allTasks();
    // What "Tareas en fondo" writes on the lock: "corriendo - " + the front
    // window's id in 10 hex digits + "-->" + its class + " : " + its
    // program, then a line for each window of allTasks(): title + "[" + id
    // in 8 hex digits + "]".
    QString BackgroundReport();

    // The open tasks become the baseline.
    void recordBaseline();
    // nullopt when none was ever recorded; an empty list when nothing was
    // open then.
    std::optional<QStringList> baseline() const;

    // Closes every open task whose title is not in the baseline (any case);
    // nothing at all without a recorded baseline. Each title is told to `closing`
    // before its window is asked to close. Returns the titles closed.
    QStringList clean(const std::function<void(const QString& title)>& closing);

private:
    platform::WindowSystem& windows_;
    platform::Registry& registry_;
    platform::Processes& processes_;
    std::function<bool(platform::WindowId)> isOwn_;
};

} // namespace tarvina::client
