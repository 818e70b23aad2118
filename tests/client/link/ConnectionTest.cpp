// The station against a small server in the test: handshake, replies, the
// keep-alive, lost connections, refused blocks and the soft reinit, over
// loopback.
#include "client/ClientFakes.h"
#include "client/control/StationControl.h"
#include "common/Password.h"
#include "platform/fake/FakeAutostart.h"
#include "platform/fake/FakeDisplayModes.h"
#include "platform/fake/FakeProcesses.h"
#include "platform/fake/FakeScreenGrabber.h"
#include "protocol/Block.h"
#include "protocol/Fields.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QtEndian>
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
    explicit Connected(MachineControl* control = nullptr) {
        ClientEnvironment e = st.env();
        e.port = server.port();
        st.make(e, control);
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
    // Told in the station's log, in its words.
    QFile log(c.st.core->log().path());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("Bloque rechazado (104857600 bytes"));
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

// --- machine control over loopback -------------------------------------------------

namespace {

// A station whose machine control is the real one over faked desktop parts.
struct ControlledStation {
    FakeServer server;
    Station st;
    platform::FakeAutostart autostart;
    platform::FakeScreenGrabber grabber;
    platform::FakeDisplayModes modes;
    platform::FakeProcesses processes;
    StationControl control{{st.registry, st.windows, processes, st.desktop, autostart, grabber,
                            modes, st.own, st.home.path(), st.home.file(QStringLiteral("puesto"))}};
    // The station goes before the control it is attached to.
    ~ControlledStation() { st.core.reset(); }
    ControlledStation() {
        ClientEnvironment e = st.env();
        e.port = server.port();
        st.make(e, &control);
        st.core->Create();
        st.core->setAutoConnect(false);
        st.core->Show();
        st.core->link().StartConnectThread();
        EXPECT_TRUE(server.waitConnected());
        EXPECT_TRUE(QTest::qWaitFor([&] { return st.core->link().receiveThreadRunning(); }, 5000));
    }
    void open(platform::WindowId w, const QString& title) {
        st.windows.windows[w] = {QStringLiteral("x"), title, true, false};
    }
    // The 4-byte length and the block after a line.
    QByteArray block() {
        const auto len = protocol::DecodeInt32(server.takeBytes(4));
        EXPECT_TRUE(len);
        return server.takeBytes(len.value_or(0));
    }
};

QList<QByteArray> ReadReportLines(FakeServer& server, int n) {
    QList<QByteArray> out;
    for (int i = 0; i < n; ++i)
        out << server.waitLine("");
    return out;
}

} // namespace

TEST(MachineOverLoopback, ScreenQueryIsAnsweredByTheBitmapOfTheScreen) {
    ControlledStation c;
    platform::ScreenImage img;
    img.width = 64;
    img.height = 48;
    img.pixels = QByteArray(64 * 48 * 4, '\x40');
    c.grabber.image = img;
    c.server.send("12");
    EXPECT_EQ(c.server.waitLine("R12"), "R12");
    const QByteArray bmp = c.block();
    ASSERT_EQ(bmp.size(), 54 + 64 * 3 * 48);
    EXPECT_EQ(bmp.left(2), "BM");
    EXPECT_EQ(qFromLittleEndian<qint32>(bmp.constData() + 18), 64);
    EXPECT_EQ(qFromLittleEndian<qint32>(bmp.constData() + 22), 48);
    EXPECT_EQ(bmp[100], '\x40');
    EXPECT_EQ(c.st.core->display().statusText, c.st.core->view().text(Txt::StrSuccessTrans));

    // No screen to read: the cashier is told, the connection stays.
    c.grabber.image.reset();
    c.server.send("12");
    EXPECT_TRUE(c.server.waitLine("R13").startsWith("R13No fue posible capturar la pantalla"));
    c.server.send("43");
    EXPECT_EQ(c.server.waitLine("R43"), "R43FF");
}

TEST(MachineOverLoopback, TaskListCloseAndCleanAfterTheFirstGrant) {
    ControlledStation c;
    c.open(1, QStringLiteral("Escritorio"));
    c.open(c.st.own.id(OwnWindow::Lock), QStringLiteral("Puesto"));
    c.server.send("09");
    EXPECT_EQ(c.server.waitLine("R09"), "R09Escritorio");

    // The first grant takes the baseline.
    c.st.welcome.answers << ScriptedWelcome::Answer{true, {}, {}};
    c.server.send("0430,Ana,");
    EXPECT_EQ(c.server.waitLine("R04"), "R04Ana");
    c.open(2, QStringLiteral("Juego, nivel 2"));
    c.open(3, QStringLiteral("Hoja"));
    c.server.send("09");
    const QByteArray r09 = c.server.waitLine("R09");
    QStringList titles;
    for (const QByteArray& t : protocol::SplitCommaList(r09.mid(3)))
        titles << QString::fromLatin1(t);
    titles.sort();
    EXPECT_EQ(titles, (QStringList{QStringLiteral("Escritorio"), QStringLiteral("Hoja"),
                                   QStringLiteral("Juego, nivel 2")}));

    c.server.send("10juego, NIVEL 2");
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.st.windows.closeCalls.size() == 1; }, 5000));
    EXPECT_EQ(c.st.windows.closeCalls[0], 2u);
    c.st.windows.windows.remove(2);

    // A game left the screen in another mode: the clean puts the start's back.
    c.modes.mode = platform::ScreenMode{800, 600, 75};
    c.server.send("15");
    EXPECT_EQ(c.server.waitLine("R14"), "R14");
    EXPECT_EQ(c.block(), "Eliminando tarea: Hoja");
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.st.windows.closeCalls.size() == 2; }, 5000));
    EXPECT_EQ(c.st.windows.closeCalls[1], 3u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !c.modes.sets.isEmpty(); }, 5000));
    EXPECT_EQ(c.modes.sets, (QList<platform::ScreenMode>{{1280, 1024, 60}}));
    // A clean that closes nothing leaves the mode alone.
    c.st.windows.windows.remove(3);
    c.modes.mode = platform::ScreenMode{800, 600, 75};
    c.server.send("15");
    c.server.send("43");
    EXPECT_EQ(c.server.waitLine("R43"), "R43FF");
    EXPECT_EQ(c.modes.sets.size(), 1);
}

