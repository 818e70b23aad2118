#include "platform/linux/SingleInstance.h"

#include "support/TempDir.h"

#include <QFile>
#include <QSysInfo>
#include <QTest>
#include <gtest/gtest.h>

namespace tarvina::platform {
namespace {

TEST(SingleInstance, SecondStartAsksTheFirstToShow) {
    test::TempDir dir;
    SingleInstance first(dir.path(), QStringLiteral("ZEZuraRozed"));
    ASSERT_TRUE(first.acquire());
    int shows = 0;
    QObject::connect(&first, &SingleInstance::showRequested, [&] { ++shows; });
    SingleInstance second(dir.path(), QStringLiteral("ZEZuraRozed"));
    EXPECT_FALSE(second.acquire());
    EXPECT_TRUE(QTest::qWaitFor([&] { return shows == 1; }, 5000));
    // Another program folder, or the other program, is another instance.
    test::TempDir other;
    SingleInstance third(other.path(), QStringLiteral("ZEZuraRozed"));
    EXPECT_TRUE(third.acquire());
    SingleInstance station(dir.path(), QStringLiteral("ZuClientMutex"));
    EXPECT_TRUE(station.acquire());
}

// Both programs: a lock left by a process that is gone does not keep the
// next start out; a lock of a live process does.
TEST(SingleInstance, LocksOfDeadProcessesDoNotBlock) {
    for (const QString& name : {QStringLiteral("ZEZuraRozed"), QStringLiteral("ZuClientMutex")}) {
        test::TempDir dir;
        {
            QFile f(dir.file(name + QStringLiteral(".lock")));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("999999\nprograma\n" + QSysInfo::machineHostName().toUtf8() + "\n");
        }
        SingleInstance first(dir.path(), name);
        EXPECT_TRUE(first.acquire()) << name.toStdString();
        bool shown = false;
        QObject::connect(&first, &SingleInstance::showRequested, [&] { shown = true; });
        SingleInstance second(dir.path(), name);
        EXPECT_FALSE(second.acquire()) << name.toStdString();
        EXPECT_TRUE(QTest::qWaitFor([&] { return shown; }, 3000));
    }
}

} // namespace
} // namespace tarvina::platform
