#include "server/central/ChainReport.h"

#include <QHash>
#include <QStringList>
#include <algorithm>
#include <map>

namespace tarvina::server::central {

namespace {

QString Esc(const QString& s) {
    return s.toHtmlEscaped();
}

QString Money(qint64 cents) {
    const qint64 a = cents < 0 ? -cents : cents;
    return QStringLiteral("%1%2.%3")
        .arg(cents < 0 ? QStringLiteral("-") : QString())
        .arg(a / 100)
        .arg(a % 100, 2, 10, QLatin1Char('0'));
}

qint64 Int(const std::optional<QString>& v) {
    return v ? v->toLongLong() : 0;
}

} // namespace

ChainFigures ReadChainFigures(PgLink& link, const QDate& from, const QDate& to) {
    ChainFigures f;
    f.from = from;
    f.to = to;
    const PgLink::Params range = {from.toString(Qt::ISODate).toUtf8(),
                                  to.toString(Qt::ISODate).toUtf8()};
    std::map<std::pair<QString, QDate>, BranchDay> days;
    auto at = [&](const QString& branch, const QString& day) -> BranchDay& {
        const QDate d = QDate::fromString(day, Qt::ISODate);
        BranchDay& b = days[{branch, d}];
        b.branch = branch;
        b.day = d;
        return b;
    };
    for (const auto& r :
         link.exec(QStringLiteral(
                       "SELECT sucursal, fecha::text,"
                       " coalesce(round(100 * sum(monto) FILTER (WHERE cobrado)), 0)::bigint,"
                       " coalesce(round(100 * sum(monto) FILTER (WHERE NOT cobrado)), 0)::bigint "
                       "FROM caja_movimientos WHERE NOT borrado AND fecha BETWEEN $1::date AND "
                       "$2::date GROUP BY 1, 2"),
                   range)) {
        BranchDay& b = at(*r[0], *r[1]);
        b.takenCents = Int(r[2]);
        b.dueCents = Int(r[3]);
    }
    // A time of day that the cast to time takes: "hh:nn:ss" of digits in range
    // (cheaper than a regular expression over a year of a chain's uses).
    auto valid = [](const char* c) {
        return QStringLiteral("(length(%1) = 8 AND translate(%1, '0123456789', '') = '::' AND "
                              "%1 <= '23:59:59' AND substr(%1, 4, 2) < '60' AND "
                              "substr(%1, 7, 2) < '60')")
            .arg(QLatin1String(c));
    };
    const QString uses =
        QStringLiteral("SELECT sucursal, equipo, fdesde, fdesde + hdesde::time AS s,"
                       " fhasta + hhasta::time AS e FROM usos "
                       "WHERE NOT borrado AND fdesde BETWEEN $1::date AND $2::date"
                       " AND fhasta IS NOT NULL AND %1 AND %2")
            .arg(valid("hdesde"), valid("hhasta"));
    QHash<QString, qint64> computers;
    for (const auto& r :
         link.exec(QStringLiteral("SELECT sucursal, count(DISTINCT equipo) FROM usos "
                                  "WHERE NOT borrado AND fdesde BETWEEN $1::date AND $2::date "
                                  "GROUP BY 1"),
                   range))
        computers.insert(*r[0], Int(r[1]));
    // One pass over the uses: each use in the hours of its start day it
    // overlaps (for the hours' picture), and its whole length once, with
    // its first hour (for the branch's day).
    std::array<qint64, 24> hourMinutes{};
    for (const auto& r :
         link.exec(QStringLiteral(
                       "SELECT sucursal, fdesde::text, h,"
                       " (sum(extract(epoch FROM greatest(interval '0',"
                       "  least(e, fdesde + make_interval(hours => h + 1))"
                       "  - greatest(s, fdesde + make_interval(hours => h))))) / 60)::bigint,"
                       " (sum(extract(epoch FROM greatest(interval '0', e - s)))"
                       "  FILTER (WHERE h = extract(hour FROM s)) / 60)::bigint "
                       "FROM (%1) u, LATERAL generate_series(extract(hour FROM s)::int,"
                       "  CASE WHEN e::date > fdesde THEN 23 ELSE extract(hour FROM e)::int END) h "
                       "GROUP BY GROUPING SETS ((sucursal, fdesde), (h))")
                       .arg(uses),
                   range)) {
        if (r[0] && r[1]) {
            BranchDay& b = at(*r[0], *r[1]);
            b.minutesSold = Int(r[4]);
            const qint64 n = computers.value(b.branch);
            b.occupancyPercent =
                n > 0 ? int(std::min<qint64>(100, b.minutesSold * 100 / (n * 1440))) : 0;
        } else if (r[2]) {
            const qint64 h = Int(r[2]);
            if (h >= 0 && h < 24)
                hourMinutes[std::size_t(h)] = Int(r[3]);
        }
    }
    qint64 allComputers = 0;
    for (qint64 n : computers)
        allComputers += n;
    const qint64 dayCount = from.daysTo(to) + 1;
    for (std::size_t h = 0; h < 24 && allComputers > 0; ++h)
        f.occupancyPerHour[h] =
            int(std::min<qint64>(100, hourMinutes[h] * 100 / (allComputers * dayCount * 60)));
    for (auto& [key, b] : days)
        f.days.push_back(b);
    return f;
}

QByteArray ChainReportHtml(const ChainFigures& f) {
    QString h;
    h += QStringLiteral("<!DOCTYPE html>\n<html lang=\"es\"><head><meta charset=\"utf-8\">"
                        "<title>Tarvina: reporte de la cadena</title>"
                        "<style>body{font-family:sans-serif}table{border-collapse:collapse}"
                        "td,th{border:1px solid #999;padding:2px 6px;text-align:right}"
                        "td:first-child{text-align:left}</style></head><body>\n");
    h += QStringLiteral("<h1>Reporte de la cadena</h1>\n<p>Del %1 al %2</p>\n")
             .arg(f.from.toString(QStringLiteral("dd/MM/yyyy")),
                  f.to.toString(QStringLiteral("dd/MM/yyyy")));

    // Amount per branch per day: one line per branch.
    QStringList branches;
    qint64 top = 1;
    for (const BranchDay& d : f.days) {
        if (branches.isEmpty() || branches.back() != d.branch)
            branches << d.branch;
        top = std::max(top, d.takenCents);
    }
    const qint64 span = std::max<qint64>(1, f.from.daysTo(f.to));
    const int w = 900, ht = 300, left = 60;
    h += QStringLiteral("<figure><figcaption>Monto cobrado por sucursal y día</figcaption>\n"
                        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%2\" "
                        "role=\"img\" aria-label=\"Monto cobrado por sucursal y día\">\n")
             .arg(w + left + 10)
             .arg(ht + 30);
    h += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%2\" stroke=\"#000\"/>"
                        "<text x=\"0\" y=\"12\" font-size=\"10\">%4</text>\n")
             .arg(left)
             .arg(ht)
             .arg(left + w)
             .arg(Money(top));
    int bi = 0;
    std::size_t i = 0;
    for (const QString& b : branches) {
        QStringList points;
        for (; i < f.days.size() && f.days[i].branch == b; ++i) {
            const BranchDay& d = f.days[i];
            points << QStringLiteral("%1,%2")
                          .arg(left + f.from.daysTo(d.day) * w / span)
                          .arg(ht - d.takenCents * (ht - 10) / top);
        }
        h += QStringLiteral("<polyline fill=\"none\" stroke=\"hsl(%1,70%,40%)\" points=\"%2\">"
                            "<title>%3</title></polyline>\n")
                 .arg((bi++ * 47) % 360)
                 .arg(points.join(u' '), Esc(b));
    }
    h += QStringLiteral("</svg></figure>\n");

