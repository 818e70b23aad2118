#pragma once

#include "server/pin/Till.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>

namespace tarvina::xbase {
class IFileSystem;
}

namespace tarvina::server {

// The day's pictures of a close: what came in during each hour of the day,
// and how many computers were in use during it.
struct TillHours {
    std::array<qint64, 24> cents{};
    std::array<int, 24> computers{};
};
TillHours HoursOf(const std::vector<TillMovement>& movements);

// The totals as the close window and the report list them, one line each:
// a caption and the amount in the café's currency.
struct TillLine {
    QString caption;
    QString amount;
};
std::vector<TillLine> TillSummary(const TillTotals& totals);

// program folder + "report\Caja-AAAAMMDD-N.html", beside the usage reports.
QString TillReportPath(const QString& programFolder, const common::DateTime& at, int number);

// The close's report: the totals, every movement and the two pictures as
// inline SVG; no script, nothing fetched from anywhere. Every text from a
// station or the table is escaped.
QByteArray TillReportHtml(const Till::Closed& close, const QString& business);

// Writes the report as one step (the old file or the new, never a part).
// Throws std::runtime_error with the cashier's text.
void WriteTillReport(xbase::IFileSystem& fs, const QString& path, const Till::Closed& close,
                     const QString& business);

// "Cerrar caja": numbers the close and stamps its rows, then writes its
// report beside the usage reports; returns the report's path. Throws
// std::runtime_error with the cashier's text (a report that could not be
// written leaves the close made: its rows are stamped and stay in the table).
QString CloseTillWithReport(Till& till, xbase::IFileSystem& fs, const QString& programFolder,
                            const QString& business);

} // namespace tarvina::server
