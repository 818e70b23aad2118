#pragma once

#include "client/control/TaskList.h"

#include <QList>
#include <QStringList>
#include <functional>

namespace tarvina::client {

struct ClientSettings;
class LockEnforcer;
class NoticeView;
class PasswordDialog;
class Session;
class StationView;

// The lines of the station's own task window ("Programas en ejecución") and
// what "Finaliza tarea" does with them: the open tasks as they were when
// the window opened; a finished line goes whether or not its program
// obeyed.
class TaskPicker {
public:
    explicit TaskPicker(TaskList& tasks);
    QStringList titles() const;
    // A line is selected that can be finished.
    bool canFinish(int row) const { return row >= 0 && row < lines_.size(); }
    // Closes the task of that line (the messenger gets its quit request) and
    // removes the line; false when there is no such line.
    bool finish(int row);

private:
    TaskList& tasks_;
    QList<TaskList::Task> lines_;
};

// The station's own task window: the password box's caption, and the list
// shown modally until it is closed.
class TaskWindowView {
public:
    virtual ~TaskWindowView() = default;
    // Empty: the box's usual caption.
    virtual void setPasswordCaption(const QString& caption) = 0;
    virtual void exec(TaskPicker& picker) = 0;
};

// "Tareas" for the attendant at the station: the service password, then the
// task window with the lock screen out of its way.
class TaskGate {
public:
    enum class Result { Cancelled, Refused, Shown };
    struct Parts {
        PasswordDialog& password;
        NoticeView& notice;
        StationView& view;
        LockEnforcer& lock;
        Session& session;
        const ClientSettings& settings;
        std::function<bool()> closing; // the station is on its way out
    };
    TaskGate(Parts parts, TaskList& tasks) : p_(std::move(parts)), tasks_(tasks) {}

    Result MnuTareasClick(TaskWindowView& window);

private:
    Parts p_;
    TaskList& tasks_;
};

} // namespace tarvina::client
