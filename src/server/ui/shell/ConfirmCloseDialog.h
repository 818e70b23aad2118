#pragma once

#include <QDialog>

class QCheckBox;

namespace tarvina::server {

// TfrmConfirmClose: the close button hides the program in the notification
// area; this tells the operator so, and how to end it instead.
class ConfirmCloseDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr char16_t kText[] =
        u"Se minimizará la aplicación como un icono en la barra de tareas (junto al reloj). Si "
        u"es esto lo que desea haga clic en el botón <OK>.\n\nSi lo que desea es terminar el "
        u"programa haga clic en el botón <Cancelar> y luego use el menú Sesión, Cerrar "
        u"aplicación.";

    explicit ConfirmCloseDialog(QWidget* parent = nullptr);

    // Modal; true for "OK". dontAskAgain: the check box "No volver a preguntar".
    bool ask(bool& dontAskAgain);
    QCheckBox* dontAskBox() const { return dontAsk_; }

private:
    QCheckBox* dontAsk_;
};

} // namespace tarvina::server
