// The puesto program itself on an X display with openbox, spoken to as the
// cashier's server would: the task list, a close, the screen, the
// configuration report, a file that names a path outside the program's
// folder, and the run box.
#include "platform/linux/X11WindowSystem.h"
#include "protocol/Block.h"
#include "protocol/Fields.h"
#include "support/FakeCashier.h"
#include "support/Puesto.h"
#include "support/XDisplay.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

using namespace tarvina;
using tarvina::test::TestDisplay;

namespace {

constexpr int kWait = 30000;

class PuestoOnX : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::Puesto::Built())
            GTEST_SKIP() << "puesto is not built";
        ASSERT_TRUE(puesto.start(cashier.port(), TestDisplay().environment()));
        ASSERT_TRUE(cashier.accept());
    }
    void TearDown() override { puesto.stop(15000); }
    QString folder() const { return puesto.home(); }

    QList<QByteArray> tasks() {
        cashier.send("09");
        return protocol::SplitCommaList(cashier.line("R09").mid(3));
    }

    test::FakeCashier cashier;
    test::Puesto puesto;
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
    cashier.send("37xmessage -title Lanzada \"hola a todos\"");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return tasks().contains(QByteArrayLiteral("Lanzada")); }, kWait));
    const QList<QByteArray> listed = tasks();
    EXPECT_TRUE(listed.contains("Antes, abierta"));
    // None of the station's own windows is a task.
    for (const QByteArray& t : listed)
        EXPECT_TRUE(t == "Antes, abierta" || t == "Lanzada") << t.constData();
    cashier.send("10lanzada");
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return !tasks().contains(QByteArrayLiteral("Lanzada")); }, kWait));

    // The screen, as a bitmap file of the screen's size.
    cashier.send("12");
    EXPECT_EQ(cashier.line("R12"), "R12");
    QImage shot;
    ASSERT_TRUE(shot.loadFromData(cashier.block(), "BMP"));
    EXPECT_EQ(shot.size(), QGuiApplication::primaryScreen()->size());

    // The configuration report within two seconds.
    QElapsedTimer t;
    t.start();
    cashier.send("21");
    EXPECT_EQ(cashier.line("R21"), "R21");
    for (int i = 0; i < 7; ++i)
        (void)cashier.line("");
    (void)cashier.raw(4);
    const qint32 banners = protocol::DecodeInt32(cashier.raw(4)).value_or(-1);
    ASSERT_EQ(banners, 1);
    (void)cashier.raw(4);
    EXPECT_EQ(cashier.line(""), "zu26x.gif");
    EXPECT_LT(t.elapsed(), 2000);

    // A lock picture whose name climbs out of the folder lands inside it.
    cashier.send("22../../passwd");
    cashier.write(protocol::EncodeBlock("GIF89a"));
    cashier.send("21");
    EXPECT_EQ(cashier.line("R21"), "R21");
    EXPECT_EQ(cashier.line(""), "passwd");
    EXPECT_TRUE(QFileInfo::exists(QDir(folder()).filePath(QStringLiteral("passwd"))));
    EXPECT_FALSE(QFileInfo::exists(QDir(folder()).filePath(QStringLiteral("../passwd"))));

    before.kill();
    before.waitForFinished(5000);
}
