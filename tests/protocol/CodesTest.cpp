#include "protocol/Codes.h"

#include <QSet>
#include <gtest/gtest.h>

namespace tarvina::protocol {
namespace {

TEST(Codes, TableIsConsistent) {
    QSet<QPair<int, int>> seen;
    for (const CodeInfo& info : AllCodes()) {
        EXPECT_GE(info.code, 0x01);
        EXPECT_LE(info.code, 0xFF);
        const auto key = qMakePair(info.code, int(info.direction));
        EXPECT_FALSE(seen.contains(key)) << info.name;
        seen.insert(key);
        EXPECT_EQ(FindCode(info.code, info.direction), &info);
    }
    EXPECT_EQ(seen.size(), 50 + 20);
}

TEST(Codes, DirectionsAreDistinct) {
    ASSERT_NE(FindCode(tc::LogQuery, Direction::ToClient), nullptr);
    EXPECT_STREQ(FindCode(0x51, Direction::ToClient)->name, "LogQuery");
    EXPECT_STREQ(FindCode(0x51, Direction::ToServer)->name, "LogReport");
    EXPECT_EQ(FindCode(0x51, Direction::ToServer)->follows, Follows::CountedLines);
    EXPECT_EQ(FindCode(ts::Screen, Direction::ToServer)->follows, Follows::Block);
    EXPECT_EQ(FindCode(tc::SendBackground, Direction::ToClient)->follows, Follows::BlockIfPayload);
    // Unassigned codes.
    for (int code : {0x05, 0x0B, 0x17, 0x2A, 0x38, 0x45, 0x47, 0x57, 0xFF})
        EXPECT_EQ(FindCode(code, Direction::ToClient), nullptr) << code;
    EXPECT_NE(FindCode(0x38, Direction::ToServer), nullptr);
    EXPECT_EQ(FindCode(0x03, Direction::ToServer), nullptr);
    EXPECT_EQ(FindCode(-1, Direction::ToServer), nullptr);
}

} // namespace
} // namespace tarvina::protocol
