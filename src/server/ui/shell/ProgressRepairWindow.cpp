#include "server/ui/shell/ProgressRepairWindow.h"

#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>

namespace tarvina::server {

ProgressRepairWindow::ProgressRepairWindow(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("frmProgressRepair"));
    setWindowTitle(QStringLiteral("Progreso"));
    setAccessibleName(windowTitle());
    auto* layout = new QHBoxLayout(this);
    auto* side = new QLabel(QStringLiteral("Reconstrucción de archivos"), this);
    side->setWordWrap(true);
    side->setAutoFillBackground(true);
    side->setStyleSheet(QStringLiteral("background: navy; color: white; font-weight: bold; "
                                       "padding: 6px;"));
    side->setFixedWidth(110);
    layout->addWidget(side);
    auto* form = new QFormLayout;
    pin_ = new QProgressBar(this);
    histo_ = new QProgressBar(this);
    for (QProgressBar* b : {pin_, histo_}) {
        b->setRange(0, 100);
        b->setValue(0);
    }
    pin_->setObjectName(QStringLiteral("ProgressBarPin"));
    histo_->setObjectName(QStringLiteral("ProgressBarHisto"));
    pin_->setAccessibleName(QStringLiteral("Archivo Pin:"));
    histo_->setAccessibleName(QStringLiteral("Archivo Histórico"));
    form->addRow(QStringLiteral("Archivo Pin:"), pin_);
    form->addRow(QStringLiteral("Archivo Histórico"), histo_);
    layout->addLayout(form, 1);
    setMinimumWidth(380);
}

void ProgressRepairWindow::progress(TableOps::RepairBar bar, int percent) {
    QProgressBar* b = bar == TableOps::RepairBar::Pin ? pin_ : histo_;
    b->setValue(qBound(0, percent, 100));
    // The build runs on this thread: let the window repaint between steps,
    // but take no input that could start something else meanwhile.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

} // namespace tarvina::server
