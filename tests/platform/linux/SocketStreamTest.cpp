#include "platform/linux/SocketStream.h"

#include "platform/StreamDevice.h"
#include "platform/linux/SocketIo.h"

#include <QElapsedTimer>
#include <arpa/inet.h>
#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

using tarvina::platform::PeerAddressOf;
using tarvina::platform::ReceiveFromSocket;
using tarvina::platform::SocketRead;
using tarvina::platform::SocketStream;
using tarvina::platform::StreamDevice;

namespace {

// Whether thread `tid` of this process sits in poll(2) now, as the kernel
// shows it.
bool InPoll(pid_t tid) {
    const std::string path = "/proc/self/task/" + std::to_string(tid) + "/syscall";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char line[32] = {};
    const ssize_t n = ::read(fd, line, sizeof line - 1);
    ::close(fd);
    if (n <= 0)
        return false;
    const long nr = std::strtol(line, nullptr, 10);
    return nr == SYS_poll || nr == SYS_ppoll;
}

// Two connected stream sockets, closed at the end of the test.
struct Pair {
    int a = -1, b = -1;
    Pair() {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0) {
            a = fds[0];
            b = fds[1];
        }
    }
    ~Pair() {
        closeB();
        if (a >= 0)
            ::close(a);
    }
    // Hands end a to a stream, which closes it.
    int release() {
        const int fd = a;
        a = -1;
        return fd;
    }
    void closeB() {
        if (b >= 0)
            ::close(b);
        b = -1;
    }
    bool put(const QByteArray& bytes) const {
        return ::send(b, bytes.constData(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL) ==
               bytes.size();
    }
};

// A loopback TCP connection: a listening socket, its accepted end and the
// connecting end.
struct Tcp {
    int listener = -1, accepted = -1, client = -1;
    explicit Tcp(int family) {
        listener = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        client = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_storage ss{};
        socklen_t len = 0;
        if (family == AF_INET) {
            auto* in = reinterpret_cast<sockaddr_in*>(&ss);
            in->sin_family = AF_INET;
            in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            len = sizeof(sockaddr_in);
        } else {
            auto* in6 = reinterpret_cast<sockaddr_in6*>(&ss);
            in6->sin6_family = AF_INET6;
            // The IPv4 loopback mapped into IPv6, as a dual-stack listener
            // sees an IPv4 station.
            ::inet_pton(AF_INET6, "::ffff:127.0.0.1", &in6->sin6_addr);
            len = sizeof(sockaddr_in6);
        }
        auto* addr = reinterpret_cast<sockaddr*>(&ss);
        if (::bind(listener, addr, len) != 0 || ::listen(listener, 1) != 0 ||
            ::getsockname(listener, addr, &len) != 0 || ::connect(client, addr, len) != 0)
            return;
        accepted = ::accept(listener, nullptr, nullptr);
    }
    ~Tcp() {
        for (int fd : {listener, accepted, client})
            if (fd >= 0)
                ::close(fd);
    }
};

} // namespace

TEST(StreamDevice, ReadsWhatCameThenTheEndAsAClosedConnection) {
    Pair p;
    ASSERT_GE(p.a, 0);
    SocketStream stream(p.release(), false);
    StreamDevice dev(stream);
    ASSERT_TRUE(p.put("R01PC1\r\n"));
    ASSERT_TRUE(dev.waitForReadyRead(30000));
    EXPECT_EQ(dev.bytesAvailable(), 8);
    EXPECT_EQ(dev.read(100), QByteArray("R01PC1\r\n"));
    // Nothing more yet: an empty read, not an end.
    char c = 0;
    EXPECT_EQ(dev.read(&c, 1), 0);
    p.closeB();
    ASSERT_TRUE(dev.waitForReadyRead(30000));
    EXPECT_EQ(dev.read(&c, 1), -1);
    EXPECT_FALSE(dev.errorString().isEmpty());
    // Ended for good: no wait, no read.
    EXPECT_FALSE(dev.waitForReadyRead(1000));
    EXPECT_EQ(dev.read(&c, 1), -1);
}