TEST(MachineOverLoopback, ConfigurationReportAndItemsApplied) {
    ControlledStation c;
    c.server.send("21");
    EXPECT_EQ(c.server.waitLine("R21"), "R21");
    EXPECT_EQ(ReadReportLines(c.server, 7),
              (QList<QByteArray>{"zu26x.gif", "alarm.wav", "0", "0", "0", "", "0"}));
    EXPECT_EQ(protocol::DecodeUInt32(c.server.takeBytes(4)), 0u);
    EXPECT_EQ(protocol::DecodeInt32(c.server.takeBytes(4)), 1);
    EXPECT_EQ(protocol::DecodeInt32(c.server.takeBytes(4)), 5);
    EXPECT_EQ(c.server.waitLine(""), "zu26x.gif");

    // Files land in the program folder whatever the name says.
    c.server.send("22../../etc/passwd");
    c.server.sendRaw(protocol::EncodeBlock("GIF89a-bloqueo"));
    c.server.send("30-1,/tmp/../promo.gif");
    c.server.sendRaw(protocol::EncodeBlock("GIF89a-promo"));
    c.server.send("3100,12");
    c.server.send("271");
    c.server.send("252");
    c.server.send("21");
    EXPECT_EQ(c.server.waitLine("R21"), "R21");
    const QList<QByteArray> lines = ReadReportLines(c.server, 7);
    EXPECT_EQ(lines[0], "passwd");
    EXPECT_EQ(lines[3], "1");
    EXPECT_EQ(lines[6], "2");
    EXPECT_EQ(protocol::DecodeUInt32(c.server.takeBytes(4)), 0u);
    EXPECT_EQ(protocol::DecodeInt32(c.server.takeBytes(4)), 2);
    EXPECT_EQ(protocol::DecodeInt32(c.server.takeBytes(4)), 12);
    EXPECT_EQ(c.server.waitLine(""), "zu26x.gif");
    EXPECT_EQ(protocol::DecodeInt32(c.server.takeBytes(4)), 5);
    EXPECT_EQ(c.server.waitLine(""), "promo.gif");
    EXPECT_TRUE(QFileInfo::exists(c.st.home.file(QStringLiteral("passwd"))));
    EXPECT_TRUE(QFileInfo::exists(c.st.home.file(QStringLiteral("promo.gif"))));
    EXPECT_EQ(c.st.core->display().lockPicture, c.st.home.file(QStringLiteral("passwd")));
    EXPECT_EQ(c.st.core->settings().background, QStringLiteral("passwd"));
    // The lock's rotation follows at once.
    ASSERT_EQ(c.control.banners().size(), 2);
    EXPECT_EQ(c.control.banners()[1].file, c.st.home.file(QStringLiteral("promo.gif")));

    // A banner position outside the list: refused in the log, the
    // connection goes on.
    c.server.send("329");
    c.server.send("43");
    EXPECT_EQ(c.server.waitLine("R43"), "R43FF");
    EXPECT_EQ(c.control.banners().size(), 2);
}

TEST(MachineOverLoopback, ClockHintAndRunBox) {
    ControlledStation c;
    c.server.send("16 Tiempo de sobra");
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.st.core->display().clockHintVisible; }, 5000));
    EXPECT_EQ(c.st.core->display().clockHint, QStringLiteral(" Tiempo de sobra"));
    c.server.send("37sh -c true");
    c.server.send("37http://www.example.com/");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !c.st.shell.opened.isEmpty(); }, 5000));
    ASSERT_EQ(c.st.shell.started.size(), 1);
    EXPECT_TRUE(c.st.shell.started[0].program.endsWith(QStringLiteral("/sh")));
    EXPECT_EQ(c.st.shell.started[0].arguments,
              (QStringList{QStringLiteral("-c"), QStringLiteral("true")}));
    EXPECT_EQ(c.st.shell.opened, QStringList{QStringLiteral("http://www.example.com/")});
}
