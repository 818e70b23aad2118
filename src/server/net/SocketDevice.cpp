#include "server/net/SocketDevice.h"

#include "platform/linux/SocketIo.h"

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

} // namespace

SocketDevice::SocketDevice(int fd) : fd_(fd) {
    open(QIODevice::ReadWrite | QIODevice::Unbuffered);
}

bool SocketDevice::waitForReadyRead(int msecs) {
    if (ended_)
        return false;
    return platform::WaitForSocket(fd_, POLLIN, msecs);
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
    if (const auto err = platform::WriteAllToSocket(fd_, data, size, 2000)) {
        setErrorString(*err);
        return -1;
    }
    return size;
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
