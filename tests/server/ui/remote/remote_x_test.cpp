// taquilla on a private X display against a simulated station that answers
// the remote control commands, driven by accessible names only: the screen
// capture, the task window and its close, the clean of tasks, the remote
// configuration window and the volume window.
#include "common/DateTime.h"
#include "protocol/Block.h"
#include "protocol/DateTimeText.h"
#include "server/BmpSamples.h"
#include "server/ui/TaquillaOnDisplay.h"
#include "simulator/StationSim.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

using tarvina::sim::StationSim;
using tarvina::test::TestDisplay;

namespace {

QByteArray Report() {
    QByteArray out =
        "R21\r\nC:\\Tarvina\\fondo.jpg\r\nalarma.wav\r\n0\r\n0\r\n0\r\npapel.bmp\r\n0\r\n";
    out += tarvina::protocol::EncodeUInt32(3);
    out += tarvina::protocol::EncodeInt32(2);
    out += tarvina::protocol::EncodeInt32(5) + "zu26x.gif\r\n";
    out += tarvina::protocol::EncodeInt32(9) + "oferta.png\r\n";
    return out;
}

class RemoteOnX : public tarvina::test::TaquillaOnDisplay {
protected:
    void SetUp() override {
        TaquillaOnDisplay::SetUp();
        start();
        waitMainWindow();
    }
    void TearDown() override {
        sim.reset();
        TaquillaOnDisplay::TearDown();
    }
    bool enabled(const QString& name, const QString& role) {
        return QTest::qWaitFor(
            [&] {
                return atspi({"states", name, role}) == 0 && out.contains("enabled");
            },
            30000);
    }
    // The station answers what remote control asks, as a station does.
    void answerAsAStation() {
        StationSim* s = sim.get();
        QObject::connect(s, &StationSim::lineReceived, s, [s](const QByteArray& line) {
            if (line == "09") {
                s->sendLine("R09xterm,\"Mi PC, carpeta\",Calculadora");
            } else if (line == "12") {
                s->sendLine("R12");
                s->sendBlock(tarvina::test::MakeBmp(320, 200, 24));
            } else if (line == "21") {
                s->sendRaw(Report());
            } else if (line == "43") {
                s->sendLine("R4380");
            } else if (line == "36") {
                s->sendLine("R36FFFF8000");
            }
        });
    }

