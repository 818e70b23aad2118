// The two programs driven from outside only: their files written and read by
// independent tools (Python's dbf), their sockets spoken to as a station and
// as a cashier would. Nothing of the programs' own libraries is linked.

#include "simulator/ReportedPort.h"
#include "simulator/StationSim.h"
#include "support/FakeCashier.h"
#include "support/Puesto.h"
#include "support/TempDir.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

using tarvina::sim::StationSim;
using tarvina::test::FakeCashier;
using tarvina::test::Puesto;

void WriteText(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(text);
}

// Runs a Python script (from a string) with the system interpreter; its
// standard output, or the failure with everything it printed.
QByteArray Python(const QString& dir, const QByteArray& script, const QStringList& args, bool* ok) {
    const QString file = dir + "/script.py";
    WriteText(file, script);
    QProcess p;
    p.start("/usr/bin/python3", QStringList{file} + args);
    *ok = p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    return p.readAllStandardOutput() + p.readAllStandardError();
}

// Days since 1899-12-30 in local time, the programs' date-time numbers.
double DaysOf(const QDateTime& t) {
    return QDate(1899, 12, 30).daysTo(t.date()) + t.time().msecsSinceStartOfDay() / 86400000.0;
}

// A program of build/bin run with its own folders, as its operator would.
class Program {
public:
    explicit Program(const char* name) : binary_(QStringLiteral(TARVINA_TEST_BIN_DIR "/") + name) {}
    ~Program() {
        if (proc_.state() != QProcess::NotRunning) {
            proc_.kill();
            proc_.waitForFinished(5000);
        }
    }
    bool exists() const { return QFileInfo(binary_).isExecutable(); }
    void start(const QString& home, const QString& registry, quint16 port) {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("QT_QPA_PLATFORM", "offscreen");
        e.insert("TARVINA_HOME", home);
        e.insert("TARVINA_REGISTRY", registry);
        e.insert("TARVINA_PORT", QString::number(port));
        proc_.setProcessEnvironment(e);
        proc_.setWorkingDirectory(home);
        proc_.setProcessChannelMode(QProcess::MergedChannels);
        // What a run before printed is not this run's.
        proc_.readAll();
        proc_.start(binary_, {});
        ASSERT_TRUE(proc_.waitForStarted(10000));
    }
    // The port taquilla reported once listening (started with port 0); 0
    // when it ended or never did.
    quint16 reportedPort(int timeoutMs) { return tarvina::sim::WaitReportedPort(proc_, timeoutMs); }
    // SIGTERM is how the system ends either program; it must close in order.
    void terminate() {
        proc_.terminate();
        ASSERT_TRUE(proc_.waitForFinished(30000)) << output();
        EXPECT_EQ(proc_.exitStatus(), QProcess::NormalExit) << output();
        EXPECT_EQ(proc_.exitCode(), 0) << output();
    }
    std::string output() { return proc_.readAll().toStdString(); }

private:
    QString binary_;
    QProcess proc_;
};

// ---------------------------------------------------------------------------
// taquilla in code mode, a station typing codes.

const char* kMakeCodes = R"PY(
import sys, dbf, datetime
t = dbf.Table(sys.argv[1], 'PIN C(6); SALDO N(9,0); CFECHA D; CHORA C(8); FECHA D; HORA C(8); '
              'MAC C(17); EQUIPO C(64)', dbf_type='db3')
t.open(dbf.READ_WRITE)
for pin, saldo in (('A1B2C3', 30), ('0F0F0F', 60)):
    t.append((pin, saldo, None, '', datetime.date(2024, 5, 1), '10:00:00', '', ''))
t.close()
)PY";

// One line per row, deleted mark first; empty numbers and dates as "-".
const char* kDumpTable = R"PY(
import sys, dbf
t = dbf.Table(sys.argv[1]); t.open(dbf.READ_ONLY)
v = lambda x: '-' if x is None else (x.strftime('%Y%m%d') if hasattr(x, 'strftime') else str(x).rstrip())
for r in t:
    print('|'.join([('*' if dbf.is_deleted(r) else '.')] + [v(x) for x in r]))
)PY";

