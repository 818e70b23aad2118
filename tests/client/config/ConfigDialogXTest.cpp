// puesto itself on a private X display, driven by accessible names only: the
// staff open "Configuración" through the service password, untick a settings
// program on "Panel de control" and change two boxes of "Windows", press OK,
// and find the choices in the station's files and in the dialog opened again.
#include "client/ui/PuestoOnDisplay.h"

#include <QFile>
#include <QTest>
#include <gtest/gtest.h>

using tarvina::test::TestDisplay;

namespace {

QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class PuestoConfigOnX : public tarvina::test::PuestoOnDisplay {
protected:
    // Two settings programs of the desktop, and no others.
    void prepare() override {
        const QString apps = desktop.path() + "/share/applications";
        WriteFile(apps + "/tarvina-pantalla.desktop",
                  "[Desktop Entry]\nType=Application\nName=Display\nName[es]=Pantalla\n"
                  "Exec=true\nCategories=Settings;\n");
        WriteFile(apps + "/tarvina-raton.desktop", "[Desktop Entry]\nType=Application\nName=Ratón\n"
                                                   "Exec=true\nCategories=Settings;\n");
        station.env.insert("XDG_DATA_HOME", desktop.path() + "/share");
        station.env.insert("XDG_DATA_DIRS", desktop.path() + "/none");
        station.env.insert("XDG_CONFIG_DIRS", desktop.path() + "/xdg");
    }
    // Toggles a box through the bus; a box that only took the focus is
    // toggled with the space bar, as a keyboard user would.
    void toggle(const QString& name, const QString& role) {
        const bool was = checked(name, role);
        ASSERT_EQ(atspi({"press", name, role}), 0) << out.toStdString();
        if (QTest::qWaitFor([&] { return checked(name, role) != was; }, 2000))
            return;
        TestDisplay().atspi({"--app", "puesto", "states", name, role}, &out);
        ASSERT_TRUE(out.contains("focused")) << name.toStdString() << ": " << out.toStdString();
        ASSERT_EQ(run("xdotool", {"key", "space"}), 0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return checked(name, role) != was; }, kWait))
            << name.toStdString();
    }
    bool checked(const QString& name, const QString& role) {
        TestDisplay().atspi({"--app", "puesto", "states", name, role}, &out);
        return out.split(u'\n').contains(QStringLiteral("checked"));
    }

    // Through the gate: the station's main window, its pop-up menu,
    // "Configuración" (its third line), the service password.
    void openConfiguration() {
        // "Oculta" hides the main window; a click on the lock's background
        // brings it back above the lock, as the staff do.
        if (atspi({"find", "Regresivo", "push button"}) == 0) {
            ASSERT_EQ(atspi({"press", "Oculta", "push button"}), 0) << out.toStdString();
            ASSERT_TRUE(QTest::qWaitFor(
                [&] {
                    return atspi({"find", "Regresivo", "push button"}) != 0;
                },
                kWait));
        }
        ASSERT_NO_FATAL_FAILURE(chooseFromMenu(3));
        ASSERT_NO_FATAL_FAILURE(
            typePassword(QStringLiteral("Contraseña"), QStringLiteral("mirlo")));
        ASSERT_EQ(atspi({"wait", "Configuración", "dialog", "30"}), 0) << out.toStdString();
    }

    tarvina::test::TempDir desktop;
};

TEST_F(PuestoConfigOnX, ControlPanelAndWindowsPagesAreSavedAndReadBack) {
    openConfiguration();

    // "Panel de control": the desktop's settings programs, all shown.
    ASSERT_EQ(atspi({"press", "Panel de control", "page tab"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"wait", "Elementos del panel de control", "list", "30"}), 0)
        << out.toStdString();
    ASSERT_EQ(atspi({"children", "Elementos del panel de control", "list"}), 0);
    EXPECT_EQ(
        out.split(u'\n', Qt::SkipEmptyParts),
        QStringList({"tarvina-pantalla.desktop [Pantalla]", "tarvina-raton.desktop [Ratón]"}));
    // A list's line is ticked as a person does: a click makes it the
    // current line, the space bar toggles it.
    ASSERT_TRUE(checked("tarvina-raton.desktop [Ratón]", "list item"));
    ASSERT_EQ(atspi({"extents", "tarvina-raton.desktop [Ratón]", "list item"}), 0);
    const QStringList at = out.split(u' ', Qt::SkipEmptyParts);
    ASSERT_EQ(at.size(), 4) << out.toStdString();
    const int x = at[0].toInt() + at[2].toInt() / 2, y = at[1].toInt() + at[3].toInt() / 2;
    ASSERT_EQ(run("xdotool", {"mousemove", QString::number(x), QString::number(y), "click", "1"}),
              0);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            TestDisplay().atspi(
                {"--app", "puesto", "states", "tarvina-raton.desktop [Ratón]", "list item"}, &out);
            return out.contains("selected") || out.contains("focused");
        },
        30000));
    ASSERT_EQ(run("xdotool", {"key", "space"}), 0);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !checked("tarvina-raton.desktop [Ratón]", "list item"); }, 30000));
    EXPECT_TRUE(checked("tarvina-pantalla.desktop [Pantalla]", "list item"));

    // "Windows": the run menu forbidden, the whole network hidden.
    ASSERT_EQ(atspi({"press", "Windows", "page tab"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"wait", "Menú de ejecución:", "check box", "30"}), 0) << out.toStdString();
    EXPECT_TRUE(checked("Menú de ejecución:", "check box")) << "nothing forbidden yet";
    EXPECT_FALSE(checked("Deshabilita red entera:", "check box"));
    toggle("Menú de ejecución:", "check box");
    toggle("Deshabilita red entera:", "check box");
    toggle("Paplelera en el escritorio:", "check box");

    ASSERT_EQ(atspi({"press", "OK", "push button"}), 0) << out.toStdString();
    // Both settings files are written one after the other: wait for the
    // second.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return Read(station.registry() + "/user.reg").contains("\"NoRun\"=dword:00000001") &&
                   Read(station.registry() + "/machine.reg").contains("{645FF040-5081-101B-9F08");
        },
        30000))
        << Read(station.registry() + "/user.reg").toStdString();
    const QByteArray user = Read(station.registry() + "/user.reg");
    EXPECT_TRUE(user.contains("\"NoEntireNetwork\"=dword:00000001")) << user.toStdString();
    EXPECT_FALSE(user.contains("NoClose"));
    EXPECT_EQ(Read(station.registry() + "/Control.ini"),
              QByteArray("[don't load]\r\ntarvina-raton.desktop=no\r\n"));

    // Opened again, the pages read what was stored.
    openConfiguration();
    ASSERT_EQ(atspi({"press", "Windows", "page tab"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"wait", "Menú de ejecución:", "check box", "30"}), 0) << out.toStdString();
    EXPECT_FALSE(checked("Menú de ejecución:", "check box"));
    EXPECT_TRUE(checked("Deshabilita red entera:", "check box"));
    EXPECT_TRUE(checked("Paplelera en el escritorio:", "check box"));
    EXPECT_TRUE(checked("Documentos recientes:", "check box"));
    ASSERT_EQ(atspi({"press", "Panel de control", "page tab"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"wait", "tarvina-raton.desktop [Ratón]", "list item", "30"}), 0)
        << out.toStdString();
    EXPECT_FALSE(checked("tarvina-raton.desktop [Ratón]", "list item"));
    EXPECT_TRUE(checked("tarvina-pantalla.desktop [Pantalla]", "list item"));
    ASSERT_EQ(atspi({"press", "Cancelar", "push button"}), 0) << out.toStdString();
}

} // namespace
