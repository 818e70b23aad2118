#include "server/ui/shell/TrayIcon.h"

#include <QApplication>
#include <QMenu>
#include <QStyle>
#include <QSystemTrayIcon>

namespace tarvina::server {

TrayIcon::TrayIcon(QObject* parent) : QObject(parent) {
    icon_ = new QSystemTrayIcon(this);
    icon_->setIcon(QApplication::style()->standardIcon(QStyle::SP_ComputerIcon));
    icon_->setToolTip(QString::fromUtf16(kFirstHint));
    menu_ = new QMenu;
    QAction* manage = menu_->addAction(QStringLiteral("Administrar Clientes"));
    QAction* about = menu_->addAction(QStringLiteral("Acerca de ZU estándar"));
    menu_->addSeparator();
    QAction* close = menu_->addAction(QStringLiteral("Cerrar aplicación ZU"));
    menu_->setDefaultAction(manage);
    connect(manage, &QAction::triggered, this, &TrayIcon::manageClients);
    connect(about, &QAction::triggered, this, &TrayIcon::about);
    connect(close, &QAction::triggered, this, &TrayIcon::closeApplication);
    icon_->setContextMenu(menu_);
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::DoubleClick)
            Q_EMIT manageClients();
    });
}

TrayIcon::~TrayIcon() {
    delete menu_;
}

void TrayIcon::show() {
    icon_->show();
}

void TrayIcon::hide() {
    icon_->hide();
}

void TrayIcon::setHint(const QString& hint) {
    // The hint's line break is a carriage return as written; tool tips
    // break lines at a line feed.
    QString text = hint;
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    icon_->setToolTip(text);
}

QString TrayIcon::hint() const {
    return icon_->toolTip();
}

bool TrayIcon::isVisible() const {
    return icon_->isVisible();
}

} // namespace tarvina::server
