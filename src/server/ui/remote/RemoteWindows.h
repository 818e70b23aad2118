#pragma once

#include "server/remote/ConfigOutbox.h"

#include <QObject>
#include <QPointer>
#include <functional>

class QWidget;

namespace tarvina::server {

class ServerCore;
class TfrmCapture;
class TfrmComputers;
class TfrmProcces;
class TfrmRemoteConfig;

// The windows of remote control and what puts them to work: the computers
// view's "Capturar pantalla...", "Ver tareas...", "Limpiar tareas" and
// "Configuración remota...", and the idle pass's task-list and
// configuration slots, the received pictures and transparency reports.
class RemoteWindows : public QObject {
    Q_OBJECT
public:
    RemoteWindows(ServerCore& core, TfrmComputers& computers, QWidget* parent);
    ~RemoteWindows() override;

    TfrmCapture* captureWindow();
    TfrmProcces* taskWindow();
    TfrmRemoteConfig* configWindow();
    ConfigOutbox& outbox() { return outbox_; }

    // "Procederá a cerrar varias apliaciones. ¿Está seguro?"; tests replace it.
    std::function<bool(const QString&)> confirm;

private:
    QString nameOf(TCompItem* record) const;

    ServerCore& core_;
    QPointer<QWidget> parent_;
    ConfigOutbox outbox_;
    QPointer<TfrmCapture> capture_;
    QPointer<TfrmProcces> tasks_;
    QPointer<TfrmRemoteConfig> config_;
};

} // namespace tarvina::server
