// The listener and its connection threads over streams they did not choose:
// a stream is served only once it has started, and whatever the stream, the
// session reads and writes through the connection alike.
#include "server/net/StationServer.h"

#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeNetwork.h"
#include "protocol/LineReader.h"
#include "server/net/StationConnection.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>

using namespace tarvina;
using namespace tarvina::server;

namespace {

bool Until(const std::function<bool()>& done, int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

struct ServerOnFakeNetwork : ::testing::Test {
    platform::FakeNetwork network;
    platform::FakeClock clock;
    ComputersLock lock;
    QStringList console;
    std::mutex seenMutex;
    QStringList seen; // "peer line", as the serving threads read them
    std::atomic<int> served{0};
    StationServer server{ListenerHost{
        network, clock, lock, [this](const QString& t) { console << t; },
        [this](std::shared_ptr<StationConnection> conn) {
            ++served;
            QByteArray line;
            if (conn->reader().readLineWait(line, 10000) != protocol::LineReader::Status::Line)
                return;
            {
                std::lock_guard g(seenMutex);
                seen << conn->peerAddress() + u' ' + QString::fromLatin1(line);
            }
            conn->sendLine("OK " + line);
            conn->shutdown();
        }}};

    std::unique_ptr<platform::Stream> connect(const QString& from) {
        QString error;
        auto s = network.connect({}, server.serverPort(), 1000, &error, {}, from);
        EXPECT_TRUE(s) << error.toStdString();
        return s;
    }
    static QByteArray readAll(platform::Stream& s) {
        QByteArray got;
        char buf[64];
        for (;;) {
            const auto r = s.read(buf, sizeof buf, 10000);
            if (r.status != platform::Stream::Read::Status::Data)
                return got;
            got.append(buf, static_cast<int>(r.bytes));
        }
    }
};

TEST_F(ServerOnFakeNetwork, AStreamIsServedThroughTheConnectionWhateverItIs) {
    ASSERT_TRUE(server.listen(0));
    auto station = connect(QStringLiteral("10.0.0.7"));
    ASSERT_TRUE(station);
    ASSERT_FALSE(station->writeAll("R01PC7\r\n", 8, 1000));
    // The session's answer, then the end when its thread is done (the
    // accept itself runs in this thread's event loop).
    ASSERT_TRUE(Until([&] { return station->waitReadable(0); }));
    EXPECT_EQ(readAll(*station), QByteArray("OK R01PC7\r\n"));
    ASSERT_TRUE(Until([&] { return server.threadCount() == 0; }));
    std::lock_guard g(seenMutex);
    EXPECT_EQ(seen, QStringList{QStringLiteral("10.0.0.7 R01PC7")});
}

TEST_F(ServerOnFakeNetwork, AStreamThatCannotStartIsNeverServed) {
    network.startFailure = QStringLiteral("handshake refused");
    ASSERT_TRUE(server.listen(0));
    auto station = connect(QStringLiteral("10.0.0.8"));
    ASSERT_TRUE(station);
    // Its thread ends without serving it, and the stream is closed.
    ASSERT_TRUE(Until([&] { return station->waitReadable(0); }));
    EXPECT_TRUE(readAll(*station).isEmpty());
    EXPECT_EQ(served.load(), 0);
    EXPECT_TRUE(Until([&] { return server.threadCount() == 0; }));

    // The next one starts and is served.
    network.startFailure.reset();
    auto next = connect(QStringLiteral("10.0.0.8"));
    ASSERT_FALSE(next->writeAll("R01PC8\r\n", 8, 1000));
    ASSERT_TRUE(Until([&] { return next->waitReadable(0); }));
    EXPECT_EQ(readAll(*next), QByteArray("OK R01PC8\r\n"));
    EXPECT_EQ(served.load(), 1);
}

TEST_F(ServerOnFakeNetwork, TheAddressLimitCountsThePeersTheStreamsName) {
    ASSERT_TRUE(server.listen(0));
    std::vector<std::unique_ptr<platform::Stream>> crowd;
    for (int i = 0; i <= StationServer::kMaxPerAddress; ++i)
        crowd.push_back(connect(QStringLiteral("10.0.0.9")));
    auto other = connect(QStringLiteral("10.0.0.10"));
    ASSERT_TRUE(Until([&] { return server.threadCount() == StationServer::kMaxPerAddress + 1; }));
    // The refused one was dropped at once: its peer sees the end.
    EXPECT_TRUE(readAll(*crowd.back()).isEmpty());
    server.Sweep();
    EXPECT_TRUE(console.contains(
        QStringLiteral("1 conexión de 10.0.0.9 rechazada (más de 8 abiertas desde esa dirección)")))
        << console.join(u'\n').toStdString();
    server.stop();
    EXPECT_EQ(server.threadCount(), 0);
}

} // namespace
