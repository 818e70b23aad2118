#pragma once

#include <QObject>
#include <QString>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace tarvina::server {

// The notification-area icon: its hint follows the connections, its menu
// offers "Administrar Clientes", "Acerca de ZU estándar" and "Cerrar
// aplicación ZU"; a double click is "Administrar Clientes".
class TrayIcon : public QObject {
    Q_OBJECT
public:
    static constexpr char16_t kFirstHint[] = u"Administración de ZU Tarvina";

    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    void show();
    void hide();
    void setHint(const QString& hint);
    QString hint() const;
    bool isVisible() const;
    QMenu* menu() const { return menu_; }
    QSystemTrayIcon* icon() const { return icon_; }

Q_SIGNALS:
    void manageClients();
    void about();
    void closeApplication();

private:
    QSystemTrayIcon* icon_;
    QMenu* menu_;
};

} // namespace tarvina::server
