#include "common/DateTime.h"

#include <cmath>

namespace tarvina::common {

namespace {

// 0001-01-01 and 9999-12-31 00:00, the range the day numbers are meant for;
// values outside are clamped so that hostile numbers cannot overflow.
constexpr double kMinDays = -693593.0;
constexpr double kMaxDays = 2958466.0;
// 1899-12-30; constant-initialized so that static DateTimes elsewhere may use it.
constexpr QDate kEpoch = QDate::fromJulianDay(2415019);

qint64 FloorDiv(qint64 a, qint64 b) {
    qint64 q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

struct Fields {
    QDate date;
    int hour, minute, second, msec;
};

Fields Decode(const DateTime& dt) {
    const qint64 ms = dt.linearMs();
    const qint64 day = FloorDiv(ms, DateTime::kMsPerDay);
    qint64 t = ms - day * DateTime::kMsPerDay;
    Fields f;
    f.date = kEpoch.addDays(day);
    f.hour = int(t / 3600000);
    t %= 3600000;
    f.minute = int(t / 60000);
    t %= 60000;
    f.second = int(t / 1000);
    f.msec = int(t % 1000);
    return f;
}

// The café's regional settings (Spanish, day first).
const char16_t* const kShortMonths[] = {u"ene", u"feb", u"mar", u"abr", u"may", u"jun",
                                        u"jul", u"ago", u"sep", u"oct", u"nov", u"dic"};
const char16_t* const kLongMonths[] = {u"enero",      u"febrero", u"marzo",     u"abril",
                                       u"mayo",       u"junio",   u"julio",     u"agosto",
                                       u"septiembre", u"octubre", u"noviembre", u"diciembre"};
const char16_t* const kShortDays[] = {u"dom", u"lun", u"mar", u"mié", u"jue", u"vie", u"sáb"};
const char16_t* const kLongDays[] = {u"domingo", u"lunes",   u"martes", u"miércoles",
                                     u"jueves",  u"viernes", u"sábado"};
QString ShortDateFormat() {
    return QStringLiteral("dd/mm/yyyy");
}
QString LongDateFormat() {
    return QStringLiteral("dddd, d' de 'mmmm' de 'yyyy");
}
QString ShortTimeFormat() {
    return QStringLiteral("hh:nn");
}
QString LongTimeFormat() {
    return QStringLiteral("hh:nn:ss");
}
QString TimeAm() {
    return QStringLiteral("a.m.");
}
QString TimePm() {
    return QStringLiteral("p.m.");
}

QString Pad(int v, int width) {
    return QString::number(v).rightJustified(width, u'0');
}

bool StartsWithCi(const QString& s, qsizetype at, QStringView what) {
    return QStringView(s).mid(at).startsWith(what, Qt::CaseInsensitive);
}

// Whether an AM/PM marker follows in the format, which makes the hours 12-hour.
bool HasAmPmAfter(const QString& fmt, qsizetype from) {
    for (qsizetype i = from; i < fmt.size(); ++i) {
        const QChar c = fmt[i];
        if (c == u'\'' || c == u'"') {
            const qsizetype close = fmt.indexOf(c, i + 1);
            if (close < 0)
                return false;
            i = close;
            continue;
        }
        if (c == u'a' || c == u'A') {
            if (StartsWithCi(fmt, i, u"am/pm") || StartsWithCi(fmt, i, u"a/p") ||
                StartsWithCi(fmt, i, u"ampm"))
                return true;
        }
    }
    return false;
}

void Append(QString& out, const QString& fmt, const Fields& f, int level);

// A run of count 'Y', 'M' or 'D' (five and six 'D's are the whole date).
void AppendDatePart(QString& out, char16_t token, qsizetype count, const Fields& f, int level) {
    if (token == u'Y') {
        out += count <= 2 ? Pad(f.date.year() % 100, 2) : Pad(f.date.year(), 4);
    } else if (token == u'M') {
        if (count == 1)
            out += QString::number(f.date.month());
        else if (count == 2)
            out += Pad(f.date.month(), 2);
        else if (count == 3)
            out += QString::fromUtf16(kShortMonths[f.date.month() - 1]);
        else
            out += QString::fromUtf16(kLongMonths[f.date.month() - 1]);
    } else {
        const int dow = f.date.dayOfWeek() % 7; // 0 = Sunday
        if (count == 1)
            out += QString::number(f.date.day());
        else if (count == 2)
            out += Pad(f.date.day(), 2);
        else if (count == 3)
            out += QString::fromUtf16(kShortDays[dow]);
        else if (count == 4)
            out += QString::fromUtf16(kLongDays[dow]);
        else if (count == 5)
            Append(out, ShortDateFormat(), f, level + 1);
        else
            Append(out, LongDateFormat(), f, level + 1);
    }
}

// A run of count 'H', 'N', 'S' or 'Z' at fmt[at]; the hours count to 12
// when an AM/PM marker follows.
void AppendTimePart(QString& out, char16_t token, qsizetype count, const QString& fmt, qsizetype at,
                    const Fields& f) {
    if (token == u'Z') {
        out += count == 1 ? QString::number(f.msec) : Pad(f.msec, 3);
        return;
    }
    int v = token == u'N' ? f.minute : token == u'S' ? f.second : f.hour;
    if (token == u'H' && HasAmPmAfter(fmt, at + count)) {
        v %= 12;
        if (v == 0)
            v = 12;
    }
    out += count == 1 ? QString::number(v) : Pad(v, 2);
}

// The marker at fmt[i] ("am/pm", "a/p", "ampm"), or the lone letter; gives
// how many characters of the format it took.
qsizetype AppendAmPm(QString& out, const QString& fmt, qsizetype i, const Fields& f) {
    if (StartsWithCi(fmt, i, u"am/pm")) {
        // The marker keeps the case the format gives it.
        out += f.hour >= 12 ? fmt.mid(i + 3, 2) : fmt.mid(i, 2);
        return 5;
    }
    if (StartsWithCi(fmt, i, u"a/p")) {
        out += f.hour >= 12 ? fmt[i + 2] : fmt[i];
        return 3;
    }
    if (StartsWithCi(fmt, i, u"ampm")) {
        out += f.hour >= 12 ? TimePm() : TimeAm();
        return 4;
    }
    out += fmt[i];
    return 1;
}

void Append(QString& out, const QString& fmt, const Fields& f, int level) {
    if (level > 2)
        return;
    char16_t lastToken = 0;
    qsizetype i = 0;
    const qsizetype n = fmt.size();
    while (i < n) {
        const QChar starter = fmt[i];
        char16_t token = starter.unicode();
        if (token >= u'a' && token <= u'z')
            token = char16_t(token - 32);
        if (token >= u'A' && token <= u'Z') {
            if (token == u'M' && lastToken == u'H')
                token = u'N';
            lastToken = token;
        }
        // Length of the run of the same letter.
        qsizetype count = 1;
        while (i + count < n && fmt[i + count] == starter)
            ++count;
        switch (token) {
        case u'Y':
        case u'M':
        case u'D':
            AppendDatePart(out, token, count, f, level);
            i += count;
            break;
        case u'H':
        case u'N':
        case u'S':
        case u'Z':
            AppendTimePart(out, token, count, fmt, i, f);
            i += count;
            break;
        case u'T':
            Append(out, count == 1 ? ShortTimeFormat() : LongTimeFormat(), f, level + 1);
            i += count;
            break;
        case u'C':
            Append(out, ShortDateFormat(), f, level + 1);
            if (f.hour != 0 || f.minute != 0 || f.second != 0 || f.msec != 0) {
                out += u' ';
                Append(out, LongTimeFormat(), f, level + 1);
            }
            i += count;
            break;
        case u'A':
            i += AppendAmPm(out, fmt, i, f);
            break;
        case u'\'':
        case u'"': {
            const qsizetype close = fmt.indexOf(starter, i + 1);
            const qsizetype end = close < 0 ? n : close;
            out += fmt.mid(i + 1, end - i - 1);
            i = close < 0 ? n : close + 1;
            break;
        }
        default:
            // '/' and ':' are the date and time separators, which are '/' and ':'.
            out += starter;
            ++i;
            break;
        }
    }
}

} // namespace

DateTime DateTime::FromQDateTime(const QDateTime& dt) {
    if (!dt.isValid())
        return DateTime();
    const QDateTime local = dt.toLocalTime();
    const QTime t = local.time();
    const QDate d = local.date();
    return FromParts(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec());
}

DateTime DateTime::FromParts(int year, int month, int day, int hour, int minute, int second,
                             int msec) {
    const QDate d(year, month, day);
    if (!d.isValid() || year < 1 || year > 9999 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 59 || msec < 0 || msec > 999)
        return DateTime(std::nan(""));
    const qint64 dayNumber = kEpoch.daysTo(d);
    const qint64 t = ((qint64(hour) * 60 + minute) * 60 + second) * 1000 + msec;
    return FromLinearMs(dayNumber * kMsPerDay + t);
}

DateTime DateTime::FromLinearMs(qint64 ms) {
    const qint64 day = FloorDiv(ms, kMsPerDay);
    const qint64 t = ms - day * kMsPerDay;
    const double fraction = double(t) / double(kMsPerDay);
    // Before the epoch the time of day is carried as a magnitude.
    return DateTime(day >= 0 ? double(day) + fraction : double(day) - fraction);
}

bool DateTime::isValid() const {
    return std::isfinite(days_) && days_ >= kMinDays && days_ < kMaxDays;
}

qint64 DateTime::linearMs() const {
    double d = days_;
    if (!std::isfinite(d))
        d = 0.0;
    d = std::clamp(d, kMinDays, kMaxDays);
    const qint64 total = std::llround(std::fabs(d) * double(kMsPerDay));
    qint64 day = total / kMsPerDay;
    const qint64 t = total % kMsPerDay;
    if (d < 0)
        day = -day;
    return day * kMsPerDay + t;
}

QDateTime DateTime::toQDateTime() const {
    return QDateTime(date(), time(), Qt::LocalTime);
}

int DateTime::year() const {
    return Decode(*this).date.year();
}
int DateTime::month() const {
    return Decode(*this).date.month();
}
int DateTime::day() const {
    return Decode(*this).date.day();
}
int DateTime::hour() const {
    return Decode(*this).hour;
}
int DateTime::minute() const {
    return Decode(*this).minute;
}
int DateTime::second() const {
    return Decode(*this).second;
}
int DateTime::msec() const {
    return Decode(*this).msec;
}
int DateTime::dayOfWeek() const {
    return Decode(*this).date.dayOfWeek() % 7 + 1;
}
QDate DateTime::date() const {
    return Decode(*this).date;
}
QTime DateTime::time() const {
    const Fields f = Decode(*this);
    return QTime(f.hour, f.minute, f.second, f.msec);
}
DateTime DateTime::datePart() const {
    return FromLinearMs(FloorDiv(linearMs(), kMsPerDay) * kMsPerDay);
}

qint64 MinutesBetween(const DateTime& a, const DateTime& b) {
    return std::abs(a.msecsTo(b)) / 60000;
}
qint64 SecondsBetween(const DateTime& a, const DateTime& b) {
    return std::abs(a.msecsTo(b)) / 1000;
}

QString FormatDateTime(const QString& format, const DateTime& dt) {
    QString out;
    Append(out, format.isEmpty() ? QStringLiteral("c") : format, Decode(dt), 0);
    return out;
}

QString FormatDuration(const QString& format, qint64 msecs) {
    // The sign is dropped: a span is shown by its size, as a time of day.
    const qint64 m = msecs < 0 ? -(msecs % DateTime::kMsPerDay) : msecs % DateTime::kMsPerDay;
    return FormatDateTime(format, DateTime::FromLinearMs(m));
}

} // namespace tarvina::common
