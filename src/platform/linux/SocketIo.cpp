#include "platform/linux/SocketIo.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

namespace tarvina::platform {

bool WaitForSocket(int fd, short events, int msecs) {
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
            if (!WaitForSocket(fd, POLLOUT, timeoutMs))
                return QStringLiteral("Tiempo de espera agotado al escribir");
            continue;
        }
        return n < 0 ? QString::fromLocal8Bit(std::strerror(errno))
                     : QStringLiteral("Conexión cerrada");
    }
    return std::nullopt;
}

SocketRead ReceiveFromSocket(int fd, char* data, qint64 maxSize) {
    SocketRead r;
    for (;;) {
        const ssize_t n = ::recv(fd, data, static_cast<size_t>(maxSize), MSG_DONTWAIT);
        if (n > 0) {
            r.status = SocketRead::Status::Data;
            r.bytes = n;
            return r;
        }
        if (n == 0) {
            r.status = SocketRead::Status::Ended;
            r.error = QStringLiteral("Conexión cerrada por el otro extremo");
            return r;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            r.status = SocketRead::Status::WouldBlock;
            return r;
        }
        r.status = SocketRead::Status::Failed;
        r.error = QString::fromLocal8Bit(std::strerror(errno));
        return r;
    }
}

QString PeerAddressOf(int fd) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0)
        return {};
    if (ss.ss_family != AF_INET && ss.ss_family != AF_INET6)
        return {};
    QHostAddress addr(reinterpret_cast<const sockaddr*>(&ss));
    bool isV4 = false;
    const quint32 v4 = addr.toIPv4Address(&isV4);
    if (isV4)
        return QHostAddress(v4).toString();
    return addr.toString();
}

} // namespace tarvina::platform