// The row count of a DBF header, read while the program may be writing.
quint32 RowCount(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray head = f.read(8);
    return head.size() == 8 ? qFromLittleEndian<quint32>(head.constData() + 4) : 0;
}

class BlackboxTaquilla : public ::testing::Test {
protected:
    void SetUp() override {
        if (!taquilla.exists())
            GTEST_SKIP() << "taquilla is not built";
    }
    // The listener is up once taquilla reports its port.
    bool waitListening() {
        port = taquilla.reportedPort(60000);
        return port != 0;
    }
    static QByteArray lastWith(const StationSim& sim, const QByteArray& prefix) {
        const QList<QByteArray> lines = sim.lines();
        for (auto it = lines.crbegin(); it != lines.crend(); ++it)
            if (it->startsWith(prefix))
                return *it;
        return {};
    }

    tarvina::test::TempDir home, registry, scratch;
    Program taquilla{"taquilla"};
    quint16 port = 0;
};

TEST_F(BlackboxTaquilla, TypedCodeGrantsItsBalanceAndItsUseIsRecorded) {
    bool ok = false;
    const QString codes = home.path() + "/data/CajaPIN.dbf";
    QDir().mkpath(home.path() + "/data");
    const QByteArray made = Python(scratch.path(), kMakeCodes, {codes}, &ok);
    ASSERT_TRUE(ok) << made.toStdString();
    WriteText(registry.path() + "/user.reg",
              "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Velt\\Tarvina]\n"
              "\"ServiceMode\"=dword:00000001\n");
    taquilla.start(home.path(), registry.path(), 0);
    ASSERT_TRUE(waitListening()) << taquilla.output();

    StationSim::Config c;
    c.name = "PC1";
    c.mac = "00-11-22-33-44-55";
    c.localAddress = "127.0.0.2"; // one address per computer, as on a real network
    StationSim pc1(c);
    pc1.connectTo("127.0.0.1", port);
    ASSERT_TRUE(pc1.waitConnected(5000));
    // The first report is answered once the station is bound; the station
    // learns the code mode from the same refresh.
    ASSERT_TRUE(pc1.waitForLine("0A", 10000)) << pc1.lines().join('\n').toStdString();
    EXPECT_EQ(lastWith(pc1, "40"), "401");
    // Typed at once: the connection's own lock report may still wait in the
    // server's queue, and must not end the use this code begins.
    pc1.sendLine("R38A1B2C3");
    ASSERT_TRUE(pc1.waitForLine("39", 10000));
    EXPECT_EQ(lastWith(pc1, "39"), "391A1B2C3");
    ASSERT_TRUE(pc1.waitForLine("04", 5000));
    EXPECT_EQ(lastWith(pc1, "04"), "0430,<Gen>,");

    // The station starts the use and says so, as a real one does.
    const QDateTime started = QDateTime::currentDateTime();
    pc1.config().state = 2;
    pc1.config().user = "<Gen>";
    pc1.config().pin = "A1B2C3";
    pc1.config().timeLeft = QByteArray::number(30.0 / 1440, 'g', 15);
    pc1.config().start = QByteArray::number(DaysOf(started), 'g', 15);
    pc1.sendStatusReport();

    // Another station: an unknown code, an empty one, and the code in use.
    c.name = "PC2";
    c.mac = "00-11-22-33-44-66";
    c.localAddress = "127.0.0.3";
    StationSim pc2(c);
    pc2.connectTo("127.0.0.1", port);
    ASSERT_TRUE(pc2.waitForLine("0A", 10000));
    for (const QByteArray& code : {QByteArray("ZZZZZZ"), QByteArray(), QByteArray("A1B2C3")}) {
        pc2.clearReceived();
        pc2.sendLine("R38" + code);
        ASSERT_TRUE(pc2.waitForLine("39", 10000)) << code.toStdString();
        EXPECT_EQ(lastWith(pc2, "39"), "390" + code);
        EXPECT_EQ(pc2.count("04"), 0);
    }
    // Only the assignment is in the history while the use runs.
    const QString history = home.path() + "/data/CajaHPIN.dbf";
    EXPECT_EQ(RowCount(history), 1u);

    // The session ends at the station: the use is charged and the code returned.
    pc1.config().state = 1;
    pc1.config().user = "";
    pc1.config().timeLeft = "0";
    pc1.sendStatusReport();
    EXPECT_TRUE(StationSim::WaitFor([&] { return RowCount(history) >= 2; }, 30000))
        << "the use was not recorded";
    const int usedSeconds = int(started.secsTo(QDateTime::currentDateTime()));
    taquilla.terminate();

    const QByteArray rows = Python(scratch.path(), kDumpTable, {history}, &ok);
    ASSERT_TRUE(ok) << rows.toStdString();
    const QList<QByteArray> lines = rows.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2) << rows.toStdString() << taquilla.output();
    // PIN|ASIG|CONSUMO|CFECHA|CHORA|FECHA|HORA after the deleted mark.
    const QList<QByteArray> given = lines[0].split('|'), charged = lines[1].split('|');
    ASSERT_EQ(given.size(), 8);
    ASSERT_EQ(charged.size(), 8);
    const QByteArray today = QDate::currentDate().toString("yyyyMMdd").toLatin1();
    EXPECT_EQ(given.mid(0, 4), QList<QByteArray>({".", "A1B2C3", "30", "-"}));
    EXPECT_EQ(given[4], today);
    EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$").match(given[5]).hasMatch());
    EXPECT_EQ(charged.mid(0, 3), QList<QByteArray>({".", "A1B2C3", "-"}));
    // A started minute is charged once 0.4 of it has passed: these few
    // seconds of use (under 24 s) cost nothing, a slow machine one minute.
    const int used = charged[3].toInt();
    EXPECT_EQ(used, usedSeconds < 20 ? 0 : used) << usedSeconds << " s";
    EXPECT_LE(used, 1);
    EXPECT_EQ(charged.mid(4, 2), given.mid(4, 2)); // the use's start, not the row's
    EXPECT_EQ(charged[6], today);

    // The code is back, less what was charged, free for another use; the
    // computer that used it last stays named.
    const QByteArray table = Python(scratch.path(), kDumpTable, {codes}, &ok);
    ASSERT_TRUE(ok) << table.toStdString();
    EXPECT_EQ(table, ".|A1B2C3|" + QByteArray::number(30 - used) +
                         "|-||20240501|10:00:00||PC1\n"
                         ".|0F0F0F|60|-||20240501|10:00:00||\n");
}

