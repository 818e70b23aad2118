// The real taquilla program started in an empty folder: it creates its code
// tables and the day's journal with their tags, and a signal ends it in
// order, so that the next start finds the indexes as they were.

#include "server/PinTestPrinters.h"
#include "simulator/ReportedPort.h"
#include "support/TempDir.h"
#include "xbase/PosixFileSystem.h"
#include "xbase/TableEngine.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpSocket>
#include <gtest/gtest.h>

namespace {

constexpr int kStartMs = 60000;

std::string Path(const QString& p) {
    return QFile::encodeName(p).toStdString();
}

QStringList TagsOf(const QString& path) {
    tarvina::xbase::TableEngine t(tarvina::xbase::RealFileSystem());
    t.Open(Path(path), false);
    QStringList out;
    for (const auto& tag : t.Tags()) {
        out << QString::fromStdString(tag.name + "|" + tag.keyExpr + "|" + tag.forExpr);
    }
    out.sort();
    return out;
}

class TaquillaStart : public ::testing::Test {
protected:
    void SetUp() override {
        // The programs are built beside the test programs.
        binary = QStringLiteral(TARVINA_TEST_BIN_DIR "/taquilla");
        if (!QFileInfo(binary).isExecutable()) {
            GTEST_SKIP() << "no taquilla binary at " << binary.toStdString();
        }
    }
    void TearDown() override {
        if (proc.state() != QProcess::NotRunning) {
            proc.kill();
            proc.waitForFinished(5000);
        }
    }

    void launch() {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("QT_QPA_PLATFORM", "offscreen");
        e.insert("TARVINA_HOME", home.path());
        e.insert("TARVINA_REGISTRY", registry.path());
        // The system chooses the port; taquilla reports it.
        e.insert("TARVINA_PORT", "0");
        proc.setProcessEnvironment(e);
        proc.setProcessChannelMode(QProcess::MergedChannels);
        // What the run before printed is not this run's port.
        proc.readAll();
        port = 0;
        proc.start(binary, {});
        ASSERT_TRUE(proc.waitForStarted(10000));
    }
    // The listener comes up after the tables and after the signal handlers,
    // so a reported port means the start-up is over; a station is accepted
    // on it.
    bool waitListening() {
        port = tarvina::sim::WaitReportedPort(proc, kStartMs);
        if (port == 0)
            return false;
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, port);
        return s.waitForConnected(30000);
    }
    void terminate() {
        proc.terminate(); // SIGTERM
        ASSERT_TRUE(proc.waitForFinished(30000)) << proc.readAll().toStdString();
        EXPECT_EQ(proc.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(proc.exitCode(), 0) << proc.readAll().toStdString();
    }
    // The journal of the day the program started (the test may cross midnight).
    QString journal() const {
        for (const QDate& d : {QDate::currentDate(), QDate::currentDate().addDays(-1)}) {
            const QString p = home.path() + "/report/" + d.toString("ddMMyyyy") + ".dbf";
            if (QFileInfo::exists(p)) {
                return p;
            }
        }
        return {};
    }

    tarvina::test::TempDir home, registry;
    QString binary;
    quint16 port = 0;
    QProcess proc;
};

TEST_F(TaquillaStart, CreatesItsTablesAndClosesInOrderOnASignal) {
    launch();
    ASSERT_TRUE(waitListening()) << proc.readAll().toStdString();
    const QString data = home.path() + "/data";
    for (const char* name : {"CajaPIN.dbf", "CajaPIN.cdx", "CajaHPIN.dbf", "CajaHPIN.cdx"}) {
        EXPECT_TRUE(QFileInfo::exists(data + "/" + name)) << name;
    }
    const QString day = journal();
    ASSERT_FALSE(day.isEmpty());
    EXPECT_TRUE(QFileInfo::exists(day.chopped(4) + ".cdx"));
    terminate();

    // A first start is no unclean close: the tags are those made at load.
    EXPECT_EQ(
        TagsOf(data + "/CajaPIN.dbf"),
        QStringList({"FECHOR|DTOS(FECHA)+ HORA|.not. deleted()",
                     "MAC|MAC|.not. deleted() .and. .not. EMPTY(MAC)", "PIN|PIN|.not. deleted()"}));
    EXPECT_EQ(TagsOf(data + "/CajaHPIN.dbf"),
              QStringList({"FECHOR|DTOS(FECHA)+ HORA|.not. deleted()",
                           "PINFECHOR|PIN + DTOS(FECHA)+ HORA|.not. deleted()",
                           "PIN|PIN|.not. deleted()"}));
    EXPECT_EQ(TagsOf(day), QStringList({"EQUIPO|EQUIPO|.not. deleted()",
                                        "MAC|MAC|.not. deleted() .and. .not. EMPTY(MAC)"}));

    // That close was in order: the next start leaves the indexes alone.
    const QByteArray codesIndex = [&] {
        QFile f(data + "/CajaPIN.cdx");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    const qint64 indexTime = QFileInfo(data + "/CajaPIN.cdx").lastModified().toMSecsSinceEpoch();
    launch();
    ASSERT_TRUE(waitListening()) << proc.readAll().toStdString();
    terminate();
    QFile f(data + "/CajaPIN.cdx");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), codesIndex);
    EXPECT_EQ(QFileInfo(data + "/CajaPIN.cdx").lastModified().toMSecsSinceEpoch(), indexTime);
}

