// The station against a small server in the test: handshake, replies, the
// keep-alive, lost connections, refused blocks and the soft reinit, over
// loopback.
#include "ClientFakes.h"
#include "common/Password.h"
#include "protocol/Block.h"
#include "protocol/Fields.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::client;
using namespace tarvina::client::test;

namespace {

// Lives on the test's main thread; the station's sockets are on its own
// threads, so nothing here blocks the other side.
class FakeServer {
public:
    FakeServer() {
        EXPECT_TRUE(server_.listen(QHostAddress::LocalHost, port_));
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = server_.nextPendingConnection()) {
                peer_ = s;
                ++connections;
                buffer_.clear();
                QObject::connect(s, &QTcpSocket::readyRead, [this, s] {
                    if (s == peer_)
                        buffer_ += s->readAll();
                });
            }
        });
    }
    quint16 port() const { return server_.serverPort(); }

    bool waitConnected(int count = 1, int ms = 8000) {
        return QTest::qWaitFor([&] { return connections >= count; }, ms);
    }
    void send(const QByteArray& line) {
        ASSERT_TRUE(peer_);
        peer_->write(line + "\r\n");
        peer_->flush();
    }
    void sendRaw(const QByteArray& bytes) {
        peer_->write(bytes);
        peer_->flush();
    }
    // The next line starting with prefix (earlier lines are dropped).
    QByteArray waitLine(const QByteArray& prefix, int ms = 5000) {
        QByteArray found;
        (void)QTest::qWaitFor(
            [&] {
                for (;;) {
                    const qsizetype lf = buffer_.indexOf("\r\n");
                    if (lf < 0)
                        return false;
                    const QByteArray line = buffer_.left(lf);
                    buffer_.remove(0, lf + 2);
                    if (line.startsWith(prefix)) {
                        found = line;
                        return true;
                    }
                }
            },
            ms);
        return found;
    }
    // Raw bytes after the lines read so far.
    QByteArray takeBytes(qsizetype n, int ms = 5000) {
        (void)QTest::qWaitFor([&] { return buffer_.size() >= n; }, ms);
        const QByteArray out = buffer_.left(n);
        buffer_.remove(0, n);
        return out;
    }
    void drop() {
        if (peer_)
            peer_->abort();
        peer_ = nullptr;
    }
    void close() {
        drop();
        server_.close();
    }
    bool relisten(quint16 port) { return server_.listen(QHostAddress::LocalHost, port); }
    bool peerGone(int ms = 5000) {
        return QTest::qWaitFor(
            [&] { return !peer_ || peer_->state() != QAbstractSocket::ConnectedState; }, ms);
    }

    int connections = 0;

private:
    quint16 port_ = 0;
    QTcpServer server_;
    QTcpSocket* peer_ = nullptr;
    QByteArray buffer_;
};

struct Connected {
    FakeServer server;
    Station st;
    Connected() {
        ClientEnvironment e = st.env();
        e.port = server.port();
        st.make(e);
        st.core->Create();
        st.core->setAutoConnect(false);
        st.core->Show();
        st.core->link().StartConnectThread();
        EXPECT_TRUE(server.waitConnected());
        EXPECT_TRUE(QTest::qWaitFor([&] { return st.core->link().receiveThreadRunning(); }, 5000));
    }
};

} // namespace

