#include "platform/Clock.h"

#include "platform/fake/FakeClock.h"

#include <QDateTime>
#include <gtest/gtest.h>

using namespace tarvina::platform;
using tarvina::common::DateTime;

TEST(FakeClock, MovesOnlyWhenTold) {
    FakeClock c(DateTime::FromParts(2024, 5, 1, 23, 59, 30));
    const qint64 steady = c.steadyMs();
    EXPECT_EQ(c.now(), DateTime::FromParts(2024, 5, 1, 23, 59, 30));
    c.advanceSeconds(45);
    EXPECT_EQ(c.now(), DateTime::FromParts(2024, 5, 2, 0, 0, 15));
    EXPECT_EQ(c.steadyMs() - steady, 45000);
    c.advanceMs(500);
    EXPECT_EQ(c.now().msec(), 500);
    // Setting the wall clock back does not move the steady clock back.
    c.set(DateTime::FromParts(2024, 5, 1));
    EXPECT_EQ(c.steadyMs() - steady, 45500);
    c.advanceMinutes(2);
    EXPECT_EQ(c.now(), DateTime::FromParts(2024, 5, 1, 0, 2));
}

TEST(RealClock, ReadsLocalTime) {
    RealClock c;
    const QDateTime before = QDateTime::currentDateTime();
    const DateTime now = c.now();
    // Same instant within a generous margin, in local time.
    EXPECT_LE(std::llabs(DateTime::FromQDateTime(before).msecsTo(now)), 60000);
    const qint64 a = c.steadyMs();
    EXPECT_GE(c.steadyMs(), a);
}
