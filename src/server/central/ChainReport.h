#pragma once

#include "server/central/PgLink.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <array>
#include <vector>

namespace tarvina::server::central {

// One branch on one day, as the chain report lists it.
struct BranchDay {
    QString branch;
    QDate day;
    qint64 takenCents = 0; // paid
    qint64 dueCents = 0;   // not paid yet
    qint64 minutesSold = 0;
    int occupancyPercent = 0; // of the branch's computers over the whole day
};

struct ChainFigures {
    QDate from, to;
    std::vector<BranchDay> days; // by branch, then day
    // Across every branch and day of the range: the share of the computers
    // in use during each hour of the day, in percent.
    std::array<int, 24> occupancyPerHour{};
};

// Reads the figures of the range from the central database; only reads.
ChainFigures ReadChainFigures(PgLink& link, const QDate& from, const QDate& to);

// One HTML page: the table and two inline SVG pictures (amount per branch
// per day, occupancy per hour across branches). No script, nothing fetched;
// every text from the database is escaped.
QByteArray ChainReportHtml(const ChainFigures& figures);

} // namespace tarvina::server::central
