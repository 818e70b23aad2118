// taquilla itself on a private X display, one simulated station connected,
// driven by accessible names only: grant, more time, lock, a message both
// ways, a move; then a photograph of rows in every state.
#include "common/DateTime.h"
#include "protocol/DateTimeText.h"
#include "server/ui/TaquillaOnDisplay.h"
#include "simulator/StationSim.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

using tarvina::sim::StationSim;
using tarvina::test::TestDisplay;

namespace {

class TaquillaOnX : public tarvina::test::TaquillaOnDisplay {
protected:
    void SetUp() override {
        TaquillaOnDisplay::SetUp();
        start();
        waitMainWindow();
    }
    void TearDown() override {
        sims.clear();
        TaquillaOnDisplay::TearDown();
    }
    StationSim* station(const QByteArray& name, const QByteArray& mac, int state) {
        StationSim::Config c;
        c.name = name;
        c.mac = mac;
        c.state = state;
        c.version = "V 3.0 (B 0.0)";
        // Each station from an address of its own, as in a café.
        c.localAddress = QStringLiteral("127.0.0.%1").arg(20 + sims.size());
        sims.push_back(std::make_unique<StationSim>(c));
        StationSim* s = sims.back().get();
        s->connectTo(QStringLiteral("127.0.0.1"), stationPort());
        EXPECT_TRUE(s->waitConnected(10000));
        return s;
    }
    // Lines the station got since `from`, in order.
    static QList<QByteArray> since(StationSim* s, int from) { return s->lines().mid(from); }
    static int indexOf(const QList<QByteArray>& lines, const QByteArray& prefix) {
        for (int i = 0; i < lines.size(); ++i)
            if (lines[i].startsWith(prefix))
                return i;
        return -1;
    }
    void inUse(StationSim* s, const QByteArray& user, int minutesLeft) {
        s->config().state = 2;
        s->config().user = user;
        s->config().timeLeft = tarvina::protocol::FormatDateTimeNumber(minutesLeft / 1440.0);
        s->config().start = tarvina::protocol::FormatDateTimeNumber(
            tarvina::common::DateTime::FromQDateTime(QDateTime::currentDateTime()).days() -
            5.0 / 1440);
        s->sendStatusReport();
    }

