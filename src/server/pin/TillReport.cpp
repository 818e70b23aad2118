#include "server/pin/TillReport.h"

#include "common/Currency.h"
#include "common/Paths.h"
#include "server/pin/HtmlListFile.h"
#include "server/pin/WholeFile.h"

#include <QSet>
#include <algorithm>
#include <stdexcept>

namespace tarvina::server {

using common::DateTime;

namespace {

QString Money(qint64 cents) {
    return common::FormatCurrency(cents);
}

QString Esc(const QString& text) {
    return HtmlEscape(text);
}

constexpr int kChartWidth = 720;
constexpr int kChartHeight = 220;
constexpr int kChartLeft = 70;
constexpr int kChartBottom = 190;
constexpr int kBarStep = 26;

// Bars of one value per hour, scaled to the largest; labels are the values
// as `label` writes them.
template <typename T, typename Label>
QString BarChart(const QString& title, const std::array<T, 24>& values, Label label) {
    const T top = std::max<T>(*std::max_element(values.begin(), values.end()), T(1));
    QString svg;
    svg += QStringLiteral("<figure><figcaption>%1</figcaption>\n").arg(Esc(title));
    svg += QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%2\" "
                          "role=\"img\" aria-label=\"%3\">\n")
               .arg(kChartWidth)
               .arg(kChartHeight)
               .arg(Esc(title));
    svg += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%2\" stroke=\"#000\"/>\n")
               .arg(kChartLeft)
               .arg(kChartBottom)
               .arg(kChartLeft + 24 * kBarStep);
    svg +=
        QStringLiteral("<text x=\"%1\" y=\"20\" font-size=\"11\" text-anchor=\"end\">%2</text>\n")
            .arg(kChartLeft - 6)
            .arg(Esc(label(top)));
    const int span = kChartBottom - 30;
    for (int h = 0; h < 24; ++h) {
        const qint64 v = std::max<qint64>(qint64(values[std::size_t(h)]), 0);
        const int height = int(v * span / qint64(top));
        const int x = kChartLeft + h * kBarStep + 3;
        if (height > 0) {
            svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" "
                                  "fill=\"#3a7bd5\"><title>%5:00 %6</title></rect>\n")
                       .arg(x)
                       .arg(kChartBottom - height)
                       .arg(kBarStep - 6)
                       .arg(height)
                       .arg(h, 2, 10, QLatin1Char('0'))
                       .arg(Esc(label(values[std::size_t(h)])));
        }
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" font-size=\"10\" "
                              "text-anchor=\"middle\">%3</text>\n")
                   .arg(x + (kBarStep - 6) / 2)
                   .arg(kChartBottom + 14)
                   .arg(h, 2, 10, QLatin1Char('0'));
    }
    svg += QStringLiteral("</svg></figure>\n");
    return svg;
}

} // namespace

TillHours HoursOf(const std::vector<TillMovement>& movements) {
    TillHours hours;
    std::array<QSet<QString>, 24> inUse;
    for (const TillMovement& m : movements) {
        const int h = std::clamp(m.when.hour(), 0, 23);
        hours.cents[std::size_t(h)] += m.paid ? m.cents : 0;
        if (m.kind != TillConcept::Use || m.computer.isEmpty())
            continue;
        // A use ends at its row's time and began its minutes before: every
        // hour it touched counts the computer once.
        const DateTime end = m.when;
        const DateTime start = end.addMinutes(-std::clamp<qint64>(m.minutes, 0, 24 * 60));
        DateTime at = start;
        for (int guard = 0; guard < 25 && at <= end; ++guard) {
            inUse[std::size_t(std::clamp(at.hour(), 0, 23))].insert(m.computer);
            at = DateTime::FromParts(at.year(), at.month(), at.day(), at.hour()).addMinutes(60);
        }
    }
    for (int h = 0; h < 24; ++h)
        hours.computers[std::size_t(h)] = int(inUse[std::size_t(h)].size());
    return hours;
}

std::vector<TillLine> TillSummary(const TillTotals& t) {
    std::vector<TillLine> lines;
    static const std::pair<TillConcept, const char16_t*> concepts[] = {
        {TillConcept::Use, u"Uso de computadoras"},
        {TillConcept::Code, u"PIN vendidos"},
        {TillConcept::Extra, u"Otros"},
        {TillConcept::Void, u"Anulaciones"},
    };
    for (const auto& [kind, caption] : concepts) {
        const auto it = t.perConcept.find(kind);
        if (it != t.perConcept.end())
            lines.push_back({QString::fromUtf16(caption), Money(it->second)});
    }
    for (const auto& [computer, cents] : t.perComputer)
        lines.push_back({QStringLiteral("Equipo ") + computer, Money(cents)});
    lines.push_back({QStringLiteral("Cobrado"), Money(t.paid)});
    lines.push_back({QStringLiteral("Por cobrar"), Money(t.due)});
    lines.push_back({QStringLiteral("Total"), Money(t.total)});
    return lines;
}

