#pragma once

#include <QString>

namespace tarvina::common {

// The currency symbol of the operating system's regional settings.
QString SystemCurrencySymbol();

// The process's currency symbol: the system's until the business names its
// own currency, which then holds for every amount the process formats.
// Callable from any thread.
QString CurrencySymbol();
// An empty symbol leaves the current one: a business with no currency set
// still gets amounts written with the system's.
void SetCurrencySymbol(const QString& symbol);

// An amount of cents with two decimals in the process's number format and
// currency symbol, e.g. "Bs 1.234,50" for 123450 in a Venezuelan locale.
QString FormatCurrency(qint64 cents);

} // namespace tarvina::common
