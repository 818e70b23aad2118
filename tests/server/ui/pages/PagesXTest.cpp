// The three pages on a real display, driven through the accessibility bus
// by their captions only: a batch of codes, a save of the company's name, a
// history seek. Screenshots of each page go to TARVINA_SHOTS when it is set.

#include "platform/fake/FakeClock.h"
#include "platform/fake/FakePrinting.h"
#include "platform/fake/MemoryRegistry.h"
#include "platform/linux/TcpNetwork.h"
#include "server/pin/PinRuntime.h"
#include "server/pin/TableOps.h"
#include "server/shell/ServerCore.h"
#include "server/ui/pages/TaquillaPages.h"
#include "support/TempDir.h"
#include "support/XDisplay.h"
#include "xbase/PosixFileSystem.h"
#include "xbase/TableEngine.h"

#include <QApplication>
#include <QFile>
#include <QStackedWidget>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::server;
using tarvina::test::TestDisplay;

namespace {

void Shot(const QString& name) {
    const QString folder = qEnvironmentVariable("TARVINA_SHOTS");
    if (!folder.isEmpty())
        TestDisplay().stillScreenshot(folder + "/" + name + ".png");
}

int Atspi(const QStringList& args) {
    QString out;
    const int rc = TestDisplay().atspi(args, &out);
    EXPECT_EQ(rc, 0) << args.join(' ').toStdString() << ": " << out.toStdString();
    return rc;
}

} // namespace

TEST(PagesOnDisplay, DrivenByCaption) {
    test::ScopedTarvinaEnv env;
    platform::FakeClock clock;
    platform::MemoryRegistry store;
    platform::FakePrinting printing;
    printing.printers = {"Ticket"};
    TableOps::CreateTablesAtLoad(xbase::RealFileSystem(), env.home());
    platform::TcpNetwork network;
    ServerCore core(clock, store, network, env.home(), env.home());
    core.setPort(0);
    core.startUp();
    PinRuntime runtime{xbase::RealFileSystem()};
    runtime.start(core, env.home(), clock.now());
    core.settings().rawMode = true;

    QWidget window;
    window.setWindowTitle("Tarvina");
    auto* stack = new QStackedWidget(&window);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(stack);
    {
        ui::TaquillaPages pages(core, runtime, store, printing, &window);
        for (QWidget* f : {static_cast<QWidget*>(pages.codesFrame()),
                           static_cast<QWidget*>(pages.historyFrame()),
                           static_cast<QWidget*>(pages.preferencesFrame())}) {
            stack->addWidget(f);
        }
        pages.showFrame = [&](QWidget* f) {
            stack->setCurrentWidget(f);
            f->show();
        };
        window.setGeometry(40, 40, 1000, 640);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 30000));

        // Codes page.
        pages.showCodesFrame();
        ASSERT_EQ(Atspi({"wait", "Genera PINs", "push button", "10"}), 0);
        for (const char* name : {"Imprime ticket al crear PIN", "Primer registro",
                                 "Registro anterior", "Próximo registro", "Último registro",
                                 "Refresca información", "Imprime ticket seleccionado"}) {
            Atspi({"find", name});
        }
        pages.codesFrame()->CmbTime->setEditText("30");
        pages.codesFrame()->SECnt->setValue(5);
        Atspi({"press", "Genera PINs", "push button"});
        EXPECT_TRUE(QTest::qWaitFor([&] { return printing.jobs.size() == 5; }, 10000));
        Shot("codes");

        // Preferences page: the company's name typed and saved by caption.
        pages.preferencesAction()->trigger();
        pages.preferencesFrame()->selectNode("Empresa");
        ASSERT_EQ(Atspi({"wait", "Guardar cambios", "push button", "10"}), 0);
        Atspi({"settext", "Denominación", "Ciber Ñandú"});
        Atspi({"settext", "Teléfono", "0212-5550000"});
        Shot("preferences");
        Atspi({"press", "Guardar cambios", "push button"});
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return core.settings().denominacion == QStringLiteral("Ciber Ñandú"); }, 10000));
        EXPECT_EQ(core.settings().telefono, "0212-5550000");
        pages.preferencesFrame()->selectNode("Modo de operación");
        Atspi({"find", "PIN", "radio button"});
        Atspi({"find", "Por solicitud", "radio button"});
        pages.preferencesFrame()->selectNode("Colores vs estado");
        Atspi({"find", "Color en uso"});
        Shot("colours");

        // History page.
        PinCodes& codes = runtime.desk()->codes();
        codes.RegConsumo(PinCodes::HistoryKind::Assignment, "ABC123", clock.now(), 60);
        pages.historyAction()->trigger();
        ASSERT_EQ(Atspi({"wait", "Escriba el número de PIN que desea revisar:", "", "10"}), 0);
        Atspi({"settext", "Escriba el número de PIN que desea revisar:", "abc"});
        TableWindow& m = pages.historyFrame()->gridModel();
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return m.currentRow() >= 0 &&
                       m.data(m.index(m.currentRow(), 0)).toString() == "ABC123";
            },
            10000));
        Shot("history");
    }
    runtime.close();
}
