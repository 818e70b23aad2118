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

QString FormatCurrency(double amount) {
    return QLocale().toCurrencyString(amount, CurrencySymbol(), 2);
}

} // namespace tarvina::common
