#pragma once

#include "server/remote/TaskWindowForm.h"
#include "widgets/TaskListDialog.h"

#include <functional>

namespace tarvina::server {

// "Programas en ejecución": a station's tasks; "Finaliza tarea" asks the
// station to close the selected one. Not modal.
class TfrmProcces : public widgets::TaskListDialog {
    Q_OBJECT
public:
    using Close = std::function<void(TCompItem*, const QString& title)>;
    explicit TfrmProcces(Close close, QWidget* parent = nullptr);

    void showList(TCompItem* record, const QString& computerName, const QByteArray& payload);
    const TaskWindowForm& form() const { return form_; }
    void finish();

private:
    void refill();
    Close close_;
    TaskWindowForm form_;
};

} // namespace tarvina::server
