#include "platform/linux/StationGuardian.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>

using namespace tarvina;
using namespace tarvina::platform;

namespace {

// A stand-in station: takes the lock the way puesto's lock file records
// its holder (pid, program, host) and stays.
const QByteArray kStation = "#!/bin/sh\n"
                            "printf '%s\\nfake\\n%s\\n' $$ \"$(hostname)\" > \"$1\"\n"
                            "exec sleep 30\n";

class GuardianTest : public ::testing::Test {
protected:
    test::TempDir dir;
    QString lock = dir.file("ZuClientMutex.lock");
    QList<pid_t> toKill;
    QElapsedTimer clock;

    void SetUp() override { clock.start(); }
    void TearDown() override {
        for (pid_t p : toKill)
            ::kill(p, SIGKILL);
    }
    QString script(const char* name, const QByteArray& body) {
        const QString path = dir.file(QString::fromLatin1(name));
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(body);
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }
    StationGuardian::Options options(const QString& program) {
        StationGuardian::Options o;
        o.program = program;
        o.arguments = {lock};
        o.lockFile = lock;
        return o;
    }
    // Ticks until the lock has a live holder other than `notThis`.
    pid_t waitForHolder(StationGuardian& g, pid_t notThis = 0) {
        pid_t h = 0;
        test::WaitUntil([&] {
            g.tick(clock.elapsed());
            h = StationGuardian::LockHolder(lock);
            return h > 0 && h != notThis;
        });
        if (h <= 0 || h == notThis)
            return 0;
        toKill << h;
        return h;
    }
};

TEST_F(GuardianTest, AKilledStationIsStartedAgainAndALiveOneIsLeftAlone) {
    StationGuardian g(options(script("station", kStation)));
    const pid_t first = waitForHolder(g);
    ASSERT_GT(first, 0);
    EXPECT_EQ(g.starts(), 1);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(g.tick(clock.elapsed()), StationGuardian::Step::Watching);
    EXPECT_EQ(g.starts(), 1);

    ::kill(first, SIGKILL);
    const pid_t second = waitForHolder(g, first);
    EXPECT_GT(second, 0);
    EXPECT_EQ(g.starts(), 2);
}

TEST_F(GuardianTest, AStationStartedElsewhereIsWatchedNotDuplicated) {
    QProcess other;
    other.start(script("station", kStation), {lock});
    ASSERT_TRUE(other.waitForStarted());
    ASSERT_TRUE(test::WaitUntil([&] { return StationGuardian::LockHolder(lock) != 0; }))
        << "the station started elsewhere never took the lock";
    ASSERT_EQ(StationGuardian::LockHolder(lock), other.processId());
    StationGuardian g(options(script("station2", kStation)));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(g.tick(clock.elapsed()), StationGuardian::Step::Watching);
    EXPECT_EQ(g.starts(), 0);
    other.kill();
    other.waitForFinished();
    EXPECT_GT(waitForHolder(g), 0);
}

TEST_F(GuardianTest, AProgramThatEndsAtOnceMakesTheGuardianGiveUp) {
    StationGuardian g(options(script("broken", "#!/bin/sh\nexit 1\n")));
    // The guardian's time stands still here: all five starts fall within its
    // window however slowly the machine runs them.
    StationGuardian::Step step = StationGuardian::Step::Watching;
    EXPECT_TRUE(test::WaitUntil([&] {
        step = g.tick(0);
        return step == StationGuardian::Step::GiveUp;
    })) << "starts: "
        << g.starts();
    EXPECT_EQ(g.starts(), 5);
}

TEST_F(GuardianTest, AStartThatNeverTakesTheLockIsEndedAfterItsGrace) {
    StationGuardian::Options o = options(script("hung", "#!/bin/sh\nexec sleep 30\n"));
    o.startGraceMs = 200;
    StationGuardian g(o);
    // The guardian keeps the time it is given: a start at 1000 with 200 ms of
    // grace is ended at 1200, not a millisecond before.
    ASSERT_EQ(g.tick(1000), StationGuardian::Step::Started);
    const pid_t hung = g.child();
    toKill << hung;
    EXPECT_EQ(g.tick(1199), StationGuardian::Step::Watching) << "still within its grace";
    EXPECT_EQ(g.child(), hung);
    EXPECT_EQ(g.tick(1200), StationGuardian::Step::Started);
    EXPECT_NE(g.child(), hung);
    toKill << g.child();
    EXPECT_NE(::kill(hung, 0), 0) << "the hung start was ended and reaped";
}

TEST_F(GuardianTest, LockHolderIgnoresMissingDeadAndGarbledLocks) {
    EXPECT_EQ(StationGuardian::LockHolder(lock), 0);
    QFile f(lock);
    f.open(QIODevice::WriteOnly);
    f.write("not a pid\nx\ny\n");
    f.close();
    EXPECT_EQ(StationGuardian::LockHolder(lock), 0);
    // A process that ended and was reaped.
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    f.open(QIODevice::WriteOnly);
    f.write(QByteArray::number(gone) + "\nfake\nhost\n");
    f.close();
    EXPECT_EQ(StationGuardian::LockHolder(lock), 0);
    // A zombie (ended, not reaped) is not a live station either.
    const pid_t zombie = ::fork();
    if (zombie == 0)
        ::_exit(0);
    // Waits for its end without reaping it: from here on it is a zombie.
    siginfo_t ended{};
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(zombie), &ended, WEXITED | WNOWAIT), 0);
    f.open(QIODevice::WriteOnly);
    f.write(QByteArray::number(zombie) + "\nfake\nhost\n");
    f.close();
    EXPECT_EQ(StationGuardian::LockHolder(lock), 0);
    ::waitpid(zombie, nullptr, 0);
}

} // namespace
