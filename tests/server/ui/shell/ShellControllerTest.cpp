// The program's shell offscreen: the start-up's console lines in order, the
// unclean-close warning and notice written where a person will find them
// when there is no display, the listener held back until then, the close
// button keeping the program alive, the orderly close, the menus.
#include "server/ui/shell/ShellController.h"

#include "common/Cp1252.h"
#include "common/Password.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeMachineInfo.h"
#include "platform/fake/FakeMail.h"
#include "platform/fake/FakePinger.h"
#include "platform/fake/FakePrinting.h"
#include "platform/fake/FakeShell.h"
#include "platform/fake/MemoryRegistry.h"
#include "platform/linux/TcpNetwork.h"
#include "server/settings/ServerSettings.h"
#include "server/ui/MainWindow.h"
#include "server/ui/shell/ShellHelp.h"
#include "support/TempDir.h"
#include "xbase/PosixFileSystem.h"

#include <QAction>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::server;
using platform::Root;

namespace {

const QString kKey = QStringLiteral("\\Software\\Velt\\Tarvina");

class EchoPinger final : public platform::Pinger {
public:
    bool ping(const QString&, int) override { return true; }
    std::optional<platform::EchoReply> echo(const QString& host, int seq, int) override {
        return platform::EchoReply{64, host, seq, 64, seq == 1 ? 0 : 3};
    }
};

QString ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? common::FromCp1252(f.readAll()) : QString();
}

class ShellControllerTest : public ::testing::Test {
protected:
    // The stamp and the console archive carry the program's name.
    ShellControllerTest() { QCoreApplication::setApplicationName(QStringLiteral("taquilla")); }

