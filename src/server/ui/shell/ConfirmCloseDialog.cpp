#include "server/ui/shell/ConfirmCloseDialog.h"

#include "server/ui/shell/OkCancelButtons.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarvina::server {

ConfirmCloseDialog::ConfirmCloseDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmConfirmClose"));
    setWindowTitle(QStringLiteral("Confirmación de cierre"));
    setAccessibleName(windowTitle());
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(QString::fromUtf16(kText), this);
    text->setWordWrap(true);
    text->setTextFormat(Qt::PlainText);
    dontAsk_ = new QCheckBox(QStringLiteral("No volver a preguntar"), this);
    dontAsk_->setAccessibleName(dontAsk_->text());
    QDialogButtonBox* buttons = OkCancelButtons(this);
    layout->addWidget(text);
    layout->addWidget(dontAsk_);
    layout->addWidget(buttons);
    setMinimumWidth(420);
}

bool ConfirmCloseDialog::ask(bool& dontAskAgain) {
    dontAsk_->setChecked(false);
    const bool ok = exec() == QDialog::Accepted;
    dontAskAgain = dontAsk_->isChecked();
    return ok;
}

} // namespace tarvina::server