    std::unique_ptr<StationSim> sim;
};

TEST_F(RemoteOnX, CaptureTasksCleanConfigurationAndVolumeByNames) {
    StationSim::Config c;
    c.name = "PC1";
    c.mac = "00-11-22-33-44-31";
    c.state = 2;
    c.user = "Ana";
    c.timeLeft = tarvina::protocol::FormatDateTimeNumber(30 / 1440.0);
    c.start = tarvina::protocol::FormatDateTimeNumber(
        tarvina::common::DateTime::FromQDateTime(QDateTime::currentDateTime()).days() - 0.003);
    c.localAddress = QStringLiteral("127.0.0.31");
    sim = std::make_unique<StationSim>(c);
    answerAsAStation();
    sim->connectTo(QStringLiteral("127.0.0.1"), stationPort());
    ASSERT_TRUE(sim->waitConnected(10000));
    ASSERT_EQ(atspi({"wait", "Uso", "table cell", "30"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"press", "PC1", "table cell"}), 0) << out.toStdString();

    // "Capturar pantalla...": the window names the computer and the picture.
    ASSERT_TRUE(enabled("Capturar pantalla...", "push button"));
    ASSERT_EQ(atspi({"press", "Capturar pantalla...", "push button"}), 0) << out.toStdString();
    ASSERT_TRUE(sim->waitForLine("12", 10000));
    ASSERT_EQ(atspi({"wait", "Instantánea del escritorio de PC1", "30"}), 0) << out.toStdString();
    // The label tells the picture's size and depth.
    ASSERT_EQ(atspi({"wait", "Resolución 320x200, 24 bits", "label", "30"}), 0)
        << out.toStdString();
    const QString folder = qEnvironmentVariable("TARVINA_SHOTS", dir.path());
    QDir().mkpath(folder);
    TestDisplay().screenshot(QDir(folder).filePath("capture.png"));

    // "Ver tareas...": the list, and a title with a comma closed by name.
    ASSERT_EQ(atspi({"press", "Ver tareas...", "push button"}), 0) << out.toStdString();
    ASSERT_TRUE(sim->waitForLine("09", 10000));
    ASSERT_EQ(atspi({"wait", "Programas en ejecución", "30"}), 0) << out.toStdString();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return atspi({"children", "Tareas", "list"}) == 0 && out.contains("Mi PC, carpeta");
        },
        30000))
        << out.toStdString();
    ASSERT_EQ(atspi({"select", "Tareas", "Mi PC, carpeta"}), 0) << out.toStdString();
    ASSERT_TRUE(enabled("Finaliza tarea", "push button"));
    ASSERT_EQ(atspi({"press", "Finaliza tarea", "push button"}), 0) << out.toStdString();
    ASSERT_TRUE(sim->waitForLine("10", 10000));
    EXPECT_TRUE(sim->lines().contains("10Mi PC, carpeta"))
        << sim->lines().join(" | ").toStdString();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return atspi({"children", "Tareas", "list"}) == 0 && !out.contains("Mi PC, carpeta") &&
                   out.contains("xterm");
        },
        30000))
        << out.toStdString();
    ASSERT_EQ(atspi({"press", "Cancelar", "push button"}), 0) << out.toStdString();

    // "Limpiar tareas" asks first.
    ASSERT_TRUE(enabled("Limpiar tareas", "push button"));
    ASSERT_EQ(atspi({"press", "Limpiar tareas", "push button"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"wait", "Pregunta", "30"}), 0) << out.toStdString();
    ASSERT_EQ(atspi({"press", "Sí", "push button"}), 0) << out.toStdString();
    ASSERT_TRUE(sim->waitForLine("15", 10000));

    // "Configuración remota...": the window opens on the station's report.
    ASSERT_TRUE(enabled("Configuración remota...", "menu item"));
    ASSERT_EQ(atspi({"press", "Configuración remota...", "menu item"}), 0) << out.toStdString();
    ASSERT_TRUE(sim->waitForLine("21", 10000));
    ASSERT_EQ(atspi({"wait", "Configuración remota", "30"}), 0) << out.toStdString();
    ASSERT_TRUE(sim->waitForLine("43", 10000));
    ASSERT_EQ(atspi({"wait", "Configuración de PC1", "label", "30"}), 0) << out.toStdString();
    TestDisplay().screenshot(QDir(folder).filePath("config.png"));
    // A change sends its command, then asks again; the window waits and
    // the new report fills it and gives it back.
    const int before = sim->count("21");
    ASSERT_EQ(atspi({"press", "Quita fondo inicial en bloqueo", "push button"}), 0)
        << out.toStdString();
    ASSERT_TRUE(sim->waitForLine("22", 10000)) << sim->lines().join(" | ").toStdString();
    EXPECT_TRUE(sim->lines().contains("22")) << "the code alone clears the picture";
    ASSERT_TRUE(sim->waitForLine("21", 10000, before + 1));
    ASSERT_TRUE(enabled("Quita fondo inicial en bloqueo", "push button"));
    ASSERT_EQ(atspi({"wait", "Configuración de PC1", "label", "30"}), 0) << out.toStdString();

    // "Volumen del sonido...": the station's volume in its window.
    ASSERT_TRUE(enabled("Volumen del sonido...", "menu item"));
    ASSERT_EQ(atspi({"press", "Volumen del sonido...", "menu item"}), 0) << out.toStdString();
    ASSERT_TRUE(sim->waitForLine("36", 10000));
    ASSERT_EQ(atspi({"wait", "Volumen", "30"}), 0) << out.toStdString();
    TestDisplay().screenshot(QDir(folder).filePath("volume.png"));
}

} // namespace