// How tests and benchmarks read the port back from taquilla's output.
TEST(ReportedPort, TheFirstListeningLineGivesThePortAndNothingElseDoes) {
    using tarvina::sim::PortInOutput;
    EXPECT_EQ(PortInOutput("09:30:01 [Sistema]: Inicio\nEscuchando en el puerto 43121\n"
                           "Escuchando en el puerto 43122\n"),
              43121);
    EXPECT_EQ(PortInOutput("Escuchando en el puerto 1"), 1);
    EXPECT_EQ(PortInOutput("Escuchando en el puerto 65535\r\n"), 65535);
    // Not yet whole, or not a port.
    EXPECT_EQ(PortInOutput(""), 0);
    EXPECT_EQ(PortInOutput("Escuchando en el puerto "), 0);
    EXPECT_EQ(PortInOutput("Escuchando en el puerto x6046"), 0);
    EXPECT_EQ(PortInOutput("Escuchando en el puerto 0"), 0);
    EXPECT_EQ(PortInOutput("Escuchando en el puerto 65536"), 0);
    EXPECT_EQ(PortInOutput("Escuchando en el puerto 604600"), 0);
    EXPECT_EQ(PortInOutput("Escuchando en el puerto 99999999999999999999"), 0);
    EXPECT_EQ(PortInOutput("puerto 6046"), 0);
}

TEST(ReportedPort, AProgramThatEndsWithoutReportingGivesNoPortAtOnce) {
    QProcess quiet;
    quiet.setProcessChannelMode(QProcess::MergedChannels);
    quiet.start(QStringLiteral("/bin/sh"), {"-c", "echo Iniciando; exit 3"});
    ASSERT_TRUE(quiet.waitForStarted(10000));
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(tarvina::sim::WaitReportedPort(quiet, 60000), 0);
    EXPECT_LT(t.elapsed(), 30000);
    // Looked at, not taken.
    EXPECT_EQ(quiet.readAll(), "Iniciando\n");

    tarvina::test::TempDir dir;
    QProcess toFile;
    toFile.setStandardOutputFile(dir.path() + "/out.txt");
    toFile.start(QStringLiteral("/bin/sh"),
                 {"-c", "echo 'Escuchando en el puerto 7001'; exec sleep 30"});
    ASSERT_TRUE(toFile.waitForStarted(10000));
    EXPECT_EQ(tarvina::sim::WaitReportedPortInFile(dir.path() + "/out.txt", toFile, 30000), 7001);
    toFile.kill();
    toFile.waitForFinished(5000);
    EXPECT_EQ(tarvina::sim::WaitReportedPortInFile(dir.path() + "/none.txt", toFile, 60000), 0);
}

} // namespace
