#include "protocol/Fields.h"

#include <gtest/gtest.h>

namespace tarvina::protocol {
namespace {

TEST(CommaField, FieldsAreTrimmedAndMissingOnesEmpty) {
    const QByteArray payload = " 2880 , Ana\t,\x01"
                               "6162\r";
    EXPECT_EQ(CommaField(payload, 1), "2880");
    EXPECT_EQ(CommaField(payload, 2), "Ana");
    EXPECT_EQ(CommaField(payload, 3), "6162");
    EXPECT_EQ(CommaField(payload, 4), "");
    EXPECT_EQ(CommaField(payload, 0), "");
    EXPECT_EQ(CommaField("30", 1), "30");
    EXPECT_EQ(CommaField("30", 2), "");
    // A grant without password ends with the second comma.
    EXPECT_EQ(CommaField("2880,Ana,", 3), "");
    EXPECT_EQ(CommaField(",,x", 3), "x");
    // Inner blanks stay.
    EXPECT_EQ(CommaField("60, R", 2), "R");
    EXPECT_EQ(CommaField("a b ,c", 1), "a b");
}

TEST(CommaList, QuotingRules) {
    EXPECT_EQ(JoinCommaList({}), "");
    EXPECT_EQ(JoinCommaList({""}), "\"\"");
    EXPECT_EQ(JoinCommaList({"a", "b"}), "a,b");
    EXPECT_EQ(JoinCommaList({"Mi PC", "x,y", "di\"jo", "tab\there"}),
              "\"Mi PC\",\"x,y\",\"di\"\"jo\",\"tab\there\"");
    EXPECT_EQ(JoinCommaList({"", "a"}), ",a");

    EXPECT_TRUE(SplitCommaList("").isEmpty());
    EXPECT_EQ(SplitCommaList("\"\""), QList<QByteArray>{""});
    EXPECT_EQ(SplitCommaList("a,b"), (QList<QByteArray>{"a", "b"}));
    EXPECT_EQ(SplitCommaList("a,"), (QList<QByteArray>{"a", ""}));
    EXPECT_EQ(SplitCommaList(" a , \"b c\" "), (QList<QByteArray>{"a", "b c"}));
    // An unterminated quote runs to the end of the text.
    EXPECT_EQ(SplitCommaList("\"abc,d"), QList<QByteArray>{"abc,d"});
}

TEST(CommaList, RoundTrip) {
    const QList<QList<QByteArray>> lists = {
        {""},
        {"", ""},
        {"Documento - Bloc de notas", "Calculadora"},
        {"\"", "\"\"", ",", " lead", "trail ", "a,\"b\", c"},
        {"Niño", "\x7f", "line\r\nbreak"},
        {"", "x", ""},
    };
    for (const auto& list : lists)
        EXPECT_EQ(SplitCommaList(JoinCommaList(list)), list) << JoinCommaList(list).constData();
}

TEST(HexText, BytesAndWidths) {
    EXPECT_EQ(ToHexText("ab"), "6162");
    EXPECT_EQ(ToHexText(""), "");
    EXPECT_EQ(ToHexText(QByteArray("\x00\xff,", 3)), "00FF2C");
    EXPECT_EQ(FromHexText("6162"), QByteArray("ab"));
    EXPECT_EQ(FromHexText("00ff2c"), QByteArray("\x00\xff,", 3));
    EXPECT_EQ(FromHexText(""), QByteArray());
    EXPECT_FALSE(FromHexText("616"));
    EXPECT_FALSE(FromHexText("6G"));

    EXPECT_EQ(FormatHex(255, 2), "FF");
    EXPECT_EQ(FormatHex(255, 4), "00FF");
    EXPECT_EQ(FormatHex(255, 8), "000000FF");
    EXPECT_EQ(FormatHex(0, 2), "00");
    EXPECT_EQ(FormatHex(0x1234, 2), "1234");
    EXPECT_EQ(ParseHex("FFFF"), 0xFFFFu);
    EXPECT_EQ(ParseHex("00ff"), 0xFFu);
    EXPECT_EQ(ParseHex("0000000000ABCDEF01"), 0xABCDEF01u);
    EXPECT_FALSE(ParseHex("123456789"));
    EXPECT_FALSE(ParseHex(""));
    EXPECT_FALSE(ParseHex("fa iled"));
    EXPECT_FALSE(ParseHex("-1"));
}

TEST(Numbers, MinutesAndIntegers) {
    EXPECT_EQ(FormatMinutes(kUnlimitedMinutes), "2880");
    EXPECT_EQ(FormatMinutes(-5), "-5");
    EXPECT_EQ(ParseInt("30"), 30);
    EXPECT_EQ(ParseInt(" -15"), -15);
    EXPECT_EQ(ParseInt("+7"), 7);
    EXPECT_EQ(ParseInt("2147483647"), 2147483647);
    EXPECT_EQ(ParseInt("-2147483648"), -2147483647 - 1);
    EXPECT_FALSE(ParseInt("2147483648"));
    EXPECT_FALSE(ParseInt("99999999999999999999"));
    EXPECT_FALSE(ParseInt(""));
    EXPECT_FALSE(ParseInt("-"));
    EXPECT_FALSE(ParseInt("12a"));
    EXPECT_FALSE(ParseInt("12 "));
}

TEST(Version, TextAndNumber) {
    EXPECT_EQ(VersionText(2, 6, 3, 0), "V 2.6 (B 3.0)");
    EXPECT_EQ(VersionText(3, 0, 0, 0), "V 3.0 (B 0.0)");
    EXPECT_EQ(VersionNumber("V 2.6 (B 3.0)"), MakeVersionNumber(2, 6, 3, 0));
    EXPECT_EQ(MakeVersionNumber(2, 6, 3, 0), 0x02060300u);
    EXPECT_EQ(VersionNumber("V 2.7 (B 6.1)"), MakeVersionNumber(2, 7, 6, 1));
    EXPECT_GT(VersionNumber(VersionText(3, 0, 0, 0)), MakeVersionNumber(2, 7, 6, 0));
    // Parts that do not convert count 0; missing separators consume nothing.
    EXPECT_EQ(VersionNumber(""), 0u);
    EXPECT_EQ(VersionNumber("garbage"), 0u);
    EXPECT_EQ(VersionNumber("V 2.6"), MakeVersionNumber(2, 0, 0, 6));
    EXPECT_EQ(VersionNumber("V 2.6 (B 3.0.9)"), MakeVersionNumber(2, 6, 3, 9));
    EXPECT_EQ(VersionNumber("V 99999999999.1 (B 1.1)"), MakeVersionNumber(0, 1, 1, 1));
}

} // namespace
} // namespace tarvina::protocol
