// Prints a ticket through a private CUPS scheduler whose raw queue sends the
// job to a loopback listener standing in for the ticket printer.

#include "platform/linux/CupsPrinting.h"
#include "server/PinTestPrinters.h"
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

namespace {

class NoDialogs final : public OperatorDialogs {
public:
    QStringList texts;
    void messageBox(const QString& text, const QString&, MessageIcon) override { texts << text; }
    std::optional<QString> pickFile(const QString&, const QString&) override { return {}; }
};

bool WriteText(const QString& path, const QString& text) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) == text.toUtf8().size();
}

QString Tail(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(f.readAll().right(2000));
}

// A scheduler of the test's own, in its own folder, listening on its own
// socket only; stopped when the object goes away.
class PrivateCups {
public:
    QString start(const QString& root) {
        const QString cupsd =
            QStandardPaths::findExecutable("cupsd", {"/usr/sbin", "/sbin", "/usr/local/sbin"});
        if (cupsd.isEmpty()) {
            return "cupsd not installed";
        }
        root_ = root;
        QFile::setPermissions(root, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                        QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                        QFile::ExeOther);
        for (const char* sub : {"spool", "spool/tmp", "cache", "state", "log", "ppd"}) {
            QDir().mkpath(root + "/" + sub);
        }
        socket_ = root + "/cups.sock";
        const QString conf = QStringLiteral("Listen %1\n"
                                            "LogLevel warn\n"
                                            "Browsing Off\n"
                                            "DefaultAuthType None\n"
                                            "WebInterface No\n"
                                            "<Location />\n  Order allow,deny\n  Allow all\n"
                                            "</Location>\n"
                                            "<Policy default>\n  <Limit All>\n"
                                            "    Order deny,allow\n  </Limit>\n</Policy>\n")
                                 .arg(socket_);
        const QString files =
            QStringLiteral("ServerRoot %1\nRequestRoot %1/spool\n"
                           "CacheDir %1/cache\nStateDir %1/state\n"
                           "ErrorLog %1/log/error_log\nAccessLog %1/log/access_log\n"
                           "PageLog %1/log/page_log\nTempDir %1/spool/tmp\n"
                           "Sandboxing Relaxed\n")
                .arg(root);
        if (!WriteText(root + "/cupsd.conf", conf) ||
            !WriteText(root + "/cups-files.conf", files)) {
            return "cannot write the configuration";
        }
        proc_.setProcessChannelMode(QProcess::MergedChannels);
        proc_.start(cupsd, {"-f", "-c", root + "/cupsd.conf", "-s", root + "/cups-files.conf"});
        if (!proc_.waitForStarted(5000)) {
            return "cupsd did not start";
        }
        const bool up = QTest::qWaitFor(
            [&] {
                if (proc_.state() != QProcess::Running) {
                    return true;
                }
                QLocalSocket probe;
                probe.connectToServer(socket_);
                return probe.waitForConnected(100);
            },
            10000);
        if (!up || proc_.state() != QProcess::Running) {
            return "cupsd did not come up: " + QString::fromUtf8(proc_.readAll()) +
                   Tail(root + "/log/error_log");
        }
        return {};
    }

    QString socket() const { return socket_; }
    QString errorLog() const { return Tail(root_ + "/log/error_log"); }

    ~PrivateCups() {
        if (proc_.state() != QProcess::NotRunning) {
            proc_.terminate();
            if (!proc_.waitForFinished(5000)) {
                proc_.kill();
                proc_.waitForFinished(2000);
            }
        }
    }

private:
    QProcess proc_;
    QString root_, socket_;
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
