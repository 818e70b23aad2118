#include "client/ui/Tfrmprocces.h"

#include <QPushButton>

namespace tarvina::client::ui {

Tfrmprocces::Tfrmprocces(QWidget* parent)
    : TaskListDialog(QStringLiteral("Puede seleccionar una tarea y ordernar su finalización"),
                     parent) {
    setWindowTitle(QStringLiteral("Programas en ejecución"));
    // Above the lock and the main window, as the station's other dialogs.
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    connect(this, &TaskListDialog::rowSelected, this,
            [this](int row) { finishButton()->setEnabled(picker_ && picker_->canFinish(row)); });
    connect(finishButton(), &QPushButton::clicked, this, [this] {
        const int row = selectedRow();
        if (picker_ && row >= 0 && picker_->finish(row))
            refill();
    });
}

void Tfrmprocces::run(TaskPicker& picker) {
    picker_ = &picker;
    refill();
    raise();
    exec();
    picker_ = nullptr;
    setTasks({}, false);
}

void Tfrmprocces::refill() {
    setTasks(picker_ ? picker_->titles() : QStringList(), false);
}

} // namespace tarvina::client::ui
