#include "platform/linux/SocketDevice.h"

#include "platform/linux/SocketIo.h"

#include <QHostAddress>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace tarvina::platform {

SocketDevice::SocketDevice(int fd, int writeTimeoutMs) : fd_(fd), writeTimeoutMs_(writeTimeoutMs) {
    open(QIODevice::ReadWrite | QIODevice::Unbuffered);
}

bool SocketDevice::waitForReadyRead(int msecs) {
    if (ended_)
        return false;
    return WaitForSocket(fd_, POLLIN, msecs);
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
    const SocketRead r = ReceiveFromSocket(fd_, data, maxSize);
    switch (r.status) {
    case SocketRead::Status::Data:
        return r.bytes;
    case SocketRead::Status::WouldBlock:
        return 0;
    case SocketRead::Status::Ended:
    case SocketRead::Status::Failed:
        break;
    }
    ended_ = true;
    setErrorString(r.error);
    return -1;
}

qint64 SocketDevice::writeData(const char* data, qint64 size) {
    if (const auto err = WriteAllToSocket(fd_, data, size, writeTimeoutMs_)) {
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
