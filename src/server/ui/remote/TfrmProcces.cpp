#include "server/ui/remote/TfrmProcces.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarvina::server {

TfrmProcces::TfrmProcces(Close close, QWidget* parent) : QDialog(parent), close_(std::move(close)) {
    setObjectName(QStringLiteral("frmprocces"));
    setWindowTitle(TaskWindowForm::Title());
    setModal(false);
    auto* layout = new QHBoxLayout(this);
    list_ = new QListWidget(this);
    list_->setAccessibleName(QStringLiteral("Tareas"));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    layout->addWidget(list_, 1);
    auto* side = new QVBoxLayout;
    auto* text = new QLabel(TaskWindowForm::SideText(), this);
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
    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
        form_.select(list_->currentItem() != nullptr && list_->currentItem()->isSelected() ? row
                                                                                           : -1);
        finish_->setEnabled(form_.finishEnabled());
    });
    connect(list_, &QListWidget::itemSelectionChanged, this, [this] {
        const auto items = list_->selectedItems();
        form_.select(items.isEmpty() ? -1 : list_->row(items.first()));
        finish_->setEnabled(form_.finishEnabled());
    });
    connect(finish_, &QPushButton::clicked, this, &TfrmProcces::finish);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    resize(460, 300);
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
    const QSignalBlocker block(list_);
    list_->clear();
    list_->addItems(form_.tasks());
    list_->clearSelection();
    finish_->setEnabled(form_.finishEnabled());
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
