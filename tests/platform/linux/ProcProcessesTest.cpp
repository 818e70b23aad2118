// The program behind a process id, read from a /proc of the test's own
// making and from the real one.
#include "platform/linux/ProcProcesses.h"

#include "support/TempDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using tarvina::platform::ProcProcesses;

TEST(ProcProcesses, TheLinkFirstThenTheShortNameNothingForNoProcess) {
    tarvina::test::TempDir root;
    QDir(root.path()).mkpath(QStringLiteral("41"));
    QDir(root.path()).mkpath(QStringLiteral("42"));
    ASSERT_TRUE(
        QFile::link(QStringLiteral("/usr/bin/xmessage"), root.file(QStringLiteral("41/exe"))));
    QFile comm(root.file(QStringLiteral("42/comm")));
    ASSERT_TRUE(comm.open(QIODevice::WriteOnly));
    comm.write("kworker/0:1\n");
    comm.close();
    ProcProcesses p(root.path());
    EXPECT_EQ(p.executable(41), QStringLiteral("/usr/bin/xmessage"));
    // No readable link (another user's process): the kernel's short name.
    EXPECT_EQ(p.executable(42), QStringLiteral("kworker/0:1"));
    EXPECT_TRUE(p.executable(43).isEmpty());
    // Numbers no process can have, as a window property may claim them.
    EXPECT_TRUE(p.executable(0).isEmpty());
    EXPECT_TRUE(p.executable(-41).isEmpty());
    EXPECT_TRUE(p.executable(qint64(1) << 40).isEmpty());
}

TEST(ProcProcesses, ThisProgramIsItself) {
    ProcProcesses p;
    EXPECT_EQ(p.self(), QCoreApplication::applicationPid());
    EXPECT_EQ(QFileInfo(p.executable(p.self())).canonicalFilePath(),
              QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath());
}
