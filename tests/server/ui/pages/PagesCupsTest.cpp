// "Genera PINs" with tickets on: ten codes, ten raw jobs through a private
// CUPS scheduler to a loopback listener standing in for the ticket printer,
// each job byte for byte the ticket of its code.

#include "platform/fake/FakeClock.h"
#include "platform/fake/MemoryRegistry.h"
#include "platform/linux/CupsPrinting.h"
#include "platform/linux/TcpNetwork.h"
#include "server/PrivateCups.h"
#include "server/pin/PinRuntime.h"
#include "server/pin/TableOps.h"
#include "server/pin/Ticket.h"
#include "server/shell/ServerCore.h"
#include "server/ui/pages/TaquillaPages.h"
#include "support/TempDir.h"
#include "xbase/PosixFileSystem.h"

#include <QApplication>
#include <QMessageBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::server;

TEST(PagesCups, TenCodesTenTicketsThroughTheSpooler) {
    test::ScopedTarvinaEnv env;
    test::TempDir cupsDir;
    test::PrivateCups cups;
    const QString failure = cups.start(cupsDir.path());
    if (!failure.isEmpty()) {
        GTEST_SKIP() << "CUPS cannot run here: " << failure.toStdString();
    }
    QTcpServer printer;
    ASSERT_TRUE(printer.listen(QHostAddress::LocalHost, 0));
    const QString queued = cups.addRawQueue("Tarvina_Ticket", printer.serverPort());
    ASSERT_TRUE(queued.isEmpty()) << queued.toStdString();
    platform::CupsPrinting printing(cups.socket());

    platform::FakeClock clock;
    platform::MemoryRegistry store;
    TableOps::CreateTablesAtLoad(xbase::RealFileSystem(), env.home());
    platform::TcpNetwork network;
    ServerCore core(clock, store, network, env.home(), env.home());
    core.setPort(0);
    core.startUp();
    PinRuntime runtime{xbase::RealFileSystem()};
    runtime.start(core, env.home(), clock.now());
    const QStringList printers = printing.printerNames();
    ASSERT_TRUE(printers.contains("Tarvina_Ticket"));
    core.settings().rawMode = true;
    core.settings().prnTicket = int(printers.indexOf("Tarvina_Ticket"));
    core.settings().denominacion = QStringLiteral("Ciber Tarvina");
    core.settings().dir1 = QStringLiteral("Calle Ñandú 5");
    QWidget window;
    {
        ui::TaquillaPages pages(core, runtime, store, printing, &window);
        ui::TPinFrame* f = pages.codesFrame();
        f->show();
        f->CmbTime->setEditText("30");
        f->SECnt->setValue(10);
        ASSERT_TRUE(f->ChkPrint->isChecked());
        QTimer boxes; // no box may stay open
        QStringList boxTexts;
        QObject::connect(&boxes, &QTimer::timeout, [&] {
            if (auto* b = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxTexts << b->text();
                b->accept();
            }
        });
        boxes.start(10);
        f->BtnCreaPINClick();
        EXPECT_TRUE(boxTexts.isEmpty()) << boxTexts.join("\n").toStdString();
    }

    // Each job arrives on a connection of its own.
    QList<QByteArray> jobs;
    QList<QTcpSocket*> open;
    const bool done = QTest::qWaitFor(
        [&] {
            while (printer.hasPendingConnections()) {
                open << printer.nextPendingConnection();
                jobs << QByteArray();
            }
            for (int i = 0; i < open.size(); ++i) {
                jobs[i] += open[i]->readAll();
            }
            int finished = 0;
            for (QTcpSocket* s : open) {
                finished += s->state() == QAbstractSocket::UnconnectedState ? 1 : 0;
            }
            return finished == 10;
        },
        120000);
    ASSERT_TRUE(done) << jobs.size() << " jobs; " << cups.errorLog().toStdString();

    const TicketSettings ts = TicketSettingsFrom(core.settings());
    QSet<QString> pins;
    for (const QByteArray& job : jobs) {
        const QString pin = QString::fromLatin1(job.mid(job.indexOf("PIN: ") + 5, 6));
        pins << pin;
        QByteArray expected = "\x0f\r";
        for (const QByteArray& line : BuildTicket(ts, TicketCode{pin, 30, clock.now().date()})) {
            expected += line + "\r\n";
        }
        expected += "\r\n\r\n\f\r";
        EXPECT_EQ(job, expected);
    }
    EXPECT_EQ(pins.size(), 10);
    runtime.close();
}
