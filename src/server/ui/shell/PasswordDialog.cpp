#include "server/ui/shell/PasswordDialog.h"

#include "server/ui/shell/OkCancelButtons.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarvina::server {

PasswordDialog::PasswordDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmPass"));
    setWindowTitle(QStringLiteral("Acceso restringido"));
    setAccessibleName(windowTitle());
    auto* layout = new QVBoxLayout(this);
    caption_ = new QLabel(this);
    caption_->setObjectName(QStringLiteral("caption"));
    QFont bold = caption_->font();
    bold.setBold(true);
    caption_->setFont(bold);
    auto* label = new QLabel(QStringLiteral("Escriba contraseña"), this);
    field_ = new QLineEdit(this);
    field_->setEchoMode(QLineEdit::Password);
    field_->setAccessibleName(QStringLiteral("Escriba contraseña"));
    label->setBuddy(field_);
    QDialogButtonBox* buttons = OkCancelButtons(this);
    layout->addWidget(caption_);
    layout->addWidget(label);
    layout->addWidget(field_);
    layout->addWidget(buttons);
    setMinimumWidth(300);
}

QString PasswordDialog::caption() const {
    return caption_->text();
}

bool PasswordDialog::ask(PasswordPrompt prompt) {
    if (!prompt.needed())
        return true;
    prompt_ = std::move(prompt);
    caption_->setText(prompt_.caption());
    field_->clear();
    field_->setFocus();
    return exec() == QDialog::Accepted;
}

void PasswordDialog::accept() {
    if (prompt_.submit(field_->text())) {
        field_->clear();
        QDialog::accept();
        return;
    }
    // Wrong: the caption says so and the dialog stays for another try.
    caption_->setText(prompt_.caption());
    field_->clear();
    field_->setFocus();
}

} // namespace tarvina::server
