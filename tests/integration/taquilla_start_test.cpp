// The real taquilla program started in an empty folder: it creates its code
// tables and the day's journal with their tags, and a signal ends it in
// order, so that the next start finds the indexes as they were.

#include "server/PinTestPrinters.h"
#include "simulator/StationSim.h"
#include "support/TempDir.h"
#include "xbase/TableEngine.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>
#include <gtest/gtest.h>

namespace {

constexpr int kStartMs = 60000;

std::string Path(const QString& p) {
    return QFile::encodeName(p).toStdString();
}

QStringList TagsOf(const QString& path) {
    tarvina::xbase::TableEngine t;
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
        port = tarvina::sim::FreeServerPort();
        ASSERT_NE(port, 0);
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
        e.insert("TARVINA_PORT", QString::number(port));
        proc.setProcessEnvironment(e);
        proc.setProcessChannelMode(QProcess::MergedChannels);
        proc.start(binary, {});
        ASSERT_TRUE(proc.waitForStarted(10000));
    }
    // The listener comes up after the tables and after the signal handlers,
    // so a connection accepted means the start-up is over.
    bool waitListening() {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < kStartMs && proc.state() == QProcess::Running) {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, port);
            if (s.waitForConnected(500)) {
                s.abort();
                return true;
            }
            QThread::msleep(100);
        }
        return false;
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

} // namespace