TEST(Connection, HandshakeAndStateReplies) {
    Connected c;
    EXPECT_TRUE(c.st.core->link().connected());
    EXPECT_EQ(c.st.core->display().statusText, QStringLiteral("Conexión exitosa"));
    EXPECT_TRUE(c.st.core->display().masTiempoEnabled);
    c.server.send("48");
    c.server.send("01");
    EXPECT_EQ(c.server.waitLine("R48"), "R4800-0C-29-AB-CD-EF");
    EXPECT_EQ(c.server.waitLine("R01"), "R01PC1");
    c.server.send("02");
    // Locked, no user, nothing left, no start, no tag.
    EXPECT_EQ(c.server.waitLine("R02"), "R021,,0,0,,PC1,V 3.0 (B 0.0)");
    c.server.send("41");
    EXPECT_EQ(c.server.waitLine("R41"), "R41");
    c.server.send("49C0FFEE");
    EXPECT_EQ(c.server.waitLine("R49"), "R49C0FFEE");
    c.server.send("41");
    EXPECT_EQ(c.server.waitLine("R41"), "R41C0FFEE");
    c.server.send("43");
    EXPECT_EQ(c.server.waitLine("R43"), "R43FF");
    c.server.send("36");
    EXPECT_EQ(c.server.waitLine("R36"), "R3680008000");
    c.st.audio.hasVolume = false;
    c.server.send("36");
    EXPECT_EQ(c.server.waitLine("R36"), "R36failed");
    c.st.drives.cds = "DE";
    c.server.send("33");
    EXPECT_EQ(c.server.waitLine("R33"), "R33DE");
}

TEST(Connection, LogQueryAnswersTheCountedLog) {
    Connected c;
    c.server.send("51");
    EXPECT_EQ(c.server.waitLine("R51"), "R51");
    EXPECT_EQ(c.server.takeBytes(4), QByteArray(4, '\0'));
    c.st.core->log().LogException("primera falla");
    c.server.send("51");
    EXPECT_EQ(c.server.waitLine("R51"), "R51");
    const auto count = protocol::DecodeInt32(c.server.takeBytes(4));
    ASSERT_TRUE(count);
    EXPECT_EQ(*count, 2); // the entry and its empty line
    EXPECT_TRUE(c.server.waitLine("").endsWith(" primera falla"));
}

TEST(Connection, GrantIsAcceptedAndReportedInOrder) {
    Connected c;
    c.st.welcome.answers << ScriptedWelcome::Answer{true, {}, {}};
    c.server.send("0430,Ana,");
    // Waiting: the report goes out before the dialog shows.
    EXPECT_EQ(c.server.waitLine("R02"), "R024,Ana,0,0,-1,PC1,V 3.0 (B 0.0)");
    EXPECT_EQ(c.server.waitLine("R13"), "R13Ana est\xe1 en PC1");
    EXPECT_EQ(c.server.waitLine("R04"), "R04Ana");
    const QByteArray r02 = c.server.waitLine("R02");
    EXPECT_TRUE(r02.startsWith("R022,Ana,0.0208333")) << r02.toStdString(); // 30 minutes
    EXPECT_TRUE(r02.endsWith(",-1,PC1,V 3.0 (B 0.0)")) << r02.toStdString();
    // Extra time: R06 then the report.
    c.server.send("0615");
    EXPECT_EQ(c.server.waitLine("R06"), "R06Ana");
    EXPECT_TRUE(c.server.waitLine("R02").startsWith("R022,Ana,0.03125"));
    // Three wrong passwords: three failure lines.
    c.st.welcome.answers << ScriptedWelcome::Answer{true, "x", {}}
                         << ScriptedWelcome::Answer{true, "y", {}}
                         << ScriptedWelcome::Answer{true, "z", {}};
    c.server.send("0410,Beto," + protocol::ToHexText(common::ScramblePassword("clave")));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(c.server.waitLine("R13"), "R13Beto intenta usar  PC1 fallando con la clave.");
    EXPECT_TRUE(c.server.waitLine("R02").startsWith("R021,"));
}

TEST(Connection, WithdrawWhileWaitingEndsTheDialog) {
    Connected c;
    c.st.welcome.answers << ScriptedWelcome::Answer{
        true, {}, [&] {
            c.server.send("13");
            EXPECT_TRUE(QTest::qWaitFor([&] { return c.st.welcome.closedFromOutside; }, 5000));
        }};
    c.server.send("0430,Ana,");
    EXPECT_EQ(c.server.waitLine("R13"), "R13Terminada solicitud de contrase\xf1"
                                        "a ");
    EXPECT_EQ(c.server.waitLine("R13"), "R13Ana abandona intento de contrase\xf1"
                                        "a.");
    EXPECT_TRUE(c.server.waitLine("R02").startsWith("R021,"));
    EXPECT_EQ(c.st.core->session().state(), ClientState::Locked);
}

