#pragma once

#include <QDialog>
#include <QStringList>

class QListWidget;
class QPushButton;

namespace tarvina::widgets {

// The window of a computer's running programs, as the cashier and the
// station both show it: the list ("Tareas") and beside it a note,
// "Finaliza tarea" and "Cancelar". Its caption, which line may be finished
// and what finishing does belong to the program that shows it.
class TaskListDialog : public QDialog {
    Q_OBJECT
public:
    explicit TaskListDialog(const QString& note, QWidget* parent = nullptr);

    QListWidget* list() const { return list_; }
    QPushButton* finishButton() const { return finish_; }
    // The selected line, -1 when none.
    int selectedRow() const;
    // These lines, none selected, "Finaliza tarea" enabled as told.
    void setTasks(const QStringList& tasks, bool finishEnabled);

Q_SIGNALS:
    // The selection moved (by the mouse, the keyboard or a program): the
    // line selected now, -1 when none.
    void rowSelected(int row);

private:
    QListWidget* list_;
    QPushButton* finish_;
};

} // namespace tarvina::widgets
