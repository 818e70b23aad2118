#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

namespace tarvina::common {

// Amounts are whole cents everywhere in the program: a price read from the
// cashier or from the store becomes cents here and is written back from them,
// so no amount ever passes through binary floating point.
inline constexpr qint64 kMaxPriceCents = 999999999; // 9 999 999.99

// A price as the cashier types it: digits with at most two decimals after a
// dot (a comma is taken as the dot), blanks around it ignored. `error` is the
// Spanish text for the cashier when `cents` is empty.
struct MoneyParse {
    std::optional<qint64> cents;
    QString error;
};
MoneyParse ParseMoney(const QString& text);

// Cents as the store keeps them: "1.20", "-3.05", "0.00".
QString MoneyText(qint64 cents);

// numerator / denominator (denominator > 0), halves away from zero.
qint64 DivideHalfUp(qint64 numerator, qint64 denominator);

} // namespace tarvina::common
