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
            // The request may be in the buffer already, or arrive together
            // with the end of the connection: it is looked for at each.
            const auto take = [this, s] {
                if (s->property("answered").toBool() || !s->canReadLine())
                    return;
                s->setProperty("answered", true);
                if (s->readLine().startsWith("show"))
                    Q_EMIT showRequested();
                // The second start waits for this as its answer.
                s->disconnectFromServer();
            };
            connect(s, &QLocalSocket::readyRead, this, take);
            connect(s, &QLocalSocket::disconnected, this, [s, take] {
                take();
                s->deleteLater();
            });
            take();
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
    // Answered when the first one closes the connection after reading.
    if (socket.state() != QLocalSocket::UnconnectedState && !socket.waitForDisconnected(5000))
        return false;
    return true;
}

} // namespace tarvina::platform
