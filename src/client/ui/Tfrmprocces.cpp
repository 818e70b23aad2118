#include "client/ui/Tfrmprocces.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarvina::client::ui {

Tfrmprocces::Tfrmprocces(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmprocces"));
    setWindowTitle(QStringLiteral("Programas en ejecución"));
    // Above the lock and the main window, as the station's other dialogs.
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    auto* layout = new QHBoxLayout(this);
    list_ = new QListWidget(this);
    list_->setAccessibleName(QStringLiteral("Tareas"));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    layout->addWidget(list_, 1);
    auto* side = new QVBoxLayout;
    auto* text =
        new QLabel(QStringLiteral("Puede seleccionar una tarea y ordernar su finalización"), this);
    text->setWordWrap(true);
    text->setMaximumWidth(160);
    side->addWidget(text);
    finish_ = new QPushButton(QStringLiteral("Finaliza tarea"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancelar"), this);
    side->addWidget(finish_);
    side->addWidget(cancel);
    side->addStretch(1);
    layout->addLayout(side);
    connect(list_, &QListWidget::itemSelectionChanged, this, &Tfrmprocces::selectionChanged);
    connect(list_, &QListWidget::currentRowChanged, this, &Tfrmprocces::selectionChanged);
    connect(finish_, &QPushButton::clicked, this, [this] {
        const auto items = list_->selectedItems();
        if (picker_ && !items.isEmpty() && picker_->finish(list_->row(items.first())))
            refill();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    resize(460, 300);
}

void Tfrmprocces::run(TaskPicker& picker) {
    picker_ = &picker;
    refill();
    raise();
    exec();
    picker_ = nullptr;
    list_->clear();
}

void Tfrmprocces::refill() {
    const QSignalBlocker block(list_);
    list_->clear();
    if (picker_)
        list_->addItems(picker_->titles());
    list_->clearSelection();
    finish_->setEnabled(false);
}

void Tfrmprocces::selectionChanged() {
    const auto items = list_->selectedItems();
    finish_->setEnabled(picker_ && !items.isEmpty() &&
                        picker_->canFinish(list_->row(items.first())));
}

} // namespace tarvina::client::ui