TEST(Connection, LostServerIsNoticedAndTheStationReconnects) {
    Connected c;
    c.server.drop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !c.st.core->link().connected(); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !c.st.core->link().receiveThreadRunning(); }, 5000));
    EXPECT_EQ(c.st.core->display().statusText, QStringLiteral("Sin conexión"));
    EXPECT_FALSE(c.st.core->display().masTiempoEnabled);
    EXPECT_TRUE(c.st.core->link().timChkNewConnEnabled());
    c.st.core->link().TimChkConTick();
    EXPECT_EQ(c.st.core->link().timChkConInterval(), 2000);
    c.st.core->link().TimChkNewConnTick();
    EXPECT_FALSE(c.st.core->link().timChkNewConnEnabled());
    EXPECT_TRUE(c.server.waitConnected(2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.st.core->link().receiveThreadRunning(); }, 5000));
    // The keep-alive reports and goes to the connected interval.
    c.st.core->link().TimChkConTick();
    EXPECT_TRUE(c.server.waitLine("R02").startsWith("R021,"));
    EXPECT_EQ(c.st.core->link().timChkConInterval(), 5000);
}

TEST(Connection, RefusedBlockDropsTheConnectionAndTheStationReconnects) {
    Connected c;
    c.server.send("30 1,banner.gif");
    c.server.sendRaw(protocol::EncodeBlockHeader(100 * 1024 * 1024));
    ASSERT_TRUE(c.server.peerGone());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !c.st.core->link().connected(); }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !c.st.core->link().connectThreadRunning(); }, 5000));
    c.st.core->link().TimChkNewConnTick();
    EXPECT_TRUE(c.server.waitConnected(2));
}

TEST(Connection, BlocksOfRemoteItemsAreConsumedAndTheStreamStaysInStep) {
    Connected c;
    c.server.send("22C:\\fondos\\zu.gif");
    c.server.sendRaw(protocol::EncodeBlock(QByteArray(100000, 'g')));
    c.server.send("22"); // clearing: no block
    c.server.send("43");
    EXPECT_EQ(c.server.waitLine("R43"), "R43FF");
    EXPECT_TRUE(c.st.core->link().connected());
}

TEST(Connection, SoftReinitReconnectsWithAFreshDispatcher) {
    Connected c;
    c.server.send("44");
    EXPECT_TRUE(c.server.waitConnected(2, 15000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.st.core->link().receiveThreadRunning(); }, 5000));
    EXPECT_TRUE(c.st.core->display().masTiempoEnabled);
    c.server.send("01");
    EXPECT_EQ(c.server.waitLine("R01"), "R01PC1");
}

TEST(Connection, GarbageAndOverlongLinesNeverStopTheReceiveLoop) {
    Connected c;
    c.server.sendRaw(QByteArray(20000, 'A') + "\r\n");
    c.server.send("zz");
    c.server.send(QByteArray("\x00\x01\x02", 3));
    c.server.send("0A");
    c.server.send("04");
    c.server.send("39");
    c.server.send("49");
    c.server.send("02");
    EXPECT_TRUE(c.server.waitLine("R02").startsWith("R02"));
    EXPECT_TRUE(c.st.core->link().connected());
}

// A second re-initialisation right behind the first meets the first one's
// connect thread still running: the station waits for it, joins it once,
// and comes back connected.
TEST(Connection, TwoSoftReinitsInARowReconnect) {
    Connected c;
    c.server.send("44");
    ASSERT_TRUE(c.server.waitConnected(2, 15000));
    c.server.send("44");
    c.server.send("44");
    ASSERT_TRUE(c.server.waitConnected(3, 15000));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return c.st.core->link().receiveThreadRunning() && !c.st.core->link().stopping(); },
        15000));
    c.server.send("01");
    EXPECT_EQ(c.server.waitLine("R01"), "R01PC1");
    EXPECT_TRUE(c.st.core->link().connected());
}
