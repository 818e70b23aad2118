#include "client/ui/StationInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSysInfo>
#include <cerrno>
#include <csignal>

namespace tarvina::client::ui {

StationInstance::StationInstance(const QString& folder, QObject* parent)
    : QObject(parent), lock_(QDir(folder).filePath(QStringLiteral("ZuClientMutex.lock"))) {
    const QByteArray h =
        QCryptographicHash::hash(QDir(folder).absolutePath().toUtf8(), QCryptographicHash::Sha1)
            .toHex()
            .left(16);
    serverName_ = QStringLiteral("ZuClientMutex-") + QString::fromLatin1(h);
    lock_.setStaleLockTime(0);
}

StationInstance::~StationInstance() {
    if (server_)
        server_->close();
}

bool StationInstance::acquire() {
    // A lock left by a station that died (a power cut, a kill) must not keep
    // the next start out: its process is gone.
    if (!lock_.tryLock(0)) {
        qint64 pid = 0;
        QString host, app;
        if (lock_.getLockInfo(&pid, &host, &app) && host == QSysInfo::machineHostName() &&
            pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            lock_.removeStaleLockFile();
        }
    }
    if (!lock_.isLocked() && !lock_.tryLock(0)) {
        QLocalSocket s;
        s.connectToServer(serverName_);
        if (s.waitForConnected(1000)) {
            s.write("show\n");
            s.waitForBytesWritten(1000);
        }
        return false;
    }
    QLocalServer::removeServer(serverName_);
    server_ = new QLocalServer(this);
    server_->listen(serverName_);
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* c = server_->nextPendingConnection()) {
            connect(c, &QLocalSocket::readyRead, this, [this, c] {
                c->readAll();
                Q_EMIT showRequested();
                c->deleteLater();
            });
        }
    });
    return true;
}

} // namespace tarvina::client::ui
