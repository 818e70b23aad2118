#include "client/link/TcpLink.h"

#include "platform/linux/SocketIo.h"
#include "protocol/LineReader.h"

#include <QElapsedTimer>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvina::client {

namespace {

// Largest single read from the socket.
constexpr int kChunk = 64 * 1024;

int PollOne(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    for (;;) {
        const int r = ::poll(&p, 1, timeoutMs);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return r;
        return p.revents;
    }
}

} // namespace

TcpConnection::TcpConnection(int fd) : fd_(fd), wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TcpConnection::~TcpConnection() {
    ::close(fd_);
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

void TcpConnection::wakeReader() {
    if (wakeFd_ < 0)
        return;
    const quint64 one = 1;
    // A full counter already wakes the reader; nothing else can fail here.
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

bool TcpConnection::send(QByteArrayView bytes, int timeoutMs) {
    return sendParts({bytes}, timeoutMs);
}

bool TcpConnection::sendParts(std::initializer_list<QByteArrayView> parts, int timeoutMs) {
    std::lock_guard lock(sendMutex_);
    if (!up_.load())
        return false;
    for (QByteArrayView part : parts) {
        if (platform::WriteAllToSocket(fd_, part.data(), part.size(),
                                       timeoutMs > 0 ? timeoutMs : -1)) {
            up_.store(false);
            ::shutdown(fd_, SHUT_RDWR);
            return false;
        }
    }
    return true;
}

void TcpConnection::shutdown() {
    up_.store(false);
    ::shutdown(fd_, SHUT_RDWR);
}

TcpConnection::Fill TcpConnection::fill(int waitMs) {
    if (waitMs < 0 && wakeFd_ < 0)
        waitMs = 5;
    pollfd p[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    int r = 0;
    do {
        r = ::poll(p, wakeFd_ >= 0 ? 2 : 1, waitMs);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        up_.store(false);
        return Fill::Closed;
    }
    if (wakeFd_ >= 0 && (p[1].revents & POLLIN)) {
        quint64 count = 0;
        [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
        if (!(p[0].revents & (POLLIN | POLLHUP | POLLERR)))
            return Fill::Timeout;
    }
    if (r == 0 || p[0].revents == 0)
        return Fill::Timeout;
    char chunk[kChunk];
    const platform::SocketRead got = platform::ReceiveFromSocket(fd_, chunk, sizeof chunk);
    switch (got.status) {
    case platform::SocketRead::Status::Data:
        buffer_.append(chunk, got.bytes);
        return Fill::Data;
    case platform::SocketRead::Status::WouldBlock:
        return Fill::Timeout;
    case platform::SocketRead::Status::Ended:
    case platform::SocketRead::Status::Failed:
        break;
    }
    up_.store(false);
    return Fill::Closed;
}

TcpConnection::ReadStatus TcpConnection::readLine(QByteArray& line, int waitMs, qsizetype maxLine) {
    bool waited = false;
    for (;;) {
        switch (protocol::TakeLine(buffer_, discarding_, maxLine, line)) {
        case protocol::TakeLineResult::Line:
            return ReadStatus::Line;
        case protocol::TakeLineResult::TooLong:
            return ReadStatus::TooLong;
        case protocol::TakeLineResult::NeedMore:
            break;
        }
        if (waited)
            return ReadStatus::Nothing;
        switch (fill(waitMs)) {
        case Fill::Data:
            break;
        case Fill::Timeout:
            waited = true;
            break;
        case Fill::Closed:
            return ReadStatus::Closed;
        }
    }
}

bool TcpConnection::readExact(qsizetype n, QByteArray& out, int idleTimeoutMs,
                              const std::function<bool()>& stop) {
    out.clear();
    if (n < 0)
        return false;
    QElapsedTimer idle;
    idle.start();
    while (buffer_.size() < n) {
        if (stop && stop())
            return false;
        const qsizetype before = buffer_.size();
        if (fill(50) == Fill::Closed)
            return false;
        if (buffer_.size() != before)
            idle.restart();
        else if (idle.elapsed() > idleTimeoutMs)
            return false;
    }
    out = buffer_.left(n);
    buffer_.remove(0, n);
    return true;
}

bool TcpLink::connectTo(const QString& host, quint16 port, int timeoutMs, QString* error,
                        const std::function<bool()>& stop, const QString& localAddress) {
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const QByteArray name = (host.isEmpty() ? QStringLiteral("127.0.0.1") : host).toUtf8();
    const QByteArray service = QByteArray::number(port);
    if (const int rc = ::getaddrinfo(name.constData(), service.constData(), &hints, &list); rc != 0)
        return fail(QString::fromUtf8(::gai_strerror(rc)));
    QString lastError = QStringLiteral("no address");
    int connected = -1;
    for (addrinfo* ai = list; ai && connected < 0; ai = ai->ai_next) {
        const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                                ai->ai_protocol);
        if (fd < 0) {
            lastError = QString::fromLocal8Bit(std::strerror(errno));
            continue;
        }
        if (!localAddress.isEmpty() && ai->ai_family == AF_INET) {
            sockaddr_in local{};
            local.sin_family = AF_INET;
            if (::inet_pton(AF_INET, localAddress.toLatin1().constData(), &local.sin_addr) != 1 ||
                ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
                lastError = QStringLiteral("bind ") + localAddress;
                ::close(fd);
                continue;
            }
        }
        int rc = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
        if (rc < 0 && errno == EINPROGRESS) {
            QElapsedTimer t;
            t.start();
            rc = -1;
            while (!(stop && stop()) && (timeoutMs <= 0 || t.elapsed() < timeoutMs)) {
                const int r = PollOne(fd, POLLOUT, 100);
                if (r == 0)
                    continue;
                int err = 0;
                socklen_t len = sizeof err;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
                if (err == 0 && r > 0)
                    rc = 0;
                else
                    errno = err ? err : ECONNREFUSED;
                break;
            }
            if (rc != 0 && errno == EINPROGRESS)
                errno = ETIMEDOUT;
        }
        if (rc == 0) {
            connected = fd;
        } else {
            lastError = QString::fromLocal8Bit(std::strerror(errno));
            ::close(fd);
        }
    }
    ::freeaddrinfo(list);
    if (connected < 0)
        return fail(lastError);
    int one = 1;
    ::setsockopt(connected, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto conn = std::make_shared<TcpConnection>(connected);
    std::lock_guard lock(mutex_);
    if (current_)
        current_->shutdown();
    current_ = std::move(conn);
    return true;
}

std::shared_ptr<TcpConnection> TcpLink::connection() const {
    std::lock_guard lock(mutex_);
    return current_;
}

bool TcpLink::isConnected() const {
    const auto c = connection();
    return c && c->isUp();
}

bool TcpLink::send(QByteArrayView bytes) {
    const auto c = connection();
    return c && c->send(bytes, writeTimeoutMs_.load());
}

bool TcpLink::sendParts(std::initializer_list<QByteArrayView> parts) {
    const auto c = connection();
    return c && c->sendParts(parts, writeTimeoutMs_.load());
}

void TcpLink::disconnect() {
    if (const auto c = connection())
        c->shutdown();
}

} // namespace tarvina::client
