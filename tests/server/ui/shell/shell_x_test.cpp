// taquilla's life as the operator meets it, on a private X display with a
// tray: the start-up password, an unclean previous end, the close button and
// the signals that end it, each from outside the process and by names only.
#include "server/ui/TaquillaOnDisplay.h"

#include <QTest>
#include <gtest/gtest.h>

using tarvina::test::TestDisplay;

namespace {

using ShellOnX = tarvina::test::TaquillaOnDisplay;

TEST_F(ShellOnX, StartUpGateRetriesOpensAndCancelEndsInOrder) {
    configure([](auto& s) { s.passwordStd = Scrambled("caja"); });
    start();
    ASSERT_EQ(atspi({"wait", "Acceso restringido", "dialog", "30"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"find", "Restricción de acceso.", "label"}), 0) << out.toStdString();
    // Nobody is served before the operator is let in.
    EXPECT_FALSE(listening());

    ASSERT_EQ(atspi({"settext", "Escriba contraseña", "cajas", "password text"}), 0)
        << out.toStdString();
    ASSERT_EQ(atspi({"press", "OK", "push button"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"wait", "Clave incorrecta. Inténtelo.", "label", "10"}), 0)
        << out.toStdString();
    ASSERT_EQ(atspi({"settext", "Escriba contraseña", "caja", "password text"}), 0);
    ASSERT_EQ(atspi({"press", "OK", "push button"}), 0) << out.toStdString();
    waitMainWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return listening(); }, 10000)) << console();
    expectOrderlyEndWithin(3000, "running");

    // Cancel at the gate ends the program, in order: the next start asks for
    // the password again and warns of nothing.
    start();
    ASSERT_EQ(atspi({"wait", "Acceso restringido", "dialog", "30"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"press", "Cancelar", "push button"}), 0) << out.toStdString();
    ASSERT_TRUE(taquilla.waitForFinished(10000));
    EXPECT_EQ(taquilla.exitStatus(), QProcess::NormalExit);
    start();
    ASSERT_EQ(atspi({"wait", "Acceso restringido", "dialog", "30"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"settext", "Escriba contraseña", "caja", "password text"}), 0);
    ASSERT_EQ(atspi({"press", "OK", "push button"}), 0) << out.toStdString();
    waitMainWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return listening(); }, 10000)) << console();
    EXPECT_NE(atspi({"find", "Advertencia", "alert"}), 0) << "a warning after an orderly close";
    // SIGTERM with the gate on screen.
    expectOrderlyEndWithin(3000, "running after the gate");
    start();
    ASSERT_EQ(atspi({"wait", "Acceso restringido", "dialog", "30"}), 0) << out.toStdString();
    expectOrderlyEndWithin(3000, "password gate on screen");
}

TEST_F(ShellOnX, AfterAKillTheWarningAndTheNoticeComeBeforeTheListener) {
    start();
    waitMainWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return listening(); }, 10000)) << console();
    crashRunningTaquilla();

    start();
    ASSERT_EQ(atspi({"wait", "Advertencia", "alert", "30"}), 0) << out.toStdString();
    EXPECT_FALSE(listening());
    ASSERT_EQ(atspi({"press", "Aceptar", "push button"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"wait", "Error", "alert", "30"}), 0) << out.toStdString();
    EXPECT_FALSE(listening());
    ASSERT_EQ(atspi({"press", "Aceptar", "push button"}), 0) << out.toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return listening(); }, 10000)) << console();

    // A station is served after the notices.
    auto pc1 = connectStation("PC1", "00-11-22-33-44-01");
    ASSERT_TRUE(pc1->isConnected());
    ASSERT_EQ(atspi({"wait", "PC1", "table cell", "20"}), 0) << out.toStdString();

    // SIGTERM with the crash warning on screen.
    crashRunningTaquilla();
    start();
    ASSERT_EQ(atspi({"wait", "Advertencia", "alert", "30"}), 0) << out.toStdString();
    expectOrderlyEndWithin(3000, "crash warning on screen");
}

TEST_F(ShellOnX, OversizedActivityLogQuestionYieldsToSigterm) {
    configure([](auto&) {});
    {
        tarvina::platform::FileRegistry reg({dir.path() + QStringLiteral("/user.reg"),
                                             dir.path() + QStringLiteral("/machine.reg")});
        ASSERT_TRUE(tarvina::server::WriteLogLimit(reg, 1024));
    }
    QFile log(dir.path() + QStringLiteral("/bitacora.log"));
    ASSERT_TRUE(log.open(QIODevice::WriteOnly));
    log.write(QByteArray(4096, 'x'));
    log.close();
    start();
    ASSERT_EQ(atspi({"wait", "Confirmación", "alert", "30"}), 0) << out.toStdString();
    expectOrderlyEndWithin(3000, "activity-log question on screen");
}

TEST_F(ShellOnX, CloseButtonAsksThenKeepsServingFromTheTray) {
    configure([](auto& s) { s.confirmClose = true; });
    start();
    waitMainWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return listening(); }, 10000)) << console();

    // The window manager's close, as the title bar's button sends it.
    QString wm;
    ASSERT_EQ(TestDisplay().run(QStringLiteral("wmctrl"), {"-c", "Tarvina"}, &wm), 0)
        << wm.toStdString();
    ASSERT_EQ(atspi({"wait", "Confirmación de cierre", "dialog", "30"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"press", "OK", "push button"}), 0) << out.toStdString();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return atspi({"find", "Computadoras", "table"}) != 0;
        },
        45000))
        << "the window stays on screen";
    EXPECT_EQ(taquilla.state(), QProcess::Running);

    auto pc7 = connectStation("PC7", "00-11-22-33-44-07");
    ASSERT_TRUE(pc7->isConnected());
    pc7->sendStatusReport();

    // A second start brings the hidden window back and ends; the station
    // that came meanwhile is on it.
    QProcess second;
    second.setProcessEnvironment(taquilla.processEnvironment());
    second.start(QStringLiteral(TARVINA_TEST_BIN_DIR "/taquilla"), {});
    ASSERT_TRUE(second.waitForStarted(10000));
    ASSERT_TRUE(second.waitForFinished(30000));
    waitMainWindow();
    ASSERT_EQ(atspi({"wait", "PC7", "table cell", "20"}), 0) << out.toStdString();
    EXPECT_EQ(taquilla.state(), QProcess::Running);
    expectOrderlyEndWithin(3000, "in the tray");
}

} // namespace
