// puesto itself on a private X display: the attendant opens "Tareas" from
// the station's pop-up menu, is refused with a wrong service password, then
// with the right one sees the customer's programs (the lock out of the way),
// finishes one, and the lock comes back when the window closes.
#include "support/TempDir.h"
#include "support/XDisplay.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

using tarvina::test::TestDisplay;

namespace {

constexpr int kWait = 30000;

void Write(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(data);
}

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

class TareasOnX : public ::testing::Test {
protected:
    void SetUp() override {
        const QString home = dir.path() + "/home";
        const QString reg = dir.path() + "/reg";
        // A server that is named but never answers: the station stays locked.
        Write(reg + "/machine.reg", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Velt\\Tarvina]\n"
                                    "\"Host\"=\"localhost\"\n");
        QDir().mkpath(home);
        QProcessEnvironment env = TestDisplay().environment();
        env.insert("TARVINA_HOME", home);
        env.insert("TARVINA_REGISTRY", reg);
        env.insert("TARVINA_PORT", "1");
        env.insert("LANG", "es_VE.UTF-8");
        puesto.setProcessEnvironment(env);
        puesto.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        puesto.setWorkingDirectory(home);
        puesto.start(QStringLiteral(TARVINA_TEST_BIN_DIR "/puesto"), {});
        ASSERT_TRUE(puesto.waitForStarted(10000));
        ASSERT_EQ(atspi({"wait", "Regresivo", "push button", "30"}), 0) << out.toStdString();
    }
    void TearDown() override {
        puesto.terminate();
        if (!puesto.waitForFinished(20000))
            puesto.kill();
        puesto.waitForFinished(5000);
    }
    // A failed call carries the program's accessible tree in `out`.
    int atspi(const QStringList& args) {
        out.clear();
        const int rc = TestDisplay().atspi(QStringList{"--app", "puesto"} + args, &out, 40000);
        if (rc != 0 && args.value(0) != QStringLiteral("find")) {
            QString tree;
            TestDisplay().atspi({"--app", "puesto", "tree"}, &tree);
            out += tree;
        }
        return rc;
    }
    int run(const QString& program, const QStringList& args) {
        out.clear();
        return TestDisplay().run(program, args, &out, 30000);
    }
    // A walk spoilt by a window going away (BadWindow) is made again, so a
    // partial list never passes for the desktop.
    QStringList visibleWindows() {
        QString ids;
        const bool whole = QTest::qWaitFor(
            [&] {
                ids.clear();
                return TestDisplay().run("xdotool", {"search", "--onlyvisible", "--name", ""},
                                         &ids) == 0;
            },
            kWait);
        EXPECT_TRUE(whole) << "xdotool never listed the windows";
        return ids.split(u'\n', Qt::SkipEmptyParts);
    }
    // The lock: a window of the station as large as the screen.
    bool lockShowing() {
        QString ids;
        TestDisplay().run("xdotool",
                          {"search", "--onlyvisible", "--pid", QString::number(puesto.processId())},
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
    // The main window's pop-up menu (a window of its own, which the
    // accessibility bus does not list): "Tareas" is its fourth line.
    void chooseTareas() {
        if (atspi({"find", "Regresivo", "push button"}) != 0) {
            // Hidden: a click on the lock's background brings it back.
            ASSERT_EQ(run("xdotool", {"mousemove", "20", "1000", "click", "1"}), 0);
            ASSERT_EQ(atspi({"wait", "Regresivo", "push button", "30"}), 0) << out.toStdString();
        }
        // xdotool walks the window tree and gives up with BadWindow when a
        // window (a tooltip, a closing menu) goes away during the walk: the
        // search is made again until one walk sees the tree whole.
        QString window;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                if (run("xdotool", {"search", "--onlyvisible", "--name", "bloqueado"}) != 0)
                    return false;
                window = out.split(u'\n', Qt::SkipEmptyParts).value(0);
                return !window.isEmpty();
            },
            kWait))
            << out.toStdString();
        const QStringList before = visibleWindows();
        const auto menuOpen = [&] {
            for (const QString& id : visibleWindows())
                if (!before.contains(id))
                    return true;
            return false;
        };
        // On a loaded machine the window may still be on its way above the
        // lock: a click that lands on the lock opens nothing, and is repeated.
        bool open = false;
        for (int attempt = 0; attempt < 6 && !open; ++attempt) {
            ASSERT_EQ(run("xdotool", {"mousemove", "--window", window, "200", "120", "click", "3"}),
                      0);
            open = QTest::qWaitFor(menuOpen, 5000);
        }
        ASSERT_TRUE(open);
        ASSERT_EQ(run("xdotool", {"key", "Down", "Down", "Down", "Down", "Return"}), 0);
    }
    void typePassword(const QString& caption, const QString& password) {
        ASSERT_EQ(atspi({"wait", caption, "dialog", "30"}), 0) << out.toStdString();
        ASSERT_EQ(atspi({"settext", "Contraseña", password, "password text"}), 0)
            << out.toStdString();
        ASSERT_EQ(atspi({"press", "OK", "push button"}), 0) << out.toStdString();
    }

    tarvina::test::TempDir dir;
    QProcess puesto;
    QString out;
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