QString TillReportPath(const QString& programFolder, const DateTime& at, int number) {
    const QString name = QStringLiteral("Caja-%1-%2.html")
                             .arg(common::FormatDateTime(QStringLiteral("yyyymmdd"), at))
                             .arg(number);
    return common::ResolveInFolder(programFolder, QStringLiteral("report\\") + name)
        .value_or(programFolder + QStringLiteral("/report/") + name);
}

QByteArray TillReportHtml(const Till::Closed& c, const QString& business) {
    QString html;
    html.reserve(qsizetype(4096 + c.movements.size() * 260));
    const QString when = common::FormatDateTime(QStringLiteral("dd/mm/yyyy hh:nn:ss"), c.at);
    html += QStringLiteral("<!DOCTYPE html>\n<html lang=\"es\"><head><meta charset=\"utf-8\">\n"
                           "<title>Cierre de caja %1</title>\n"
                           "<style>body{font-family:Arial,sans-serif}table{border-collapse:"
                           "collapse}td,th{border:1px solid #999;padding:2px 6px}"
                           "td.m{text-align:right}</style>\n</head><body>\n")
                .arg(c.number);
    html += QStringLiteral("<h1>%1</h1>\n<h2>Cierre de caja N&ordm; %2 &mdash; %3</h2>\n")
                .arg(Esc(business), QString::number(c.number), Esc(when));
    if (c.movements.empty()) {
        html += QStringLiteral("<p>No hubo movimientos en este cierre.</p>\n</body></html>\n");
        return html.toUtf8();
    }
    html += QStringLiteral("<h3>Totales</h3>\n<table>\n");
    for (const TillLine& l : TillSummary(c.totals))
        html += QStringLiteral("<tr><td>%1</td><td class=\"m\">%2</td></tr>\n")
                    .arg(Esc(l.caption), Esc(l.amount));
    html += QStringLiteral("</table>\n");
    const TillHours hours = HoursOf(c.movements);
    html += BarChart(QStringLiteral("Monto cobrado por hora"), hours.cents,
                     [](qint64 v) { return Money(v); });
    html += BarChart(QStringLiteral("Computadoras en uso por hora"), hours.computers,
                     [](int v) { return QString::number(v); });
    html += QStringLiteral("<h3>Movimientos (%1)</h3>\n<table>\n<tr><th>Fecha</th><th>Hora</th>"
                           "<th>Equipo</th><th>Usuario</th><th>Concepto</th><th>Minutos</th>"
                           "<th>Monto</th><th>Cobrado</th><th>PIN</th></tr>\n")
                .arg(c.movements.size());
    for (const TillMovement& m : c.movements) {
        html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td>"
                               "<td class=\"m\">%6</td><td class=\"m\">%7</td><td>%8</td>"
                               "<td>%9</td></tr>\n")
                    .arg(common::FormatDateTime(QStringLiteral("dd/mm/yyyy"), m.when),
                         common::FormatDateTime(QStringLiteral("hh:nn:ss"), m.when),
                         Esc(m.computer), Esc(m.user), ConceptText(m.kind),
                         QString::number(m.minutes), Esc(Money(m.cents)),
                         m.paid ? Esc(m.paidAt) : QStringLiteral("no"), Esc(m.pin));
    }
    html += QStringLiteral("</table>\n</body></html>\n");
    return html.toUtf8();
}

void WriteTillReport(xbase::IFileSystem& fs, const QString& path, const Till::Closed& close,
                     const QString& business) {
    try {
        ReplaceWholeFile(fs, path, TillReportHtml(close, business));
    } catch (const std::exception&) {
        throw std::runtime_error(
            QStringLiteral("No se pudo escribir el reporte de cierre %1").arg(path).toStdString());
    }
}

QString CloseTillWithReport(Till& till, xbase::IFileSystem& fs, const QString& programFolder,
                            const QString& business) {
    const Till::Closed closed = till.closeTill();
    const QString path = TillReportPath(programFolder, closed.at, closed.number);
    WriteTillReport(fs, path, closed, business);
    return path;
}

} // namespace tarvina::server
