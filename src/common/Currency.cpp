#include "common/Currency.h"

#include <QLocale>
#include <mutex>
#include <optional>

namespace tarvina::common {

namespace {

std::mutex& SymbolLock() {
    static std::mutex m;
    return m;
}
// Unset means "the system's": read when asked, so a process that never
// names a currency follows the regional settings it was started with.
std::optional<QString>& ChosenSymbol() {
    static std::optional<QString> s;
    return s;
}

} // namespace

QString SystemCurrencySymbol() {
    return QLocale::system().currencySymbol();
}

QString CurrencySymbol() {
    {
        std::lock_guard guard(SymbolLock());
        if (ChosenSymbol())
            return *ChosenSymbol();
    }
    return SystemCurrencySymbol();
}

void SetCurrencySymbol(const QString& symbol) {
    if (symbol.isEmpty())
        return;
    std::lock_guard guard(SymbolLock());
    ChosenSymbol() = symbol;
}

QString FormatCurrency(qint64 cents) {
    const QLocale locale;
    const bool negative = cents < 0;
    const quint64 magnitude = negative ? 0 - static_cast<quint64>(cents) : quint64(cents);
    // The locale places the symbol and the sign around the whole units; the
    // cents go in after the last digit, so no amount passes through a double.
    const auto units = static_cast<qlonglong>(magnitude / 100);
    QString text = locale.toCurrencyString(negative ? -units : units, CurrencySymbol());
    if (negative && units == 0)
        text = locale.toCurrencyString(qlonglong(-1), CurrencySymbol())
                   .replace(locale.toString(1), locale.toString(0));
    qsizetype last = text.size() - 1;
    while (last >= 0 && !text[last].isDigit())
        --last;
    text.insert(last + 1, locale.decimalPoint() +
                              QStringLiteral("%1").arg(magnitude % 100, 2, 10, QLatin1Char('0')));
    return text;
}

} // namespace tarvina::common
