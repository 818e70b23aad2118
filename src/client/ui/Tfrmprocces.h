#pragma once

#include "client/control/TaskGate.h"

#include <QDialog>

class QListWidget;
class QPushButton;

namespace tarvina::client::ui {

// "Programas en ejecución" at the station: the open tasks, shown modally to
// the attendant; "Finaliza tarea" closes the selected one.
class Tfrmprocces : public QDialog {
    Q_OBJECT
public:
    explicit Tfrmprocces(QWidget* parent = nullptr);
    // Lists the picker's lines and shows the window until it is closed.
    void run(TaskPicker& picker);

private:
    void refill();
    void selectionChanged();

    TaskPicker* picker_ = nullptr;
    QListWidget* list_;
    QPushButton* finish_;
};

} // namespace tarvina::client::ui