    std::vector<std::unique_ptr<StationSim>> sims;
};

TEST_F(TaquillaOnX, CashierWorksAStationByNames) {
    StationSim* pc1 = station("PC1", "00-11-22-33-44-01", 1);
    ASSERT_EQ(atspi({"wait", "PC1", "table cell", "20"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"wait", "Bloq.", "table cell", "20"}), 0) << out.toStdString();

    // "Autorizar uso...": user Ana, 30 minutes.
    ASSERT_EQ(atspi({"press", "PC1", "table cell"}), 0) << out.toStdString();
    int mark = static_cast<int>(pc1->lines().size());
    ASSERT_EQ(atspi({"wait", "Autorizar uso...", "push button", "10"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"press", "Autorizar uso...", "push button"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"wait", "Autoriza acceso a cliente", "dialog", "10"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"gettext", "Usuario", "text"}), 0);
    EXPECT_EQ(out.trimmed(), QStringLiteral("<Gen>"));
    ASSERT_EQ(atspi({"settext", "Usuario", "Ana", "text"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"settext", "Tiempo de autorización", "30", "text"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"press", "OK", "push button"}), 0) << out.toStdString();
    ASSERT_TRUE(pc1->waitForLine("04", 10000));
    QList<QByteArray> got = since(pc1, mark);
    const int grant = indexOf(got, "04");
    ASSERT_GE(grant, 1);
    EXPECT_EQ(got[grant], "0430,Ana,");
    EXPECT_TRUE(got[grant - 1].startsWith("07")) << "the clock goes first";

    // The station shows its welcome, then the customer starts.
    pc1->config().state = 4;
    pc1->sendStatusReport();
    ASSERT_EQ(atspi({"wait", "Espera", "table cell", "10"}), 0) << out.toStdString();
    pc1->sendLine("R04Ana");
    inUse(pc1, "Ana", 30);
    ASSERT_EQ(atspi({"wait", "Uso", "table cell", "10"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"wait", "Ana", "table cell", "10"}), 0) << out.toStdString();

    // "Otorgar más tiempo...": 15 minutes without telling the customer.
    ASSERT_EQ(atspi({"press", "Otorgar más tiempo...", "push button"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"wait", "Otorga más tiempo", "dialog", "10"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"settext", "Tiempo adicional", "15", "text"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"press", "Notificar al usuario adición de tiempo", "check box"}), 0);
    // The bus's toggle has been applied once the box is clear or has the
    // focus: Qt 6.4's check box at times takes the focus on it but keeps its
    // state, and the space bar then clears it, as a keyboard user would.
    const auto notify = [&] {
        return atspi({"states", "Notificar al usuario adición de tiempo", "check box"}) == 0;
    };
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return notify() && (!out.contains("checked") || out.contains("focused")); }, 30000))
        << "the press on the check box came to nothing: " << out.toStdString();
    if (out.contains("checked"))
        TestDisplay().run("xdotool", {"key", "space"});
    // A pressed box changes a moment later (as a click does).
    ASSERT_TRUE(QTest::qWaitFor([&] { return notify() && !out.contains("checked"); }, 30000))
        << out.toStdString();
    ASSERT_EQ(atspi({"press", "OK", "push button"}), 0) << out.toStdString();
    ASSERT_TRUE(pc1->waitForLine("5015", 10000)) << pc1->lines().join(" | ").toStdString();

    // "Enviar mensaje al usuario...".
    ASSERT_EQ(atspi({"press", "Enviar mensaje al usuario...", "push button"}), 0);
    ASSERT_EQ(atspi({"wait", "Notificación", "dialog", "10"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"settext", "Texto", "Quedan 15 minutos", "text"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"press", "OK", "push button"}), 0) << out.toStdString();
    ASSERT_TRUE(pc1->waitForLine("14Quedan 15 minutos", 10000));

    // A free message from the station; the cashier reads it.
    pc1->sendLine("R14");
    pc1->sendBlock("Necesito ayuda con la impresora");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return atspi({"states", "Ver mensajes recibidos...", "push button"}) == 0 &&
                   out.contains("enabled");
        },
        10000));
    ASSERT_EQ(atspi({"press", "Ver mensajes recibidos...", "push button"}), 0);
    ASSERT_EQ(atspi({"wait", "Mensajes desde PC1", "dialog", "10"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"gettext", "Mensajes desde PC1", "text"}), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("Necesito ayuda con la impresora")) << out.toStdString();

    // "Mover usuario...": only the locked computer is offered.
    StationSim* pc2 = station("PC2", "00-11-22-33-44-02", 1);
    ASSERT_EQ(atspi({"wait", "PC2", "table cell", "20"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"press", "Mover usuario...", "push button"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"wait", "Selecciona nueva máquina de navegación", "dialog", "10"}), 0)
        << out.toStdString();
    ASSERT_EQ(atspi({"children", "Máquinas bloqueadas"}), 0) << out.toStdString();
    EXPECT_EQ(out.trimmed(), QStringLiteral("PC2"));
    ASSERT_EQ(atspi({"select", "Máquinas bloqueadas", "PC2"}), 0) << out.toStdString();
    mark = static_cast<int>(pc2->lines().size());
    ASSERT_EQ(atspi({"press", "OK", "push button"}), 0) << out.toStdString();
    ASSERT_TRUE(pc2->waitForLine("04", 10000));
    got = since(pc2, mark);
    EXPECT_TRUE(got[indexOf(got, "04")].endsWith(",Ana,")) << got[indexOf(got, "04")].toStdString();
    ASSERT_TRUE(pc1->waitForLine("08", 10000));

    // "Bloquear" on the moved use: "08", then the clock.
    inUse(pc2, "Ana", 25);
    pc1->config().state = 1;
    pc1->sendStatusReport();
    ASSERT_EQ(atspi({"wait", "Uso", "table cell", "10"}), 0) << out.toStdString();
    // A cell's toggle adds to the selection: PC1 goes out, PC2 comes in.
    ASSERT_EQ(atspi({"press", "PC1", "table cell"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"press", "PC2", "table cell"}), 0) << out.toStdString();
    mark = static_cast<int>(pc2->lines().size());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return atspi({"states", "Bloquear", "push button"}) == 0 && out.contains("enabled");
        },
        10000));
    ASSERT_EQ(atspi({"press", "Bloquear", "push button"}), 0);
    ASSERT_TRUE(pc2->waitForLine("07", 10000));
    got = since(pc2, mark);
    ASSERT_GE(indexOf(got, "08"), 0);
    EXPECT_LT(indexOf(got, "08"), indexOf(got, "07"));
}

