#include "platform/linux/TcpNetwork.h"

#include "platform/linux/SocketStream.h"
#include "platform/linux/TlsStream.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvina::platform {

namespace {

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

// Every answer on the wire is one short line that the other end waits for:
// holding it back to coalesce with more (Nagle) only adds delay.
void NoDelay(int fd) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

class TcpListener final : public Listener {
    // QTcpServer hands out the descriptor of each accepted connection.
    class Server final : public QTcpServer {
    public:
        explicit Server(TcpListener& owner) : owner_(owner) {}

    protected:
        void incomingConnection(qintptr fd) override { owner_.accepted(static_cast<int>(fd)); }

    private:
        TcpListener& owner_;
    };

public:
    explicit TcpListener(const TcpNetwork& network) : network_(network) {}

    bool listen(quint16 port, int backlog, Accepted onAccept) override {
        if (server_.isListening())
            return true;
        onAccept_ = std::move(onAccept);
        server_.setListenBacklogSize(backlog);
        return server_.listen(QHostAddress::Any, port);
    }
    void close() override { server_.close(); }
    bool isListening() const override { return server_.isListening(); }
    quint16 port() const override { return server_.serverPort(); }
    QString errorString() const override { return server_.errorString(); }

private:
    void accepted(int fd) {
        NoDelay(fd);
        // A peer that vanishes without closing is found by the keep-alive
        // probes even when this end has nothing to write.
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
        const LinkSecurity security = network_.security();
        std::unique_ptr<Stream> stream;
        if (security.encrypts() && security.mode != LinkSecurity::Mode::Plain)
            stream = std::make_unique<TlsStream>(fd, false, TlsStream::Role::Server, security);
        else
            stream = std::make_unique<SocketStream>(fd, false);
        if (onAccept_)
            onAccept_(std::move(stream));
    }

    const TcpNetwork& network_;
    Server server_{*this};
    Accepted onAccept_;
};

} // namespace

std::unique_ptr<Listener> TcpNetwork::makeListener() {
    return std::make_unique<TcpListener>(*this);
}

void TcpNetwork::setSecurity(const LinkSecurity& security) {
    std::lock_guard lock(mutex_);
    security_ = security;
}

LinkSecurity TcpNetwork::security() const {
    std::lock_guard lock(mutex_);
    return security_;
}

std::unique_ptr<Stream> TcpNetwork::connect(const QString& host, quint16 port, int timeoutMs,
                                            QString* error, const std::function<bool()>& stop,
                                            const QString& localAddress) {
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return nullptr;
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
    NoDelay(connected);
    const LinkSecurity secure = security();
    if (secure.encrypts())
        return std::make_unique<TlsStream>(connected, true, TlsStream::Role::Client, secure);
    return std::make_unique<SocketStream>(connected, true);
}

} // namespace tarvina::platform
