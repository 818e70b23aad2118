#include "simulator/FloorServer.h"

#include "protocol/Codes.h"
#include "protocol/Line.h"

#include <cerrno>
#include <ctime>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvina::sim {

namespace p = tarvina::protocol;

namespace {

// A line longer than this without its end is no station's; taquilla drops
// such lines too.
constexpr qsizetype kMaxPending = 1 << 16;

} // namespace

FloorServer::~FloorServer() {
    stop();
}

quint16 FloorServer::start() {
    // taquilla's lines, in the order it sends them: on connect MacQuery and
    // Hello; on Identify StatusQuery, ServiceMode with its digit and
    // PinQuery; on a StatusReport TimeRequestMode with its mode and values.
    // Mode, digit and values are those of a taquilla with new settings, as
    // the benchmark starts it (the benchmark compares the answers).
    greeting_ = p::Terminate(p::FormatToClient(p::tc::MacQuery)) +
                p::Terminate(p::FormatToClient(p::tc::Hello));
    identified_ = p::Terminate(p::FormatToClient(p::tc::StatusQuery)) +
                  p::Terminate(p::FormatToClient(p::tc::ServiceMode, "0")) +
                  p::Terminate(p::FormatToClient(p::tc::PinQuery));
    reportAnswer_ = p::Terminate(p::FormatToClient(p::tc::TimeRequestMode, "1,15,30,60"));

    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    epoll_event listenEv{EPOLLIN, {.fd = listenFd_}};
    epoll_event wakeEv{EPOLLIN, {.fd = wakeFd_}};
    // The same accept queue as taquilla's: stations all connect at once.
    if (listenFd_ < 0 || epollFd_ < 0 || wakeFd_ < 0 ||
        ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 1024) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, listenFd_, &listenEv) != 0 ||
        ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &wakeEv) != 0) {
        stop();
        return 0;
    }
    thread_ = std::thread([this] { run(); });
    loop_ = thread_.native_handle();
    return ntohs(addr.sin_port);
}

void FloorServer::stop() {
    if (thread_.joinable()) {
        const quint64 one = 1;
        if (::write(wakeFd_, &one, sizeof one) != sizeof one) {
            // An eventfd takes a write unless its counter is full, and a full
            // counter wakes the loop all the same.
        }
        thread_.join();
    }
    for (const auto& [fd, rest] : pending_)
        ::close(fd);
    pending_.clear();
    for (int* fd : {&listenFd_, &epollFd_, &wakeFd_})
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
}

qint64 FloorServer::cpuUs() const {
    clockid_t clock{};
    timespec t{};
    if (!thread_.joinable() || pthread_getcpuclockid(loop_, &clock) != 0 ||
        clock_gettime(clock, &t) != 0)
        return 0;
    return static_cast<qint64>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

void FloorServer::run() {
    epoll_event events[256];
    for (;;) {
        const int n = ::epoll_wait(epollFd_, events, 256, -1);
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            if (fd == wakeFd_)
                return;
            if (fd == listenFd_)
                accept();
            else
                read(fd);
        }
    }
}

void FloorServer::accept() {
    for (;;) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        // As taquilla: every answer is a short line a station waits for.
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        epoll_event ev{EPOLLIN, {.fd = fd}};
        if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev) != 0) {
            ::close(fd);
            continue;
        }
        pending_[fd];
        if (!send(fd, greeting_))
            drop(fd);
    }
}

void FloorServer::read(int fd) {
    char chunk[4096];
    const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
    if (got <= 0) {
        if (got == 0 || (errno != EAGAIN && errno != EINTR))
            drop(fd);
        return;
    }
    QByteArray& buffer = pending_[fd];
    buffer.append(chunk, got);
    qsizetype from = 0;
    for (qsizetype lf; (lf = buffer.indexOf('\n', from)) >= 0; from = lf + 1) {
        qsizetype end = lf;
        if (end > from && buffer.at(end - 1) == '\r')
            --end;
        if (!answer(fd, QByteArrayView(buffer).sliced(from, end - from))) {
            drop(fd);
            return;
        }
    }
    buffer.remove(0, from);
    if (buffer.size() > kMaxPending)
        buffer.clear();
}

bool FloorServer::answer(int fd, QByteArrayView line) {
    switch (p::ParseAtServer(line).code) {
    case p::ts::Identify:
        return send(fd, identified_);
    case p::ts::StatusReport:
        return send(fd, reportAnswer_);
    default:
        return true;
    }
}

bool FloorServer::send(int fd, const QByteArray& bytes) {
    // A few dozen bytes to a socket whose station reads everything: the
    // kernel takes them whole. A station that stopped reading is dropped
    // rather than waited for; no figure is taken from one.
    return ::send(fd, bytes.constData(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL) ==
           bytes.size();
}

void FloorServer::drop(int fd) {
    ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
    ::close(fd);
    pending_.erase(fd);
}

} // namespace tarvina::sim
