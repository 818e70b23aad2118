// The guardian unit as systemd would run it (its own ExecStart, with the
// build's programs): a station killed outright is back within two seconds
// with its session; a station whose guardian was stopped, as the orderly
// close by password does, stays closed.
#include "simulator/StationSim.h"
#include "support/FakeCashier.h"
#include "support/Puesto.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QRegularExpression>
#include <QtEndian>
#include <csignal>
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

double DaysOf(const QDateTime& t) {
    return QDate(1899, 12, 30).daysTo(t.date()) + t.time().msecsSinceStartOfDay() / 86400000.0;
}

// 384 bytes of a running session, laid out as the station saves it.
QByteArray SessionBytes(double start, const QByteArray& minutes, const QByteArray& user) {
    QByteArray b(384, '\0');
    auto text = [&](int at, const QByteArray& t) {
        b[at] = char(t.size());
        b.replace(at + 1, t.size(), t);
    };
    qToLittleEndian(DaysOf(QDateTime::currentDateTime()), b.data() + 8);
    qToLittleEndian(start, b.data() + 16);
    text(24, minutes);
    text(57, user);
    b[313] = char(2);
    text(314, QByteArray());
    text(347, "-1");
    return b;
}

// The unit's settings, read from the file the package installs.
struct Unit {
    QStringList execStart;
    QMap<QString, QString> service;
};
Unit ReadUnit() {
    Unit u;
    QFile f(QStringLiteral(TARVINA_SOURCE_DIR "/data/systemd/tarvina-guardian.service"));
    if (!f.open(QIODevice::ReadOnly))
        return u;
    bool inService = false;
    for (const QByteArray& raw : f.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(u'['))
            inService = line == u"[Service]";
        const int eq = line.indexOf(u'=');
        if (!inService || line.startsWith(u'#') || eq < 0)
            continue;
        u.service.insert(line.left(eq), line.mid(eq + 1));
    }
    u.execStart = u.service.value(QStringLiteral("ExecStart")).split(u' ', Qt::SkipEmptyParts);
    return u;
}

qint64 Holder(const QString& lock) {
    QLockFile l(lock);
    qint64 pid = 0;
    QString host, app;
    if (!QFileInfo::exists(lock) || !l.getLockInfo(&pid, &host, &app) || pid <= 0 ||
        ::kill(static_cast<pid_t>(pid), 0) != 0)
        return 0;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly) && stat.readAll().contains(") Z "))
        return 0;
    return pid;
}

// Processes (but zombies) started with this station's home: the guardian,
// the stations it started, anything either left behind.
int ProcessesOf(const QString& home) {
    const QByteArray mark = "TARVINA_HOME=" + home.toLocal8Bit() + '\0';
    int n = 0;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
        if (environ.open(QIODevice::ReadOnly) && ('\0' + environ.readAll()).contains('\0' + mark))
            ++n;
    }
    return n;
}

class GuardianUnit : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Puesto::Built() || !Puesto::Built("tarvina-guardian"))
            GTEST_SKIP() << "puesto or tarvina-guardian is not built";
        const double start = DaysOf(QDateTime::currentDateTime().addSecs(-120));
        WriteText(service.home() + "/Data/session.dta", SessionBytes(start, "30", "Ana"));
    }
    void TearDown() override {
        if (const qint64 p = Holder(lock()))
            ::kill(static_cast<pid_t>(p), SIGKILL);
    }
    QString lock() const { return service.home() + "/ZuClientMutex.lock"; }

    void startGuardian() {
        const Unit unit = ReadUnit();
        ASSERT_GE(unit.execStart.size(), 3);
        QStringList args = unit.execStart.mid(1);
        for (QString& a : args)
            if (a == u"/usr/bin/puesto")
                a = Puesto::Binary();
        ASSERT_TRUE(unit.execStart[0].endsWith(u"/tarvina-guardian"));
        ASSERT_TRUE(args.contains(Puesto::Binary())) << "ExecStart names /usr/bin/puesto";
        ASSERT_TRUE(service.start(cashier.port(), {}, "tarvina-guardian", args));
    }
    // The station's answer to "02" on a new connection: its state report.
    QByteArray reportOfNextStation() {
        if (!cashier.accept())
            return {};
        cashier.send("02");
        return cashier.line("R02", 10000);
    }

    FakeCashier cashier;
    Puesto service; // the guardian, which runs puesto
    QProcess& guardian = service.process;
};

TEST_F(GuardianUnit, TheUnitRestartsTheGuardianAndKeepsItsGiveUpFinal) {
    const Unit unit = ReadUnit();
    EXPECT_EQ(unit.service.value("Restart"), "always");
    EXPECT_LE(unit.service.value("RestartSec").toInt(), 1);
    EXPECT_EQ(unit.service.value("KillMode"), "process");
    EXPECT_EQ(unit.service.value("RestartPreventExitStatus"), "3");
}

TEST_F(GuardianUnit, AKilledStationIsBackWithinTwoSecondsWithItsSession) {
    startGuardian();
    qint64 first = 0;
    ASSERT_TRUE(StationSim::WaitFor([&] { return (first = Holder(lock())) > 0; }, 30000))
        << guardian.readAll().toStdString();
    EXPECT_TRUE(reportOfNextStation().startsWith("R022,Ana,"));

    ::kill(static_cast<pid_t>(first), SIGKILL);
    QElapsedTimer t;
    t.start();
    qint64 second = 0;
    ASSERT_TRUE(StationSim::WaitFor(
        [&] { return (second = Holder(lock())) > 0 && second != first; }, 10000));
    EXPECT_LT(t.elapsed(), 2000) << "a new station took " << t.elapsed() << " ms";
    const QByteArray report = reportOfNextStation();
    EXPECT_TRUE(report.startsWith("R022,Ana,")) << report.toStdString();
}

TEST_F(GuardianUnit, AStoppedGuardianLeavesAClosedStationClosed) {
    startGuardian();
    qint64 station = 0;
    ASSERT_TRUE(StationSim::WaitFor([&] { return (station = Holder(lock())) > 0; }, 30000));
    // systemctl stop: SIGTERM to the guardian alone (KillMode=process).
    guardian.terminate();
    ASSERT_TRUE(guardian.waitForFinished(5000));
    EXPECT_EQ(guardian.exitCode(), 0);
    EXPECT_EQ(Holder(lock()), station) << "stopping the guardian does not end the station";
    ::kill(static_cast<pid_t>(station), SIGKILL);
    ASSERT_TRUE(StationSim::WaitFor([&] { return Holder(lock()) == 0; }, 30000))
        << "the killed station still holds its lock";
    // Gone, and the guardian that starts stations ended before: nothing is
    // left that could start it again, not even a start on its way.
    EXPECT_EQ(Holder(lock()), 0) << "the station was started again";
    EXPECT_EQ(ProcessesOf(service.home()), 0) << guardian.readAll().toStdString();
}

} // namespace
