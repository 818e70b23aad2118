#include "common/Format.h"

#include <gtest/gtest.h>

using namespace tarvina::common;

TEST(FormatSize, UnitBoundaries) {
    EXPECT_EQ(FormatSize(0), "0 Bytes");
    EXPECT_EQ(FormatSize(1023), "1023 Bytes");
    EXPECT_EQ(FormatSize(1024), "1 KBytes");
    EXPECT_EQ(FormatSize(1048575), "1023 KBytes");
    EXPECT_EQ(FormatSize(1048576), "1 MBytes");
    EXPECT_EQ(FormatSize(10485760), "10 MBytes");
    EXPECT_EQ(FormatSize(2047 * 1024), "1 MBytes");
}

TEST(TaxIdFormat, CountriesWithoutRegardToCase) {
    EXPECT_EQ(TaxIdFormat("Venezuela").label, "R.I.F.");
    EXPECT_EQ(TaxIdFormat("VENEZUELA").mask, "J-00000000-0;1;_");
    EXPECT_EQ(TaxIdFormat("argentina").label, "C.U.I.T.");
    EXPECT_EQ(TaxIdFormat("Argentina").mask, "00-00000000-0;1;_");
    EXPECT_EQ(TaxIdFormat("Uruguay").label, "R.U.C.");
    EXPECT_EQ(TaxIdFormat("Uruguay").mask, "000000000000");
    EXPECT_EQ(TaxIdFormat(QString::fromUtf8("ESPAÑA")).label, "C.I.F.");
    EXPECT_EQ(TaxIdFormat(QString::fromUtf8("España")).mask, "A-00000000");
    for (const char* other : {"Chile", "", "<Otro>", "Venezuela "}) {
        EXPECT_EQ(TaxIdFormat(other).label, "Registro") << other;
        EXPECT_TRUE(TaxIdFormat(other).mask.isEmpty()) << other;
    }
}

TEST(TaxIdFormat, MaskChecks) {
    const QString ve = TaxIdFormat("Venezuela").mask;
    EXPECT_TRUE(TextFitsMask("J-12345678-9", ve));
    EXPECT_FALSE(TextFitsMask("J-1234567-9", ve));
    EXPECT_FALSE(TextFitsMask("J-1234567X-9", ve));
    EXPECT_FALSE(TextFitsMask("123456789", ve)); // the literals are stored with the text
    EXPECT_FALSE(TextFitsMask("J-12345678-9X", ve));
    EXPECT_TRUE(TextFitsMask("123456789012", TaxIdFormat("Uruguay").mask));
    EXPECT_FALSE(TextFitsMask("12345678901", TaxIdFormat("Uruguay").mask));
    EXPECT_TRUE(TextFitsMask("B-12345678", TaxIdFormat(QString::fromUtf8("España")).mask));
    EXPECT_FALSE(TextFitsMask("--12345678", TaxIdFormat(QString::fromUtf8("España")).mask));
    EXPECT_TRUE(TextFitsMask("anything at all", QString()));
    const EditMask m = ParseEditMask(ve);
    EXPECT_EQ(m.pattern, "J-00000000-0");
    EXPECT_TRUE(m.keepsLiterals);
    EXPECT_EQ(m.blank, u'_');
    EXPECT_FALSE(ParseEditMask("00-00;0;*").keepsLiterals);
    EXPECT_TRUE(TextFitsMask("1234", "00-00;0;*"));
}
