#include "common/Cp1252.h"

#include <gtest/gtest.h>

using namespace tarvina::common;

TEST(Cp1252, EveryByteSurvivesARoundTrip) {
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    const QString text = FromCp1252(all);
    ASSERT_EQ(text.size(), 256);
    EXPECT_EQ(ToCp1252(text), all);
}

TEST(Cp1252, SpecialsAndUndefinedBytes) {
    EXPECT_EQ(FromCp1252("\x80"), QString(QChar(0x20AC)));
    EXPECT_EQ(FromCp1252("\x9F"), QString(QChar(0x0178)));
    EXPECT_EQ(FromCp1252("\x85\x96\x97"), QString::fromUtf8("…–—"));
    // Windows maps the five undefined bytes to the C1 controls of the same number.
    for (unsigned char b : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
        EXPECT_EQ(FromCp1252(QByteArray(1, char(b))), QString(QChar(b)));
        EXPECT_EQ(ToCp1252(QString(QChar(b))), QByteArray(1, char(b)));
    }
    // C1 controls that 1252 assigns to other characters have no byte.
    EXPECT_EQ(ToCp1252(QString(QChar(0x80))), "?");
    EXPECT_EQ(ToCp1252(QString::fromUtf8("Dirección € ñ")), "Direcci\xF3n \x80 \xF1");
    EXPECT_EQ(FromCp1252("Terminaci\xF3n"), QString::fromUtf8("Terminación"));
}

TEST(Cp1252, UnmappableCharactersBecomeQuestionMarks) {
    EXPECT_EQ(ToCp1252(QString::fromUtf8("a中b")), "a?b");
    // One character outside the basic plane is one '?', not two.
    EXPECT_EQ(ToCp1252(QString::fromUtf8("x😀y")), "x?y");
    // A lone surrogate is unmappable too.
    EXPECT_EQ(ToCp1252(QString(QChar(0xD800))), "?");
    EXPECT_TRUE(ToCp1252(QString()).isEmpty());
}
