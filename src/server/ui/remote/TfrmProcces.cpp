#include "server/ui/remote/TfrmProcces.h"

#include <QPushButton>

namespace tarvina::server {

TfrmProcces::TfrmProcces(Close close, QWidget* parent)
    : TaskListDialog(TaskWindowForm::SideText(), parent), close_(std::move(close)) {
    setWindowTitle(TaskWindowForm::Title());
    setModal(false);
    connect(this, &TaskListDialog::rowSelected, this, [this](int row) {
        form_.select(row);
        finishButton()->setEnabled(form_.finishEnabled());
    });
    connect(finishButton(), &QPushButton::clicked, this, &TfrmProcces::finish);
}

void TfrmProcces::showList(TCompItem* record, const QString& computerName,
                           const QByteArray& payload) {
    form_.fill(record, computerName, payload);
    refill();
    show();
    raise();
    activateWindow();
}

void TfrmProcces::refill() {
    setTasks(form_.tasks(), form_.finishEnabled());
}

void TfrmProcces::finish() {
    TCompItem* target = form_.target();
    const QString title = form_.finish();
    if (title.isEmpty())
        return;
    refill();
    if (close_)
        close_(target, title);
}

} // namespace tarvina::server
