#include "platform/linux/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSysInfo>
#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace tarvina::platform {

namespace {

QString ServerNameFor(const QString& folder, const QString& name) {
    const QString canonical = QFileInfo(folder).absoluteFilePath();
    const QByteArray hash =
        QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return name + QLatin1Char('-') + QString::number(::getuid()) + QLatin1Char('-') +
           QString::fromLatin1(hash);
}

// The lock names a process of this machine that no longer exists.
bool HeldByTheDead(const QLockFile& lock) {
    qint64 pid = 0;
    QString host, app;
    return lock.getLockInfo(&pid, &host, &app) && host == QSysInfo::machineHostName() && pid > 0 &&
           ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

} // namespace

SingleInstance::SingleInstance(const QString& folder, const QString& name, QObject* parent)
    : QObject(parent), lock_(QDir(folder).filePath(name + QStringLiteral(".lock"))),
      serverName_(ServerNameFor(folder, name)) {
    // Never taken for stale by age: a station runs for weeks.
    lock_.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() {
    if (server_)
        server_->close();
}

bool SingleInstance::acquire() {
    if (!lock_.tryLock(0)) {
        if (!HeldByTheDead(lock_) || !lock_.removeStaleLockFile() || !lock_.tryLock(0)) {
            askFirstToShow();
            return false;
        }
    }
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(serverName_); // left behind by a killed first instance
    server_->listen(serverName_);
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* s = server_->nextPendingConnection()) {
            connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
            connect(s, &QLocalSocket::readyRead, this, [this, s] {
                if (s->readAll().contains("show"))
                    Q_EMIT showRequested();
                s->disconnectFromServer();
            });
        }
    });
    return true;
}

bool SingleInstance::askFirstToShow() const {
    // Generous waits: a second start on a busy machine must still reach the
    // first one, or the operator's click shows nothing at all.
    QLocalSocket socket;
    socket.connectToServer(serverName_);
    if (!socket.waitForConnected(5000))
        return false;
    socket.write("show\n");
    if (!socket.waitForBytesWritten(5000))
        return false;
    socket.disconnectFromServer();
    return true;
}

} // namespace tarvina::platform
