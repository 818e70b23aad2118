#include "widgets/TaskListDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarvina::widgets {

TaskListDialog::TaskListDialog(const QString& note, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmprocces"));
    auto* layout = new QHBoxLayout(this);
    list_ = new QListWidget(this);
    list_->setAccessibleName(QStringLiteral("Tareas"));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    layout->addWidget(list_, 1);
    auto* side = new QVBoxLayout;
    auto* text = new QLabel(note, this);
    text->setWordWrap(true);
    text->setMaximumWidth(160);
    side->addWidget(text);
    finish_ = new QPushButton(QStringLiteral("Finaliza tarea"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancelar"), this);
    side->addWidget(finish_);
    side->addWidget(cancel);
    side->addStretch(1);
    layout->addLayout(side);
    finish_->setEnabled(false);
    // A new selection and a move of the current line are both heard; each
    // tells the selection as it stands.
    connect(list_, &QListWidget::itemSelectionChanged, this,
            [this] { Q_EMIT rowSelected(selectedRow()); });
    connect(list_, &QListWidget::currentRowChanged, this,
            [this] { Q_EMIT rowSelected(selectedRow()); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    resize(460, 300);
}

int TaskListDialog::selectedRow() const {
    const auto items = list_->selectedItems();
    return items.isEmpty() ? -1 : list_->row(items.first());
}

void TaskListDialog::setTasks(const QStringList& tasks, bool finishEnabled) {
    const QSignalBlocker block(list_);
    list_->clear();
    list_->addItems(tasks);
    list_->clearSelection();
    finish_->setEnabled(finishEnabled);
}

} // namespace tarvina::widgets
