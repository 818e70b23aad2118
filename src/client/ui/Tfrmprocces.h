#pragma once

#include "client/control/TaskGate.h"
#include "widgets/TaskListDialog.h"

namespace tarvina::client::ui {

// "Programas en ejecución" at the station: the open tasks, shown modally to
// the attendant; "Finaliza tarea" closes the selected one.
class Tfrmprocces : public widgets::TaskListDialog {
    Q_OBJECT
public:
    explicit Tfrmprocces(QWidget* parent = nullptr);
    // Lists the picker's lines and shows the window until it is closed.
    void run(TaskPicker& picker);

private:
    void refill();

    TaskPicker* picker_ = nullptr;
};

} // namespace tarvina::client::ui
