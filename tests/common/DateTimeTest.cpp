#include "common/DateTime.h"

#include <gtest/gtest.h>

using tarvina::common::DateTime;
using tarvina::common::FormatDateTime;
using tarvina::common::FormatDuration;

namespace {
QString F(const char* fmt, const DateTime& dt) {
    return FormatDateTime(QString::fromUtf8(fmt), dt);
}
} // namespace

TEST(DateTime, DayNumbersMatchTheCalendar) {
    EXPECT_DOUBLE_EQ(DateTime::FromParts(1899, 12, 30).days(), 0.0);
    EXPECT_DOUBLE_EQ(DateTime::FromParts(1900, 1, 1).days(), 2.0);
    EXPECT_DOUBLE_EQ(DateTime::FromParts(2024, 1, 1).days(), 45292.0);
    EXPECT_DOUBLE_EQ(DateTime::FromParts(2024, 1, 1, 18, 0).days(), 45292.75);
    const DateTime d = DateTime::FromDays(45292.5);
    EXPECT_EQ(d.year(), 2024);
    EXPECT_EQ(d.month(), 1);
    EXPECT_EQ(d.day(), 1);
    EXPECT_EQ(d.hour(), 12);
    EXPECT_EQ(d.dayOfWeek(), 2); // a Monday, Sunday being 1
    EXPECT_FALSE(DateTime::FromParts(2023, 2, 29).isValid());
    EXPECT_FALSE(DateTime::FromParts(2023, 2, 1, 24).isValid());
}

TEST(DateTime, NegativeDaysKeepTheTimeOfDayAsAMagnitude) {
    // Before the epoch the integer part is the date and the fraction,
    // without its sign, is the time: -1.25 is the 29th at 06:00.
    const DateTime d = DateTime::FromDays(-1.25);
    EXPECT_EQ(d.date(), QDate(1899, 12, 29));
    EXPECT_EQ(d.time(), QTime(6, 0));
    EXPECT_DOUBLE_EQ(DateTime::FromParts(1899, 12, 29, 6).days(), -1.25);
    EXPECT_DOUBLE_EQ(DateTime::FromParts(1899, 12, 28, 18).days(), -2.75);
    // -0.5 truncates to day 0: the epoch day at noon.
    EXPECT_EQ(DateTime::FromDays(-0.5).date(), QDate(1899, 12, 30));
    EXPECT_EQ(DateTime::FromDays(-0.5).hour(), 12);
    // Arithmetic walks real time across the epoch, not the raw number.
    const DateTime later = d.addMinutes(19 * 60);
    EXPECT_EQ(later.date(), QDate(1899, 12, 30));
    EXPECT_EQ(later.hour(), 1);
    EXPECT_NEAR(later.days(), 1.0 / 24.0, 1e-12);
    EXPECT_EQ(d.minutesTo(later), 19 * 60);
    EXPECT_LT(d, later);
    // -1.75 is 18:00 of the same day as -1.25, so it is the later one.
    EXPECT_GT(DateTime::FromDays(-1.75), DateTime::FromDays(-1.25));
    EXPECT_EQ(DateTime::FromDays(-1.75).hour(), 18);
    EXPECT_EQ(F("dd/mm/yyyy hh:nn:ss", DateTime::FromDays(-1.25)), "29/12/1899 06:00:00");
    EXPECT_EQ(F("c", DateTime::FromParts(1800, 5, 6, 7, 8, 9)), "06/05/1800 07:08:09");
}