// ---------------------------------------------------------------------------
// puesto against a cashier played by the test.

// "R02" + state digit, then the comma fields from the sixth character.
QList<QByteArray> ReportFields(const QByteArray& line) {
    return line.size() >= 5 ? line.mid(5).split(',') : QList<QByteArray>{};
}

class BlackboxPuesto : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Puesto::Built())
            GTEST_SKIP() << "puesto is not built";
        ASSERT_NE(cashier.port(), 0);
    }
    void startAndConnect() {
        ASSERT_TRUE(puesto.start(cashier.port()));
        ASSERT_TRUE(cashier.accept(30000)) << puesto.output();
    }
    // SIGTERM is how the system ends it; it must close in order.
    void terminate() {
        ASSERT_TRUE(puesto.stop(30000)) << puesto.output();
        EXPECT_EQ(puesto.process.exitStatus(), QProcess::NormalExit) << puesto.output();
        EXPECT_EQ(puesto.process.exitCode(), 0) << puesto.output();
    }

    FakeCashier cashier{5000};
    Puesto puesto;
};

TEST_F(BlackboxPuesto, AnswersTheCashiersQueries) {
    startAndConnect();
    cashier.send("48");
    const QByteArray mac = cashier.line("R48");
    EXPECT_TRUE(QRegularExpression("^R48(([0-9A-F]{2}-){5}[0-9A-F]{2}|mac not found)$")
                    .match(QString::fromLatin1(mac))
                    .hasMatch())
        << mac.toStdString();
    cashier.send("01");
    const QByteArray name = cashier.line("R01").mid(3);
    EXPECT_FALSE(name.isEmpty());

    cashier.send("02");
    const QByteArray report = cashier.line("R02");
    ASSERT_TRUE(report.startsWith("R021,")) << report.toStdString(); // locked, no session
    const QList<QByteArray> f = ReportFields(report);
    ASSERT_EQ(f.size(), 6) << report.toStdString();
    EXPECT_EQ(f[0], "");  // no user
    EXPECT_EQ(f[1], "0"); // no time left
    EXPECT_EQ(f[4], name);
    EXPECT_TRUE(QRegularExpression("^V \\d+\\.\\d+ \\(B \\d+\\.\\d+\\)$")
                    .match(QString::fromLatin1(f[5]))
                    .hasMatch())
        << f[5].toStdString();

    cashier.send("41");
    EXPECT_EQ(cashier.line("R41"), "R41"); // holds no code
    cashier.send("43");
    EXPECT_EQ(cashier.line("R43"), "R43FF"); // opaque lock until told otherwise
    cashier.send("49C0FFEE");
    EXPECT_EQ(cashier.line("R49"), "R49C0FFEE");
    cashier.send("41");
    EXPECT_EQ(cashier.line("R41"), "R41C0FFEE");

    // The exception log goes up whole: its line count, then its lines.
    cashier.send("51");
    EXPECT_EQ(cashier.line("R51"), "R51");
    const QByteArray count = cashier.raw(4);
    ASSERT_EQ(count.size(), 4);
    const qint32 n = qFromBigEndian<qint32>(count.constData());
    QList<QByteArray> sent;
    for (qint32 i = 0; i < n; ++i)
        sent << cashier.line("");
    QFile log(puesto.home() + "/CliExcept.log");
    QList<QByteArray> kept;
    if (log.open(QIODevice::ReadOnly)) {
        kept = log.readAll().split('\n');
        if (!kept.isEmpty() && kept.last().isEmpty())
            kept.removeLast();
        for (QByteArray& l : kept)
            if (l.endsWith('\r'))
                l.chop(1);
    }
    EXPECT_EQ(sent, kept);
    // Still in step after the binary count.
    cashier.send("41");
    EXPECT_EQ(cashier.line("R41"), "R41C0FFEE");
    terminate();
}

