#pragma once

#include "server/remote/TaskWindowForm.h"

#include <QDialog>
#include <functional>

class QListWidget;
class QPushButton;

namespace tarvina::server {

// "Programas en ejecución": a station's tasks; "Finaliza tarea" asks the
// station to close the selected one. Not modal.
class TfrmProcces : public QDialog {
    Q_OBJECT
public:
    using Close = std::function<void(TCompItem*, const QString& title)>;
    explicit TfrmProcces(Close close, QWidget* parent = nullptr);

    void showList(TCompItem* record, const QString& computerName, const QByteArray& payload);
    QListWidget* list() const { return list_; }
    QPushButton* finishButton() const { return finish_; }
    const TaskWindowForm& form() const { return form_; }
    void finish();

private:
    void refill();
    Close close_;
    TaskWindowForm form_;
    QListWidget* list_;
    QPushButton* finish_;
};

} // namespace tarvina::server
