// puesto itself on a private X display: the attendant opens "Tareas" from
// the station's pop-up menu, is refused with a wrong service password, then
// with the right one sees the customer's programs (the lock out of the way),
// finishes one, and the lock comes back when the window closes.
#include "client/ui/PuestoOnDisplay.h"

#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

using tarvina::test::TestDisplay;

namespace {

// A program the customer opened.
struct Program {
    QProcess process;
    explicit Program(const QString& title) {
        process.setProcessEnvironment(TestDisplay().environment());
        process.start(QStringLiteral("xmessage"), {QStringLiteral("-title"), title, title});
    }
    ~Program() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
};

class TareasOnX : public tarvina::test::PuestoOnDisplay {
protected:
    // The lock: a window of the station as large as the screen.
    bool lockShowing() {
        QString ids;
        TestDisplay().run(
            "xdotool",
            {"search", "--onlyvisible", "--pid", QString::number(station.process.processId())},
            &ids);
        for (const QString& id : ids.split(u'\n', Qt::SkipEmptyParts)) {
            QString geometry;
            TestDisplay().run("xdotool", {"getwindowgeometry", "--shell", id}, &geometry);
            if (geometry.contains(QStringLiteral("WIDTH=1280")) &&
                geometry.contains(QStringLiteral("HEIGHT=1024")))
                return true;
        }
        return false;
    }
    bool listShows(const QString& title, bool shown) {
        return QTest::qWaitFor(
            [&] {
                return atspi({"children", "Tareas", "list"}) == 0 &&
                       out.split(u'\n').contains(title) == shown;
            },
            kWait);
    }
    // "Tareas" is the fourth line of the main window's pop-up menu.
    void chooseTareas() { chooseFromMenu(4); }
};

} // namespace

TEST_F(TareasOnX, ServicePasswordThenTheStationsOwnTaskWindow) {
    Program letter(QStringLiteral("Carta, borrador"));
    Program game(QStringLiteral("Juego"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return lockShowing(); }, kWait)) << "no lock";

    // A wrong password: the notice says so, and the box keeps it as its
    // caption for the next try.
    chooseTareas();
    typePassword(QStringLiteral("Contraseña"), QStringLiteral("gorrion"));
    ASSERT_EQ(atspi({"wait", "Clave incorrecta.", "label", "30"}), 0) << out.toStdString();
    ASSERT_EQ(
        atspi({"--within", "Mensaje", "--within-role", "dialog", "press", "OK", "push button"}), 0)
        << out.toStdString();
    EXPECT_EQ(atspi({"find", "Programas en ejecución", "dialog"}), 1);

    chooseTareas();
    typePassword(QStringLiteral("Clave incorrecta."), QStringLiteral("mirlo"));
    ASSERT_EQ(atspi({"wait", "Programas en ejecución", "dialog", "30"}), 0) << out.toStdString();
    ASSERT_TRUE(listShows(QStringLiteral("Carta, borrador"), true)) << out.toStdString();
    ASSERT_TRUE(listShows(QStringLiteral("Juego"), true)) << out.toStdString();
    // Only the customer's programs: none of the station's windows.
    ASSERT_EQ(atspi({"children", "Tareas", "list"}), 0);
    EXPECT_EQ(out.split(u'\n', Qt::SkipEmptyParts).size(), 2) << out.toStdString();
    EXPECT_FALSE(lockShowing()) << "the lock goes out of the window's way";

    // "Finaliza tarea" waits for a line, then closes its program.
    ASSERT_EQ(atspi({"states", "Finaliza tarea", "push button"}), 0);
    EXPECT_FALSE(out.split(u'\n').contains(QStringLiteral("enabled")));
    ASSERT_EQ(atspi({"select", "Tareas", "Juego"}), 0) << out.toStdString();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return atspi({"states", "Finaliza tarea", "push button"}) == 0 &&
                   out.split(u'\n').contains(QStringLiteral("enabled"));
        },
        kWait));
    ASSERT_EQ(atspi({"press", "Finaliza tarea", "push button"}), 0) << out.toStdString();
    EXPECT_TRUE(listShows(QStringLiteral("Juego"), false));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return game.process.state() == QProcess::NotRunning; }, kWait));
    EXPECT_EQ(letter.process.state(), QProcess::Running);

    // Closed: the station is locked, so the lock comes back.
    ASSERT_EQ(atspi({"press", "Cancelar", "push button"}), 0) << out.toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return lockShowing(); }, kWait));

    // The refusal's caption was for the one try after it.
    chooseTareas();
    ASSERT_EQ(atspi({"wait", "Contraseña", "dialog", "30"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"press", "Cancela", "push button"}), 0) << out.toStdString();
    EXPECT_EQ(atspi({"find", "Programas en ejecución", "dialog"}), 1);
}
