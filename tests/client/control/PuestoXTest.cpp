// The puesto program itself on an X display with openbox, spoken to as the
// cashier's server would: the task list, a close, the screen, the
// configuration report, a file that names a path outside the program's
// folder, and the run box.
#include "platform/linux/X11WindowSystem.h"
#include "protocol/Block.h"
#include "protocol/Fields.h"
#include "support/TempDir.h"
#include "support/XDisplay.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <gtest/gtest.h>

using namespace tarvina;
using tarvina::test::TestDisplay;

namespace {

constexpr int kWait = 30000;

class PuestoOnX : public ::testing::Test {
protected:
    void SetUp() override {
        const QString bin = QStringLiteral(TARVINA_TEST_BIN_DIR "/puesto");
        if (!QFileInfo(bin).isExecutable())
            GTEST_SKIP() << "puesto is not built";
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
        QDir().mkpath(home.file(QStringLiteral("puesto")));
        QFile reg(registry.file(QStringLiteral("machine.reg")));
        ASSERT_TRUE(reg.open(QIODevice::WriteOnly));
        reg.write("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Velt\\Tarvina]\n"
                  "\"Host\"=\"localhost\"\n");
        reg.close();
        QProcessEnvironment env = TestDisplay().environment();
        env.insert("TARVINA_HOME", folder());
        env.insert("TARVINA_REGISTRY", registry.path());
        env.insert("TARVINA_PORT", QString::number(server.serverPort()));
        puesto.setProcessEnvironment(env);
        puesto.setProcessChannelMode(QProcess::ForwardedChannels);
        puesto.start(bin, {});
        ASSERT_TRUE(puesto.waitForStarted(10000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return server.hasPendingConnections(); }, kWait));
        peer = server.nextPendingConnection();
        QObject::connect(peer, &QTcpSocket::readyRead, [this] { buffer += peer->readAll(); });
    }
    void TearDown() override {
        if (puesto.state() != QProcess::NotRunning) {
            puesto.terminate();
            if (!puesto.waitForFinished(15000))
                puesto.kill();
            puesto.waitForFinished(5000);
        }
    }
    QString folder() const { return home.file(QStringLiteral("puesto")); }

    void send(const QByteArray& line) {
        peer->write(line + "\r\n");
        peer->flush();
    }
    QByteArray waitLine(const QByteArray& prefix) {
        QByteArray found;
        (void)QTest::qWaitFor(
            [&] {
                for (qsizetype lf; (lf = buffer.indexOf("\r\n")) >= 0;) {
                    const QByteArray line = buffer.left(lf);
                    buffer.remove(0, lf + 2);
                    if (line.startsWith(prefix)) {
                        found = line;
                        return true;
                    }
                }
                return false;
            },
            kWait);
        return found;
    }
    QByteArray take(qsizetype n) {
        (void)QTest::qWaitFor([&] { return buffer.size() >= n; }, kWait);
        const QByteArray out = buffer.left(n);
        buffer.remove(0, n);
        return out;
    }
    QByteArray block() { return take(protocol::DecodeInt32(take(4)).value_or(0)); }
    QList<QByteArray> tasks() {
        send("09");
        return protocol::SplitCommaList(waitLine("R09").mid(3));
    }

    test::TempDir home, registry;
    QTcpServer server;
    QTcpSocket* peer = nullptr;
    QByteArray buffer;
    QProcess puesto;
};

} // namespace

TEST_F(PuestoOnX, AnswersTheCashiersMachineCommands) {
    // A program the customer had open, and the station's own windows.
    QProcess before;
    before.setProcessEnvironment(TestDisplay().environment());
    before.start(QStringLiteral("xmessage"),
                 {QStringLiteral("-title"), QStringLiteral("Antes, abierta"), QStringLiteral("x")});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return tasks().contains(QByteArrayLiteral("Antes, abierta")); }, kWait));

    // The run box: a program name on the PATH with its arguments.
    send("37xmessage -title Lanzada \"hola a todos\"");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return tasks().contains(QByteArrayLiteral("Lanzada")); }, kWait));
    const QList<QByteArray> listed = tasks();
    EXPECT_TRUE(listed.contains("Antes, abierta"));
    // None of the station's own windows is a task.
    for (const QByteArray& t : listed)
        EXPECT_TRUE(t == "Antes, abierta" || t == "Lanzada") << t.constData();
    send("10lanzada");
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return !tasks().contains(QByteArrayLiteral("Lanzada")); }, kWait));

    // The screen, as a bitmap file of the screen's size.
    send("12");
    EXPECT_EQ(waitLine("R12"), "R12");
    QImage shot;
    ASSERT_TRUE(shot.loadFromData(block(), "BMP"));
    EXPECT_EQ(shot.size(), QGuiApplication::primaryScreen()->size());

    // The configuration report within two seconds.
    QElapsedTimer t;
    t.start();
    send("21");
    EXPECT_EQ(waitLine("R21"), "R21");
    for (int i = 0; i < 7; ++i)
        (void)waitLine("");
    (void)take(4);
    const qint32 banners = protocol::DecodeInt32(take(4)).value_or(-1);
    ASSERT_EQ(banners, 1);
    (void)take(4);
    EXPECT_EQ(waitLine(""), "zu26x.gif");
    EXPECT_LT(t.elapsed(), 2000);

    // A lock picture whose name climbs out of the folder lands inside it.
    send("22../../passwd");
    peer->write(protocol::EncodeBlock("GIF89a"));
    send("21");
    EXPECT_EQ(waitLine("R21"), "R21");
    EXPECT_EQ(waitLine(""), "passwd");
    EXPECT_TRUE(QFileInfo::exists(QDir(folder()).filePath(QStringLiteral("passwd"))));
    EXPECT_FALSE(QFileInfo::exists(home.file(QStringLiteral("passwd"))));

    before.kill();
    before.waitForFinished(5000);
}