TEST_F(TaquillaOnX, RowsInEveryStateArePhotographed) {
    StationSim* gone = station("PC-DESC", "00-11-22-33-44-10", 1);
    ASSERT_EQ(atspi({"wait", "PC-DESC", "table cell", "20"}), 0) << out.toStdString();
    gone->disconnectFromServer();
    ASSERT_EQ(atspi({"wait", "Desc.", "table cell", "20"}), 0) << out.toStdString();
    station("PC-BLOQ", "00-11-22-33-44-11", 1);
    StationSim* use = station("PC-USO", "00-11-22-33-44-12", 1);
    station("PC-SERV", "00-11-22-33-44-13", 3);
    station("PC-ESPERA", "00-11-22-33-44-14", 4);
    StationSim* asks = station("PC-PIDE", "00-11-22-33-44-15", 1);
    ASSERT_EQ(atspi({"wait", "PC-PIDE", "table cell", "20"}), 0) << out.toStdString();
    inUse(use, "Ana", 42);
    inUse(asks, "Luis", 7);
    asks->sendLine("R0515");
    const QString folder = qEnvironmentVariable("TARVINA_SHOTS", dir.path());
    QDir().mkpath(folder);
    ASSERT_EQ(atspi({"wait", "Ana", "table cell", "30"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"wait", "Luis", "table cell", "30"}), 0) << out.toStdString();
    TestDisplay().screenshot(QDir(folder).filePath("early.png"));

    // The state colours of the rows come on screen with the next tick.
    const QString png = QDir(folder).filePath("computers.png");
    bool green = false, yellow = false, red = false;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const QImage shot = TestDisplay().screenshot(png) ? QImage(png) : QImage();
            for (int y = 0; y < shot.height(); y += 2)
                for (int x = 0; x < shot.width(); x += 2) {
                    const QRgb p = shot.pixel(x, y);
                    green = green || p == qRgb(0, 255, 0);
                    yellow = yellow || p == qRgb(255, 255, 0);
                    red = red || p == qRgb(255, 0, 0);
                }
            return green && yellow && red;
        },
        30000))
        << "green " << green << ", yellow " << yellow << ", red " << red;

    // The grant dialog in front of the window, for the locked computer.
    ASSERT_EQ(atspi({"press", "PC-BLOQ", "table cell"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"press", "Autorizar uso...", "push button"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"wait", "Autoriza acceso a cliente", "dialog", "10"}), 0) << out.toStdString();
    ASSERT_TRUE(TestDisplay().stillScreenshot(QDir(folder).filePath("grant.png")));
    ASSERT_EQ(atspi({"press", "Cancelar", "push button"}), 0) << out.toStdString();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return atspi({"find", "Autoriza acceso a cliente", "dialog"}) != 0;
        },
        10000));
    // The same dialog from the keyboard.
    TestDisplay().run("xdotool", {"key", "ctrl+alt+a"});
    ASSERT_EQ(atspi({"wait", "Autoriza acceso a cliente", "dialog", "10"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"press", "Cancelar", "push button"}), 0) << out.toStdString();

    // The main menu's copy of the row menu, opened.
    ASSERT_EQ(atspi({"press", "Máquinas", "menu item"}), 0) << out.toStdString();
    ASSERT_TRUE(TestDisplay().stillScreenshot(QDir(folder).filePath("menu.png")));
    TestDisplay().run("xdotool", {"key", "Escape"});
}

} // namespace