    // Occupancy per hour across branches.
    h += QStringLiteral("<figure><figcaption>Ocupación por hora en todas las sucursales"
                        "</figcaption>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" "
                        "height=\"140\" role=\"img\" aria-label=\"Ocupación por hora\">\n")
             .arg(24 * 30 + 20);
    for (int hour = 0; hour < 24; ++hour) {
        const int p = f.occupancyPerHour[std::size_t(hour)];
        h += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"24\" height=\"%3\" fill=\"#4a7\">"
                            "<title>%4 h: %5 %</title></rect>"
                            "<text x=\"%1\" y=\"135\" font-size=\"10\">%4</text>\n")
                 .arg(10 + hour * 30)
                 .arg(120 - p)
                 .arg(p)
                 .arg(hour)
                 .arg(p);
    }
    h += QStringLiteral("</svg></figure>\n");

    h += QStringLiteral("<table><tr><th>Sucursal</th><th>Día</th><th>Cobrado</th>"
                        "<th>Por cobrar</th><th>Horas vendidas</th><th>Ocupación</th></tr>\n");
    for (const BranchDay& d : f.days)
        h += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5:%6</td>"
                            "<td>%7 %</td></tr>\n")
                 .arg(Esc(d.branch), d.day.toString(QStringLiteral("dd/MM/yyyy")),
                      Money(d.takenCents), Money(d.dueCents))
                 .arg(d.minutesSold / 60)
                 .arg(d.minutesSold % 60, 2, 10, QLatin1Char('0'))
                 .arg(d.occupancyPercent);
    h += QStringLiteral("</table>\n</body></html>\n");
    return h.toUtf8();
}

} // namespace tarvina::server::central
