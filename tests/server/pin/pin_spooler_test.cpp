// Prints a ticket through a private CUPS scheduler whose raw queue sends the
// job to a loopback listener standing in for the ticket printer.

#include "platform/linux/CupsPrinting.h"
#include "server/PinTestPrinters.h"
#include "server/PrivateCups.h"
#include "server/pin/OperatorDialogs.h"
#include "server/pin/Ticket.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::server;
using tarvina::test::PrivateCups;

namespace {

class NoDialogs final : public OperatorDialogs {
public:
    QStringList texts;
    void messageBox(const QString& text, const QString&, MessageIcon) override { texts << text; }
    std::optional<QString> pickFile(const QString&, const QString&) override { return {}; }
};

} // namespace

TEST(PinSpooler, TicketBytesReachThePrinterThroughCups) {
    test::TempDir dir;
    ASSERT_TRUE(dir.isValid());
    PrivateCups cups;
    const QString failure = cups.start(dir.path());
    if (!failure.isEmpty()) {
        GTEST_SKIP() << "CUPS cannot run here: " << failure.toStdString();
    }
    const QByteArray oldServer = qgetenv("CUPS_SERVER");
    qputenv("CUPS_SERVER", cups.socket().toUtf8());

    QTcpServer printer;
    ASSERT_TRUE(printer.listen(QHostAddress::LocalHost, 0));
    const QString lpadmin = QStandardPaths::findExecutable("lpadmin", {"/usr/sbin", "/usr/bin"});
    if (lpadmin.isEmpty()) {
        GTEST_SKIP() << "lpadmin not installed";
    }
    QProcess admin;
    admin.setProcessChannelMode(QProcess::MergedChannels);
    admin.start(lpadmin, {"-p", "Tarvina_Ticket", "-E", "-v",
                          QStringLiteral("socket://127.0.0.1:%1").arg(printer.serverPort())});
    ASSERT_TRUE(admin.waitForFinished(20000));
    ASSERT_EQ(admin.exitCode(), 0) << admin.readAll().toStdString();

    platform::CupsPrinting printing;
    const QStringList printers = printing.printerNames();
    ASSERT_TRUE(printers.contains("Tarvina_Ticket")) << printers.join(",").toStdString();

    TicketSettings s;
    s.rawMode = true;
    s.prnTicket = int(printers.indexOf("Tarvina_Ticket"));
    s.denominacion = QStringLiteral("Ciber Tarvina, C.A.");
    s.rif = QStringLiteral("J-30000000-1");
    s.pais = QStringLiteral("Venezuela");
    s.dir1 = QStringLiteral("Calle Ñandú 5");
    s.nLines = 3;
    const TicketCode code{QStringLiteral("7E0C41"), 60, QDate(2026, 1, 2)};
    NoDialogs dialogs;
    PrintTicket(printing, dialogs, s, code);
    EXPECT_TRUE(dialogs.texts.isEmpty());

    QByteArray expected = "\x0f\r";
    for (const QByteArray& line : BuildTicket(s, code)) {
        expected += line + "\r\n";
    }
    expected += "\r\n\r\n\r\n\f\r";

    QByteArray received;
    QTcpSocket* conn = nullptr;
    const bool done = QTest::qWaitFor(
        [&] {
            if (!conn && printer.hasPendingConnections()) {
                conn = printer.nextPendingConnection();
            }
            if (conn) {
                received += conn->readAll();
                if (conn->state() == QAbstractSocket::UnconnectedState) {
                    return true;
                }
            }
            return false;
        },
        60000);
    EXPECT_TRUE(done) << "printer connection never ended; " << cups.errorLog().toStdString();
    EXPECT_EQ(received, expected) << cups.errorLog().toStdString();
    EXPECT_TRUE(received.contains("Calle \xd1\x61nd\xfa 5")); // Windows-1252 on the wire

    // A printer the scheduler does not know cannot be opened.
    TRawPrint raw(printing);
    raw.printerName = "No_Such_Printer";
    EXPECT_FALSE(raw.OpenPrinter());

    if (oldServer.isNull()) {
        qunsetenv("CUPS_SERVER");
    } else {
        qputenv("CUPS_SERVER", oldServer);
    }
}
