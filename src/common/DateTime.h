#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>
#include <compare>

namespace tarvina::common {

// A point in local time as a real number of days since 30 December 1899, the
// time of day being the fraction. This is the form stored in the session file,
// in registry date-time values and sent on the wire.
//
// Dates before 1899-12-30 are negative, and then (as in the programs this
// representation comes from) the integer part is the date and the fraction,
// taken without its sign, is the time of day: -1.25 is 29 December 1899 06:00.
// Arithmetic therefore goes through a linear millisecond count, never through
// the raw double.
class DateTime {
public:
    constexpr DateTime() = default;

    static constexpr qint64 kMsPerDay = 86400000;

    static DateTime FromDays(double days) { return DateTime(days); }
    static DateTime FromQDateTime(const QDateTime& dt);
    // Any field out of range gives an invalid result (isValid() false).
    static DateTime FromParts(int year, int month, int day, int hour = 0, int minute = 0,
                              int second = 0, int msec = 0);
    // Milliseconds on a linear scale whose zero is 1899-12-30 00:00.
    static DateTime FromLinearMs(qint64 ms);

    double days() const { return days_; }
    bool isValid() const;
    QDateTime toQDateTime() const;
    qint64 linearMs() const;

    // Decoded fields (rounded to the millisecond).
    int year() const;
    int month() const;
    int day() const;
    int hour() const;
    int minute() const;
    int second() const;
    int msec() const;
    int dayOfWeek() const; // 1 = Sunday ... 7 = Saturday, as the date functions of the origin do
    QDate date() const;
    QTime time() const;
    DateTime datePart() const;

    DateTime addDays(qint64 n) const { return addMSecs(n * kMsPerDay); }
    DateTime addMinutes(qint64 n) const { return addMSecs(n * 60000); }
    DateTime addSeconds(qint64 n) const { return addMSecs(n * 1000); }
    DateTime addMSecs(qint64 n) const { return FromLinearMs(linearMs() + n); }

    // Signed spans from this to other (other - this), whole units truncated
    // toward zero.
    qint64 msecsTo(const DateTime& other) const { return other.linearMs() - linearMs(); }
    qint64 secondsTo(const DateTime& other) const { return msecsTo(other) / 1000; }
    qint64 minutesTo(const DateTime& other) const { return msecsTo(other) / 60000; }

    friend bool operator==(const DateTime& a, const DateTime& b) {
        return a.linearMs() == b.linearMs();
    }
    friend std::strong_ordering operator<=>(const DateTime& a, const DateTime& b) {
        return a.linearMs() <=> b.linearMs();
    }

private:
    explicit constexpr DateTime(double d) : days_(d) {}
    double days_ = 0.0;
};

// Whole minutes between two instants, without sign (truncated).
qint64 MinutesBetween(const DateTime& a, const DateTime& b);
qint64 SecondsBetween(const DateTime& a, const DateTime& b);

// The date-time formatter of the original programs, with its letters:
// d dd ddd dddd ddddd dddddd, m mm mmm mmmm (minutes right after an h or hh),
// yy yyyy, h hh, n nn, s ss, z zzz, t tt, c, am/pm, a/p, ampm, "/" and ":"
// separators, and text between single or double quotes taken literally.
// "c" is the short date followed by the long time, the time left out at
// midnight. Short date is "dd/mm/yyyy" and long time "hh:nn:ss" (the café's
// regional settings); day and month names are Spanish.
// Only the time of day is printed by the hour letters, so a span of 25 hours
// formatted with "hh:nn:ss" reads "01:00:00".
QString FormatDateTime(const QString& format, const DateTime& dt);

// Span formatted as a time of day (modulo 24 hours), for elapsed/remaining times.
QString FormatDuration(const QString& format, qint64 msecs);

} // namespace tarvina::common
