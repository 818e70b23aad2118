#pragma once

#include "server/shell/PasswordGate.h"

#include <QDialog>

class QLabel;
class QLineEdit;

namespace tarvina::server {

// TfrmPass: "Acceso restringido", "Escriba contraseña", a masked field, "OK"
// and "Cancelar". It asks again with the retry caption until the password is
// right or the operator cancels.
class PasswordDialog : public QDialog {
    Q_OBJECT
public:
    explicit PasswordDialog(QWidget* parent = nullptr);

    // Runs the prompt modally; true when the right password was typed. An
    // empty stored password passes at once without showing anything.
    bool ask(PasswordPrompt prompt);

    QString caption() const;
    QLineEdit* field() const { return field_; }

protected:
    void accept() override;

private:
    QLabel* caption_;
    QLineEdit* field_;
    PasswordPrompt prompt_{QString(), QString()};
};

} // namespace tarvina::server