    void make() {
        shell = std::make_unique<ShellController>(
            ShellPlatform{clock, registry, machine, printing, pinger, opener, mail, network,
                          xbase::RealFileSystem()},
            ShellController::Folders{dir.path(), dir.path(), dir.file(QStringLiteral("help"))});
        shell->setQuit([this] { ++quits; });
        // Any free port: other tests listen too.
        shell->core().setPort(0);
        QObject::connect(&shell->core().console(), &ConsoleModel::lineAdded,
                         [this](const ConsoleModel::Line& l) { lines << l.text; });
    }
    void startAndSettle(int ms = 200) {
        make();
        shell->start();
        settle(ms);
    }
    void settle(int ms = 200) {
        QDeadlineTimer d(ms);
        while (!d.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    int indexOf(const QString& prefix) const {
        for (int i = 0; i < lines.size(); ++i)
            if (lines[i].startsWith(prefix))
                return i;
        return -1;
    }

    test::TempDir dir;
    platform::FakeClock clock{common::DateTime::FromParts(2024, 3, 1, 9, 30, 0)};
    platform::MemoryRegistry registry;
    platform::FakeMachineInfo machine;
    platform::FakePrinting printing;
    EchoPinger pinger;
    platform::FakeShell opener;
    platform::TcpNetwork network;
    platform::FakeMail mail;
    std::unique_ptr<ShellController> shell;
    QStringList lines;
    int quits = 0;
};

TEST_F(ShellControllerTest, FirstStartWritesTheFirstShowLinesInOrderAndListens) {
    printing.printers = {QStringLiteral("Ticketera")};
    machine.version.description =
        QStringLiteral("Debian GNU/Linux 12 (bookworm) Linux 6.1.0-18-amd64");
    QFile quotes(dir.file(QStringLiteral("citas.txt")));
    ASSERT_TRUE(quotes.open(QIODevice::WriteOnly));
    quotes.write("1\nEl que madruga...\n");
    quotes.close();
    startAndSettle();

    const int os = indexOf(QStringLiteral("OS: "));
    ASSERT_GE(os, 0) << lines.join('\n').toStdString();
    EXPECT_EQ(lines.value(os),
              QStringLiteral("OS: Debian GNU/Linux 12 (bookworm) Linux 6.1.0-18-amd64"));
    EXPECT_EQ(lines.value(os + 1), QStringLiteral("Impresora: Ticketera"));
    EXPECT_TRUE(lines.value(os + 2).startsWith(QStringLiteral("IP: ")));
    EXPECT_EQ(lines.value(os + 3).mid(8), lines.value(os + 2).mid(4)); // "Nombre: " + the address
    EXPECT_EQ(lines.value(os + 4), QStringLiteral("Ping:"));
    for (int seq = 1; seq <= 4; ++seq)
        EXPECT_TRUE(lines.value(os + 4 + seq).contains(QStringLiteral("icmp_seq=%1").arg(seq)))
            << lines.value(os + 4 + seq).toStdString();
    EXPECT_TRUE(lines.value(os + 5).endsWith(QStringLiteral("time<1 ms")));
    EXPECT_EQ(lines.value(os + 9), QStringLiteral("============================"));
    EXPECT_EQ(lines.value(os + 10),
              QStringLiteral("Buenos días \r\nCita del día: \r\n   El que madruga..."));
    EXPECT_EQ(lines.value(os + 11), QStringLiteral("============================"));

    EXPECT_TRUE(shell->core().server().isListening());
    EXPECT_FALSE(shell->core().crashSuspected());
    ASSERT_NE(shell->window(), nullptr);
    EXPECT_EQ(shell->window()->currentPage(), MainWindow::PageId::Computers);
    EXPECT_TRUE(shell->window()->isVisible());
    // The stamp is written at once on an orderly start.
    EXPECT_EQ(QFile(dir.file(QStringLiteral("taquilla.dtu"))).size(), 8);
    EXPECT_TRUE(ReadAll(dir.file(QStringLiteral("bitacora.log")))
                    .contains(QStringLiteral("'Inicio de operaciones.'")));
    EXPECT_TRUE(shell->shownNotices().isEmpty());
}

TEST_F(ShellControllerTest, NoPrinterIsAnObservation) {
    startAndSettle();
    EXPECT_GE(indexOf(QStringLiteral("Observación: No hay impresora definida")), 0);
}

TEST_F(ShellControllerTest, UncleanCloseWithoutDisplayIsWrittenDownAndThenTheListenerStarts) {
    // The previous run started after its last orderly close.
    registry.writeBinary(Root::CurrentUser, kKey, QStringLiteral("Entrada"),
                         platform::EncodeDateTimeValue(clock.now().addDays(-1).days()));
    registry.writeBinary(Root::CurrentUser, kKey, QStringLiteral("Salida"),
                         platform::EncodeDateTimeValue(clock.now().addDays(-2).days()));
    // Its last activity.
    const common::DateTime last = common::DateTime::FromParts(2024, 2, 29, 23, 58, 30);
    {
        LastActivityStamp stamp(dir.file(QStringLiteral("taquilla.dtu")));
        ASSERT_TRUE(stamp.write(last));
    }
    startAndSettle(500);

    const QString warning = QStringLiteral(
        "La última vez que se cerró el programa hubo una falla. Se sugiere repara base de datos "
        "(menú Sesión)");
    const QString notice =
        QStringLiteral("El último registro de actividad corresponde a 29/02/2024 23:58:30");
    const int w = lines.indexOf(warning);
    const int n = lines.indexOf(notice);
    ASSERT_GE(w, 0) << lines.join('\n').toStdString();
    EXPECT_GT(n, w);
    const QString log = ReadAll(dir.file(QStringLiteral("bitacora.log")));
    EXPECT_LT(log.indexOf(warning), log.indexOf(notice));
    EXPECT_GE(log.indexOf(warning), 0);
    EXPECT_TRUE(shell->core().server().isListening());
    EXPECT_FALSE(shell->core().crashSuspected());
    EXPECT_EQ(shell->shownNotices().size(), 2);
}

TEST_F(ShellControllerTest, CloseButtonKeepsServingAndCloseApplicationEndsInOrder) {
    startAndSettle();
    MainWindow* w = shell->window();
    ASSERT_TRUE(w->close() == false);
    settle();
    EXPECT_TRUE(shell->core().server().isListening());
    EXPECT_FALSE(shell->life().terminating());
    EXPECT_EQ(quits, 0);
    EXPECT_TRUE(shell->core().settings().confirmClose);

    clock.advanceMinutes(5);
    w->closeApplicationAction()->trigger();
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(shell->life().closed());
    EXPECT_FALSE(shell->core().server().isListening());
    const QString log = ReadAll(dir.file(QStringLiteral("bitacora.log")));
    EXPECT_TRUE(log.contains(QStringLiteral("'Terminación de operaciones.'")));
    // Salida was written, so the next start is an orderly one.
    EXPECT_TRUE(registry.readBinary(Root::CurrentUser, kKey, QStringLiteral("Salida")));
    EXPECT_TRUE(QFile::exists(dir.file(QStringLiteral("taquilla.log"))));
    // The placement is kept.
    EXPECT_TRUE(registry.readInteger(Root::CurrentUser, kKey, QStringLiteral("frmZUCaja.Width")));
    // A second request (a signal after the menu) does nothing more.
    shell->endNow();
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(log.count(QStringLiteral("Terminación")), 1);
}

TEST_F(ShellControllerTest, StartUpGateIsNotWaitedForWithoutDisplay) {
    ServerSettings s = LoadSettings(registry);
    s.passwordStd = common::FromCp1252(common::ScramblePassword("caja"));
    SaveSettings(registry, s, clock.now().addDays(-1).days());
    startAndSettle();
    EXPECT_GE(indexOf(QStringLiteral("Observación: sin pantalla")), 0);
    EXPECT_TRUE(shell->core().server().isListening());
    EXPECT_FALSE(shell->life().terminating());
    // The icon's gates cannot be passed without a display.
    EXPECT_FALSE(shell->askGate(Gate::ManageClients));
}

TEST_F(ShellControllerTest, MenusOfTheShell) {
    startAndSettle();
    MainWindow* w = shell->window();
    const auto texts = [](QMenu* m) {
        QStringList out;
        for (QAction* a : m->actions())
            out << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return out;
    };
    EXPECT_EQ(texts(w->menu(MainWindow::MenuId::Session)),
              QStringList({"Borrar mensajes de cónsola", "Probar conexión de red...",
                           "Reparar base de datos", "-", "Ocultar ventana", "Cerrar aplicación"}));
    EXPECT_EQ(texts(w->menu(MainWindow::MenuId::Reports)),
              QStringList({"Uso de computadores (día de hoy)...",
                           "Uso de computadores (cualquier día)...", "-",
                           "PINs generados (día de hoy)...", "PINs generados (cualquier día)...",
                           "-", "Consulta historia de PIN"}));
    const QStringList help = texts(w->menu(MainWindow::MenuId::Help));
    EXPECT_EQ(help.last(), QStringLiteral("Reporte a soporte técnico"));
    EXPECT_EQ(help.first(), QStringLiteral("Ayuda del sistema"));

    // "Consulta historia de PIN" shows the history page.
    w->menu(MainWindow::MenuId::Reports)->actions().last()->trigger();
    EXPECT_EQ(w->currentPage(), MainWindow::PageId::PinHistory);
    // The information page lists the version.
    shell->technicalInfoAction();
    EXPECT_EQ(w->currentPage(), MainWindow::PageId::Information);

    // Help opens the shipped file with the desktop's program.
    QDir().mkpath(dir.file(QStringLiteral("help")));
    QFile h(dir.file(QStringLiteral("help/caja.html")));
    ASSERT_TRUE(h.open(QIODevice::WriteOnly));
    h.close();
    shell->help().openHelp(1001);
    ASSERT_EQ(opener.opened.size(), 1);
    EXPECT_EQ(QUrl(opener.opened[0]).toLocalFile(), dir.file(QStringLiteral("help/caja.html")));
    // The reports' entries carry their topic, a section of the same page.
    QAction* today = w->menu(MainWindow::MenuId::Reports)->actions().first();
    shell->help().openHelp(today->property("helpContext").toInt());
    ASSERT_EQ(opener.opened.size(), 2);
    EXPECT_EQ(QUrl(opener.opened[1]).fragment(), QStringLiteral("reportes"));
    shell->help().openHelp(1002); // not shipped here: told, nothing opened
    EXPECT_EQ(opener.opened.size(), 2);
    // F1 on a page's control asks for that page's topic.
    w->showPage(MainWindow::PageId::Information);
    QWidget* page = w->page(MainWindow::PageId::Information);
    ASSERT_NE(page, nullptr);
    page->setProperty("helpContext", 1004);
    QTest::keyClick(page, Qt::Key_F1);
    ASSERT_EQ(opener.opened.size(), 3);
    EXPECT_EQ(QUrl(opener.opened[2]).fragment(), QStringLiteral("preferencias"));
}

TEST_F(ShellControllerTest, RepairReindexesWithProgressAndLeavesTheHandlesOpen) {
    startAndSettle();
    shell->repairAction();
    EXPECT_FALSE(shell->pins().repairInProgress());
    EXPECT_TRUE(shell->pins().tbPin().IsOpen());
    EXPECT_TRUE(shell->pins().tbPinCheck().IsOpen());
    EXPECT_EQ(quits, 0);
}

TEST_F(ShellControllerTest, SupportReportHasItsSevenPartsAndIsMailedAsAnAttachment) {
    startAndSettle();
    QFile station(dir.file(QStringLiteral("PUESTO07.log")));
    ASSERT_TRUE(station.open(QIODevice::WriteOnly));
    station.write("linea del puesto\n");
    station.close();
    const QString path = dir.file(QStringLiteral("reporte.txt"));
    ASSERT_TRUE(shell->help().writeSupportReport(path));
    const QString text = ReadAll(path);
    int at = 0;
    for (const char* part :
         {"Parte I - Base de datos", "Parte II - equipo", "Parte III - registros",
          "Parte IV - Tec. Info", "Parte V - Excepc.log", "Parte VI - caja.log",
          "Parte VII - Clientes", "PUESTO07.log", "linea del puesto", "Fin de archivo"}) {
        const int next = text.indexOf(QString::fromUtf8(part), at);
        EXPECT_GE(next, at) << part;
        at = std::max(at, next);
    }
    EXPECT_TRUE(text.contains(QStringLiteral("\"LimitBitacora\"=dword:00A00000")));
}

} // namespace
