#include "common/Currency.h"

#include <QLocale>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace tarvina::common;

// One test: the symbol is process-wide, so the order of these steps matters.
TEST(CurrencyTest, SystemSymbolUntilTheBusinessNamesOneAndEmptyKeepsIt) {
    EXPECT_EQ(CurrencySymbol(), SystemCurrencySymbol());

    SetCurrencySymbol(QStringLiteral("Bs"));
    EXPECT_EQ(CurrencySymbol(), QStringLiteral("Bs"));
    SetCurrencySymbol(QString());
    EXPECT_EQ(CurrencySymbol(), QStringLiteral("Bs"));

    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Venezuela));
    const QString text = FormatCurrency(123450);
    const QString small = FormatCurrency(-5);
    QLocale::setDefault(previous);
    EXPECT_TRUE(small.contains(QStringLiteral("0,05")) && small.contains(u'-'))
        << small.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Bs"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("1.234,50"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("VES"))) << text.toStdString();

    // Connection threads may format while the cashier changes the currency.
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i)
        readers.emplace_back([] {
            for (int n = 0; n < 2000; ++n) {
                const QString s = CurrencySymbol();
                ASSERT_TRUE(s == QStringLiteral("Bs") || s == QStringLiteral("US$"));
            }
        });
    for (int n = 0; n < 2000; ++n)
        SetCurrencySymbol(n % 2 ? QStringLiteral("Bs") : QStringLiteral("US$"));
    for (auto& t : readers)
        t.join();
}