TEST(StreamDevice, AWaitWithoutDataRunsOutAndAShutdownFromAnotherThreadWakesIt) {
    Pair p;
    ASSERT_GE(p.a, 0);
    SocketStream stream(p.release(), false);
    StreamDevice dev(stream);
    EXPECT_FALSE(dev.waitForReadyRead(20));

    // The shutdown comes once the wait has begun, so that it is the wake-up
    // that is seen.
    const pid_t waiter = ::gettid();
    std::atomic<bool> sawWaiting{false};
    std::thread closer([&stream, waiter, &sawWaiting] {
        QElapsedTimer limit;
        limit.start();
        while (!(sawWaiting = InPoll(waiter)) && limit.elapsed() < 30000)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        stream.shutdown();
    });
    QElapsedTimer t;
    t.start();
    // Without the shutdown this would wait the whole minute.
    EXPECT_TRUE(dev.waitForReadyRead(60000));
    closer.join();
    EXPECT_TRUE(sawWaiting) << "the wait was never seen in poll";
    EXPECT_LT(t.elapsed(), 30000);
    char c = 0;
    EXPECT_EQ(dev.read(&c, 1), -1);
}

TEST(StreamDevice, WritesEverythingOrFailsWhenThePeerStopsReading) {
    Pair p;
    ASSERT_GE(p.a, 0);
    SocketStream stream(p.release(), false);
    StreamDevice dev(stream, 100);
    const QByteArray line("01\r\n");
    EXPECT_EQ(dev.write(line), line.size());
    char buf[8] = {};
    EXPECT_EQ(::recv(p.b, buf, sizeof buf, 0), line.size());

    // A peer that never reads: the write gives up after its time-out
    // instead of blocking the connection's thread.
    const QByteArray big(8 * 1024 * 1024, 'x');
    EXPECT_EQ(dev.write(big), -1);
    EXPECT_FALSE(dev.errorString().isEmpty());

    // A peer that is gone: an error, never SIGPIPE.
    p.closeB();
    EXPECT_EQ(dev.write(line), -1);
}

// The station's receive thread waits without limit and is woken to stop
// (or to look at its flags) without losing the connection.
TEST(SocketStream, AWakeEndsAWaitWithoutLimitAndLeavesTheStreamUsable) {
    Pair p;
    ASSERT_GE(p.a, 0);
    SocketStream stream(p.release(), true);
    const pid_t waiter = ::gettid();
    std::thread waker([&stream, waiter] {
        QElapsedTimer limit;
        limit.start();
        while (!InPoll(waiter) && limit.elapsed() < 30000)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        stream.wake();
    });
    char buf[8];
    EXPECT_EQ(stream.read(buf, sizeof buf, -1).status, SocketStream::Read::Status::Nothing);
    waker.join();
    // The wake is used up: the next wait runs its time.
    EXPECT_FALSE(stream.waitReadable(20));
    ASSERT_TRUE(p.put("ok"));
    const SocketStream::Read r = stream.read(buf, sizeof buf, 30000);
    EXPECT_EQ(r.status, SocketStream::Read::Status::Data);
    EXPECT_EQ(QByteArray(buf, static_cast<int>(r.bytes)), QByteArray("ok"));
    p.closeB();
    EXPECT_EQ(stream.read(buf, sizeof buf, 30000).status, SocketStream::Read::Status::Ended);
}

TEST(SocketRead, TellsDataNothingYetAndTheEndApart) {
    Pair p;
    ASSERT_GE(p.a, 0);
    char buf[4];
    EXPECT_EQ(ReceiveFromSocket(p.a, buf, sizeof buf).status, SocketRead::Status::WouldBlock);
    ASSERT_TRUE(p.put("abcdef"));
    SocketRead r = ReceiveFromSocket(p.a, buf, sizeof buf);
    EXPECT_EQ(r.status, SocketRead::Status::Data);
    EXPECT_EQ(r.bytes, 4);
    r = ReceiveFromSocket(p.a, buf, sizeof buf);
    EXPECT_EQ(r.bytes, 2);
    p.closeB();
    r = ReceiveFromSocket(p.a, buf, sizeof buf);
    EXPECT_EQ(r.status, SocketRead::Status::Ended);
    EXPECT_FALSE(r.error.isEmpty());
    EXPECT_EQ(ReceiveFromSocket(-1, buf, sizeof buf).status, SocketRead::Status::Failed);
}

// The server keeps per-address counts and a station's record by this text.
TEST(PeerAddress, IPv4AlsoWhenMappedIntoIPv6AndNothingForOtherSockets) {
    Tcp v4(AF_INET);
    ASSERT_GE(v4.accepted, 0);
    EXPECT_EQ(PeerAddressOf(v4.accepted), QStringLiteral("127.0.0.1"));

    Tcp mapped(AF_INET6);
    if (mapped.accepted >= 0) {
        EXPECT_EQ(PeerAddressOf(mapped.accepted), QStringLiteral("127.0.0.1"));
    }

    Pair local;
    EXPECT_TRUE(PeerAddressOf(local.a).isEmpty());
    EXPECT_TRUE(PeerAddressOf(-1).isEmpty());
}
