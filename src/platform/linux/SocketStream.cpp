#include "platform/linux/SocketStream.h"

#include "platform/linux/SocketIo.h"

#include <QDeadlineTimer>
#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvina::platform {

SocketStream::SocketStream(int fd, bool wakeable)
    : fd_(fd), wakeable_(wakeable),
      wakeFd_(wakeable ? ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK) : -1) {}

SocketStream::~SocketStream() {
    ::close(fd_);
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

bool SocketStream::waitReadable(int msecs) {
    if (wakeFd_ < 0) {
        if (wakeable_ && msecs < 0)
            msecs = 5;
        return WaitForSocket(fd_, POLLIN, msecs);
    }
    const QDeadlineTimer deadline =
        msecs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(msecs);
    pollfd p[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    int r = 0;
    do {
        const qint64 left = deadline.remainingTime();
        r = ::poll(p, 2, left < 0 ? -1 : static_cast<int>(std::min<qint64>(left, 1 << 30)));
    } while (r < 0 && errno == EINTR);
    if (r < 0)
        return true; // the following read reports the failure
    if (p[1].revents & POLLIN) {
        quint64 count = 0;
        [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
        if (!(p[0].revents & (POLLIN | POLLHUP | POLLERR)))
            return false;
    }
    return r > 0 && p[0].revents != 0;
}

Stream::Read SocketStream::read(char* data, qint64 maxSize, int waitMs) {
    Read r;
    if (waitMs != 0 && !waitReadable(waitMs))
        return r;
    const SocketRead got = ReceiveFromSocket(fd_, data, maxSize);
    switch (got.status) {
    case SocketRead::Status::Data:
        r.status = Read::Status::Data;
        r.bytes = got.bytes;
        break;
    case SocketRead::Status::WouldBlock:
        break;
    case SocketRead::Status::Ended:
        r.status = Read::Status::Ended;
        r.error = got.error;
        break;
    case SocketRead::Status::Failed:
        r.status = Read::Status::Failed;
        r.error = got.error;
        break;
    }
    return r;
}

qint64 SocketStream::bytesReadable() const {
    int n = 0;
    if (::ioctl(fd_, FIONREAD, &n) < 0)
        n = 0;
    return n;
}

std::optional<QString> SocketStream::writeAll(const char* data, qint64 size, int timeoutMs) {
    return WriteAllToSocket(fd_, data, size, timeoutMs);
}

void SocketStream::shutdown() {
    ::shutdown(fd_, SHUT_RDWR);
}

void SocketStream::wake() {
    if (wakeFd_ < 0)
        return;
    const quint64 one = 1;
    // A full counter already wakes the reader; nothing else can fail here.
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

QString SocketStream::peerAddress() const {
    return PeerAddressOf(fd_);
}

} // namespace tarvina::platform
