#pragma once
// puesto itself as a child process on the test's X display, with its own
// folders and a server that is named but never answers, so the station stays
// locked. Driven by accessible names, and by the mouse and keyboard where the
// accessibility bus lists nothing (the main window's pop-up menu).
#include "support/Puesto.h"
#include "support/XDisplay.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <gtest/gtest.h>

namespace tarvina::test {

class PuestoOnDisplay : public ::testing::Test {
protected:
    static constexpr int kWait = 30000;

    void SetUp() override {
        station.env.insert("LANG", "es_VE.UTF-8");
        prepare();
        if (HasFatalFailure())
            return;
        // Port 1: a server that is named but never answers.
        ASSERT_TRUE(station.start(1, TestDisplay().environment()));
        ASSERT_EQ(atspi({"wait", "Regresivo", "push button", "30"}), 0) << out.toStdString();
    }
    void TearDown() override { station.stop(); }
    // What a test adds to the station's files and environment (station.env)
    // before it starts.
    virtual void prepare() {}

    static void WriteFile(const QString& path, const QByteArray& data) {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
        f.write(data);
    }

    // A failed call (but a `find`, which may fail on purpose) carries the
    // program's accessible tree in `out`.
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
    // xdotool walks the window tree and gives up with BadWindow when a
    // window (a tooltip, a closing menu) goes away during the walk: the walk
    // is made again, so a partial list never passes for the desktop.
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
    // Every visible window with its name and place, for a failure's message.
    QString describeWindows() {
        QString all;
        for (const QString& id : visibleWindows()) {
            QString name, geometry;
            TestDisplay().run("xdotool", {"getwindowname", id}, &name);
            TestDisplay().run("xdotool", {"getwindowgeometry", "--shell", id}, &geometry);
            all += id + " " + name.trimmed() + " " + geometry.replace(u'\n', u' ') + "\n";
        }
        return all;
    }

    // The line `line` (1 the first) of the main window's pop-up menu, a
    // window of its own that the accessibility bus does not list.
    void chooseFromMenu(int line) {
        if (atspi({"find", "Regresivo", "push button"}) != 0) {
            // Hidden: a click on the lock's background brings it back.
            ASSERT_EQ(run("xdotool", {"mousemove", "20", "1000", "click", "1"}), 0);
            ASSERT_EQ(atspi({"wait", "Regresivo", "push button", "30"}), 0) << out.toStdString();
        }
        // The search fails alike when a walk is spoilt and when the window
        // is not there yet: both are waited out.
        QString window;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                if (run("xdotool", {"search", "--onlyvisible", "--name", "bloqueado"}) != 0)
                    return false;
                window = out.split(u'\n', Qt::SkipEmptyParts).value(0);
                return !window.isEmpty();
            },
            kWait))
            << describeWindows().toStdString();
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
        if (!open)
            TestDisplay().screenshot(QDir::tempPath() + "/puesto-menu.png");
        ASSERT_TRUE(open) << describeWindows().toStdString();
        // The first Down lights the first line.
        QStringList keys(line, QStringLiteral("Down"));
        keys << QStringLiteral("Return");
        ASSERT_EQ(run("xdotool", QStringList{"key"} + keys), 0);
    }
    // The service password, typed into its box (captioned `caption`).
    void typePassword(const QString& caption, const QString& password) {
        ASSERT_EQ(atspi({"wait", caption, "dialog", "30"}), 0) << out.toStdString();
        ASSERT_EQ(atspi({"settext", "Contraseña", password, "password text"}), 0)
            << out.toStdString();
        ASSERT_EQ(atspi({"press", "OK", "push button"}), 0) << out.toStdString();
    }

    Puesto station;
    QString out;
};

} // namespace tarvina::test