// 384 bytes of a running session, laid out as the station saves it.
QByteArray SessionBytes(double start, const QByteArray& minutes, const QByteArray& user,
                        quint8 state, const QByteArray& tag) {
    QByteArray b(384, '\0');
    auto text = [&](int at, const QByteArray& t) {
        b[at] = char(t.size());
        b.replace(at + 1, t.size(), t);
    };
    const double written = DaysOf(QDateTime::currentDateTime());
    qToLittleEndian(written, b.data() + 8);
    qToLittleEndian(start, b.data() + 16);
    text(24, minutes);
    text(57, user);
    b[313] = char(state);
    text(314, QByteArray());
    text(347, tag);
    return b;
}

TEST_F(BlackboxPuesto, ResumesASavedSessionAndLocksWhenTold) {
    // Started three minutes ago for thirty: a restart inside the paid period.
    const QDateTime now = QDateTime::currentDateTime();
    const double start = DaysOf(now.addSecs(-180));
    WriteText(puesto.home() + "/Data/session.dta", SessionBytes(start, "30", "Ana", 2, "-1"));
    startAndConnect();

    cashier.send("02");
    const QByteArray running = cashier.line("R02", 10000);
    ASSERT_TRUE(running.startsWith("R022,")) << running.toStdString();
    const QList<QByteArray> f = ReportFields(running);
    ASSERT_EQ(f.size(), 6) << running.toStdString();
    EXPECT_EQ(f[0], "Ana");
    const double left = f[1].toDouble() * 1440; // minutes
    EXPECT_GT(left, 25.0) << running.toStdString();
    EXPECT_LT(left, 27.5) << running.toStdString();
    EXPECT_NEAR(f[2].toDouble(), start, 1.0 / 86400) << running.toStdString();
    EXPECT_EQ(f[3], "-1");

    // The cashier locks: the station reports itself locked on its own.
    cashier.send("08");
    const QByteArray locked = cashier.line("R021", 3000);
    EXPECT_TRUE(locked.startsWith("R021,")) << "no locked report after 08";
    cashier.send("02");
    EXPECT_TRUE(cashier.line("R02").startsWith("R021,"));
    terminate();
}

} // namespace