TEST(DateTime, ArithmeticAndComparison) {
    const DateTime a = DateTime::FromParts(2024, 2, 28, 23, 30);
    const DateTime b = a.addMinutes(45);
    EXPECT_EQ(b.date(), QDate(2024, 2, 29));
    EXPECT_EQ(b.time(), QTime(0, 15));
    EXPECT_EQ(a.minutesTo(b), 45);
    EXPECT_EQ(b.minutesTo(a), -45);
    EXPECT_EQ(tarvina::common::MinutesBetween(b, a), 45);
    EXPECT_EQ(a.addSeconds(90).secondsTo(a), -90);
    EXPECT_EQ(a.addDays(-1).date(), QDate(2024, 2, 27));
    EXPECT_EQ(a.datePart(), DateTime::FromParts(2024, 2, 28));
    // A fraction a hair below midnight rounds to the next day, not 23:59:60.
    EXPECT_EQ(F("dd/mm/yyyy hh:nn:ss", DateTime::FromDays(45292.9999999999)),
              "02/01/2024 00:00:00");
    // Hostile values decode to something bounded instead of overflowing.
    EXPECT_FALSE(DateTime::FromDays(1e300).isValid());
    EXPECT_FALSE(DateTime::FromDays(std::nan("")).isValid());
    EXPECT_FALSE(F("c", DateTime::FromDays(-1e300)).isEmpty());
}

TEST(DateTime, QDateTimeRoundTrip) {
    const QDateTime q(QDate(2023, 7, 14), QTime(9, 41, 5, 250), Qt::LocalTime);
    const DateTime d = DateTime::FromQDateTime(q);
    EXPECT_EQ(d.toQDateTime(), q);
    EXPECT_EQ(d.msec(), 250);
    // A UTC value is taken as the same instant in local time.
    EXPECT_EQ(DateTime::FromQDateTime(q.toUTC()), d);
}

TEST(DateTime, TheFormatsTheProgramsUse) {
    const DateTime t = DateTime::FromParts(2024, 3, 5, 14, 7, 9);
    EXPECT_EQ(F("dd/mm/yy hh:nn:ss", t), "05/03/24 14:07:09");
    EXPECT_EQ(F("dd/mm/yyyy hh:nn:ss", t), "05/03/2024 14:07:09");
    EXPECT_EQ(F("dd/mm/yy hh:nn", t), "05/03/24 14:07");
    EXPECT_EQ(F("hh:nn:ss", t), "14:07:09");
    EXPECT_EQ(F("ddmmyyyy", t), "05032024");
    EXPECT_EQ(F("c", t), "05/03/2024 14:07:09");
    // "c" leaves out a midnight time.
    EXPECT_EQ(F("c", DateTime::FromParts(2024, 3, 5)), "05/03/2024");
    // "mm" right after an hour is minutes; elsewhere it is the month.
    EXPECT_EQ(F("hh:mm:ss a/p", t), "02:07:09 p");
    EXPECT_EQ(F("mm/dd hh:mm", t), "03/05 14:07");
    EXPECT_EQ(F("hh:mm:ss a/p", DateTime::FromParts(2024, 3, 5, 0, 30, 1)), "12:30:01 a");
    EXPECT_EQ(F("hh:mm:ss A/P", DateTime::FromParts(2024, 3, 5, 12, 0, 0)), "12:00:00 P");
    EXPECT_EQ(F("h:n:s am/pm", DateTime::FromParts(2024, 3, 5, 9, 5, 3)), "9:5:3 am");
    EXPECT_EQ(F("d/m/yy", DateTime::FromParts(2009, 1, 2)), "2/1/09");
    EXPECT_EQ(F("dddd d 'de' mmmm", t), QString::fromUtf8("martes 5 de marzo"));
    EXPECT_EQ(F("\"hh\" hh", t), "hh 14");
    EXPECT_EQ(F("hh:nn:ss.zzz", DateTime::FromParts(2024, 3, 5, 1, 2, 3, 45)), "01:02:03.045");
}

TEST(DateTime, DurationsShowModulo24Hours) {
    const qint64 h = 3600000;
    EXPECT_EQ(FormatDuration(QStringLiteral("hh:nn:ss"), 25 * h + 61000), "01:01:01");
    EXPECT_EQ(FormatDuration(QStringLiteral("hh:nn:ss"), 48 * h), "00:00:00");
    EXPECT_EQ(FormatDuration(QStringLiteral("hh:nn:ss"), -90000), "00:01:30");
    // The same through a day-number span, as the session times are kept.
    const DateTime span = DateTime::FromDays(1.5);
    EXPECT_EQ(FormatDateTime(QStringLiteral("hh:nn:ss"), span), "12:00:00");
}
