#pragma once

#include <QString>
#include <QTime>
#include <functional>
#include <optional>

namespace tarvina::server {

// The greeting at the first show, with the quote of the day from "citas.txt"
// (first line the number N of quotes, then one quote per line).
class Greeting {
public:
    static constexpr char kQuotesFile[] = "citas.txt";
    // A larger quotes file is not read at all: the greeting goes without a
    // quote rather than holding up the start.
    static constexpr qint64 kMaxFileBytes = 1 << 20;
    // Longer quotes are cut: the console shows one line.
    static constexpr int kMaxQuoteChars = 1000;

    // "Buenos días " before 12:00, "Buenas noches " from 18:00, otherwise
    // "Buenas tardes ".
    static QString Salutation(const QTime& time);

    // A quote chosen with equal chance among the N quotes. nullopt when the
    // file is missing, unreadable, too large, when its first line is not a
    // positive number, or when it holds fewer than N quotes. pick(n) gives a
    // number in [0, n).
    static std::optional<QString> QuoteOfTheDay(const QString& path,
                                                const std::function<quint32(quint32)>& pick);

    // The salutation, then CR LF "Cita del día: " CR LF "   " + the quote.
    static QString Text(const QTime& time, const std::optional<QString>& quote);
};

} // namespace tarvina::server
