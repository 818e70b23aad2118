#include "server/ui/shell/AboutBox.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarvina::server {

AboutBox::AboutBox(const QString& versionText, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("Acerca de ZU Tarvina"));
    setAccessibleName(windowTitle());
    auto* layout = new QVBoxLayout(this);
    auto* name = new QLabel(QStringLiteral("ZU Tarvina Estándar"), this);
    QFont big = name->font();
    big.setPointSize(big.pointSize() + 6);
    big.setBold(true);
    name->setFont(big);
    layout->addWidget(name);
    layout->addWidget(new QLabel(QStringLiteral("Programa de caja"), this));
    layout->addWidget(new QLabel(QStringLiteral("Versión ") + versionText, this));
    layout->addWidget(new QLabel(
        QStringLiteral("Control de cibercafé: equipos, tiempos, PINs prepagados y reportes."),
        this));
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setAccessibleName(ok->text());
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    setMinimumWidth(340);
}

} // namespace tarvina::server
