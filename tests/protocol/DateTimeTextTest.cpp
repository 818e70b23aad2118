#include "protocol/DateTimeText.h"

#include <QLocale>
#include <clocale>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace tarvina::protocol {
namespace {

TEST(DateTimeText, GeneralFormWith15SignificantDigits) {
    EXPECT_EQ(FormatDateTimeNumber(15.0 / 1440.0), "0.0104166666666667");
    EXPECT_EQ(FormatDateTimeNumber(1.0 / 86400.0), "1.15740740740741E-5");
    EXPECT_EQ(FormatDateTimeNumber(45000.0), "45000");
    EXPECT_EQ(FormatDateTimeNumber(0.0), "0");
    EXPECT_EQ(FormatDateTimeNumber(0.5), "0.5");
    EXPECT_EQ(FormatDateTimeNumber(-1.25), "-1.25");
    EXPECT_EQ(FormatDateTimeNumber(0.0001), "0.0001");
    EXPECT_EQ(FormatDateTimeNumber(0.00009), "9E-5");
    EXPECT_EQ(FormatDateTimeNumber(1e15), "1E15");
    EXPECT_EQ(FormatDateTimeNumber(123456789012345.0), "123456789012345");
    // 45000 days and 12:00:01: 15 significant digits in all.
    EXPECT_EQ(FormatDateTimeNumber(45000.0 + 0.5 + 1.0 / 86400.0), "45000.5000115741");
    EXPECT_EQ(FormatDateTimeNumber(std::numeric_limits<double>::quiet_NaN()), "0");
}

TEST(DateTimeText, Parsing) {
    EXPECT_DOUBLE_EQ(*ParseDateTimeNumber("0.0104166666666667"), 0.0104166666666667);
    EXPECT_DOUBLE_EQ(*ParseDateTimeNumber("1.15740740740741E-5"), 1.15740740740741e-5);
    EXPECT_DOUBLE_EQ(*ParseDateTimeNumber(" 45000 "), 45000.0);
    EXPECT_DOUBLE_EQ(*ParseDateTimeNumber("-0,5"), -0.5);
    EXPECT_DOUBLE_EQ(*ParseDateTimeNumber(".5"), 0.5);
    for (const char* bad :
         {"", " ", "abc", "1.2.3", "1e", "nan", "inf", "1e999", "0x10", "1 2", "--1", "."})
        EXPECT_FALSE(ParseDateTimeNumber(bad)) << bad;
}

TEST(DateTimeText, RoundTripUnderCommaLocale) {
    const std::string oldC = std::setlocale(LC_ALL, nullptr);
    bool commaC = false;
    for (const char* name : {"es_ES.UTF-8", "de_DE.UTF-8", "fr_FR.UTF-8", "es_VE.UTF-8"}) {
        if (std::setlocale(LC_ALL, name) &&
            std::strcmp(std::localeconv()->decimal_point, ",") == 0) {
            commaC = true;
            break;
        }
    }
    const QLocale oldQ;
    QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Venezuela));
    ASSERT_EQ(QLocale().decimalPoint(), ",");

    for (double v : {15.0 / 1440.0, 1.0 / 86400.0, 45000.0, 45321.7654321, 2.0 / 86400.0}) {
        const QByteArray text = FormatDateTimeNumber(v);
        EXPECT_FALSE(text.contains(',')) << text.constData();
        const auto back = ParseDateTimeNumber(text);
        ASSERT_TRUE(back) << text.constData();
        EXPECT_NEAR(*back, v, std::abs(v) * 1e-14) << text.constData();
        EXPECT_EQ(FormatDateTimeNumber(*back), text);
    }
    QLocale::setDefault(oldQ);
    std::setlocale(LC_ALL, oldC.c_str());
    if (!commaC)
        std::printf("note: no C locale with a decimal comma installed; only Qt's default locale "
                    "was switched\n");
}

} // namespace
} // namespace tarvina::protocol
