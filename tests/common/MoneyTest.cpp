#include "common/Money.h"

#include <gtest/gtest.h>

using namespace tarvina::common;

TEST(MoneyTest, PricesAsTypedBecomeCentsAndBadOnesAreRefusedInWords) {
    EXPECT_EQ(ParseMoney(QStringLiteral(" 1.20 ")).cents, 120);
    EXPECT_EQ(ParseMoney(QStringLiteral("1,2")).cents, 120);
    EXPECT_EQ(ParseMoney(QStringLiteral("3")).cents, 300);
    EXPECT_EQ(ParseMoney(QStringLiteral(".05")).cents, 5);
    EXPECT_EQ(ParseMoney(QStringLiteral("9999999.99")).cents, kMaxPriceCents);

    for (const char* bad : {"abc", "1.2.3", ".", "1e3", "١٢", "12 30"}) {
        const MoneyParse p = ParseMoney(QString::fromUtf8(bad));
        EXPECT_FALSE(p.cents) << bad;
        EXPECT_TRUE(p.error.contains(QStringLiteral("no es un precio"))) << bad;
    }
    EXPECT_EQ(ParseMoney(QStringLiteral("-1")).error,
              QStringLiteral("Un precio no puede ser negativo."));
    EXPECT_EQ(ParseMoney(QStringLiteral("10000000")).error,
              QStringLiteral("Un precio no puede pasar de 9999999.99."));
    EXPECT_FALSE(ParseMoney(QStringLiteral("99999999999999999999999")).cents);
    EXPECT_FALSE(ParseMoney(QStringLiteral("1.234")).cents);
    EXPECT_EQ(ParseMoney(QString()).error, QStringLiteral("Falta el precio."));
}

TEST(MoneyTest, StoredTextAndHalfUpRounding) {
    EXPECT_EQ(MoneyText(120), QStringLiteral("1.20"));
    EXPECT_EQ(MoneyText(-305), QStringLiteral("-3.05"));
    EXPECT_EQ(MoneyText(0), QStringLiteral("0.00"));
    EXPECT_EQ(ParseMoney(MoneyText(kMaxPriceCents)).cents, kMaxPriceCents);
    EXPECT_EQ(DivideHalfUp(30, 60), 1); // exactly a half goes up
    EXPECT_EQ(DivideHalfUp(29, 60), 0);
    EXPECT_EQ(DivideHalfUp(-30, 60), -1); // and away from zero below it
    EXPECT_EQ(DivideHalfUp(5400, 60), 90);
}
