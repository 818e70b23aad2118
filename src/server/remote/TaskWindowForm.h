#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

namespace tarvina::server {

struct TCompItem;

// Tfrmprocces, "Programas en ejecución": the task list of the computer it
// was filled for; "Finaliza tarea" is enabled only while a line is selected
// and removes that line whether or not the station closes the task.
class TaskWindowForm {
public:
    static QString Title() { return QStringLiteral("Programas en ejecución"); }
    static QString SideText() {
        return QStringLiteral("Puede seleccionar una tarea y ordernar su finalización");
    }
    // A station's list shows at most this many tasks.
    static constexpr int kMaxTasks = 4096;

    // The comma list of an R09 payload (Windows-1252 bytes).
    void fill(TCompItem* record, const QString& computerName, QByteArrayView payload);
    TCompItem* target() const { return target_; }
    const QString& computerName() const { return name_; }
    const QStringList& tasks() const { return tasks_; }

    void select(int index);
    int selected() const { return selected_; }
    bool finishEnabled() const { return selected_ >= 0; }
    // "Finaliza tarea": the title to send (empty when none is selected); the
    // line leaves the list and nothing is selected afterwards.
    QString finish();

private:
    TCompItem* target_ = nullptr;
    QString name_;
    QStringList tasks_;
    int selected_ = -1;
};

// "Limpiar tareas" asks first.
inline QString CleanTasksQuestion() {
    return QStringLiteral("Procederá a cerrar varias apliaciones. ¿Está seguro?");
}

} // namespace tarvina::server
