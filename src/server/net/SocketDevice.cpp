#include "server/net/SocketDevice.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace tarvina::server {

namespace {

QString ErrnoText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

// Waits for `events` on fd; true when ready (or in error), false on time-out.
bool PollFor(int fd, short events, int msecs) {
    const QDeadlineTimer deadline =
        msecs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(msecs);
    for (;;) {
        pollfd p{fd, events, 0};
        const qint64 left = deadline.remainingTime();
        const int r =
            ::poll(&p, 1, left < 0 ? -1 : static_cast<int>(std::min<qint64>(left, 1 << 30)));
        if (r > 0)
            return true;
        if (r == 0)
            return false;
        if (errno != EINTR)
            return true; // let the following read or write report the failure
    }
}

} // namespace

SocketDevice::SocketDevice(int fd) : fd_(fd) {
    open(QIODevice::ReadWrite | QIODevice::Unbuffered);
}

bool SocketDevice::waitForReadyRead(int msecs) {
    if (ended_)
        return false;
    return PollFor(fd_, POLLIN, msecs);
}

qint64 SocketDevice::bytesAvailable() const {
    int n = 0;
    if (::ioctl(fd_, FIONREAD, &n) < 0)
        n = 0;
    return QIODevice::bytesAvailable() + n;
}

qint64 SocketDevice::readData(char* data, qint64 maxSize) {
    if (ended_)
        return -1;
    for (;;) {
        const ssize_t n = ::recv(fd_, data, static_cast<size_t>(maxSize), MSG_DONTWAIT);
        if (n > 0)
            return n;
        if (n == 0) {
            ended_ = true;
            setErrorString(QStringLiteral("Conexión cerrada por el cliente"));
            return -1;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        ended_ = true;
        setErrorString(ErrnoText(errno));
        return -1;
    }
}

qint64 SocketDevice::writeData(const char* data, qint64 size) {
    if (const auto err = WriteAllToSocket(fd_, data, size, 2000)) {
        setErrorString(*err);
        return -1;
    }
    return size;
}

std::optional<QString> WriteAllToSocket(int fd, const char* data, qint64 size, int timeoutMs) {
    qint64 done = 0;
    while (done < size) {
        const ssize_t n =
            ::send(fd, data + done, static_cast<size_t>(size - done), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!PollFor(fd, POLLOUT, timeoutMs))
                return QStringLiteral("Tiempo de espera agotado al escribir");
            continue;
        }
        return n < 0 ? ErrnoText(errno) : QStringLiteral("Conexión cerrada");
    }
    return std::nullopt;
}

QString PeerAddressOf(int fd) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0)
        return {};
    QHostAddress addr(reinterpret_cast<const sockaddr*>(&ss));
    bool isV4 = false;
    const quint32 v4 = addr.toIPv4Address(&isV4);
    if (isV4)
        return QHostAddress(v4).toString();
    return addr.toString();
}

} // namespace tarvina::server
