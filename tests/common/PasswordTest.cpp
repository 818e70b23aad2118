#include "common/Password.h"

#include <gtest/gtest.h>
#include <map>
#include <random>
#include <vector>

using tarvina::common::ScramblePassword;

namespace {

// The rule written out again, independently: positions counted from the end
// for rule 1, a lookup table for the forbidden bytes.
std::vector<int> Expected(const std::vector<int>& in) {
    static const std::map<int, int> forbidden = {{0, 241}, {10, 106}, {13, 252}, {44, 58}};
    const int n = int(in.size());
    std::vector<int> out;
    for (int k = 0; k < n; ++k) {
        const int position = k + 1;
        const int fromEnd = n - position; // 0 for the last byte
        int key;
        if (in[k] % 7 == 3)
            key = (fromEnd + 24) & 0xFF;
        else if (position % 11 == 3 || position % 11 == 7)
            key = (position + 128) & 0xFF;
        else
            key = 132;
        int r = in[k] ^ key;
        if (auto f = forbidden.find(r); f != forbidden.end())
            r = f->second;
        out.push_back(r);
    }
    return out;
}

std::vector<int> Scramble(const std::vector<int>& in) {
    QByteArray b;
    for (int v : in)
        b += char(v);
    const QByteArray s = ScramblePassword(b);
    std::vector<int> out;
    for (char c : s)
        out.push_back(static_cast<unsigned char>(c));
    return out;
}

} // namespace

TEST(ScramblePassword, KnownValuesByHand) {
    // 'a' 97%7=6 -> ^0x84; 'b' 98%7=0 -> ^0x84; 'c' at 3 -> ^(3+128).
    EXPECT_EQ(ScramblePassword("abc"), QByteArray("\xE5\xE6\xE0"));
    EXPECT_TRUE(ScramblePassword("").isEmpty());
    // 17 % 7 == 3: keyed by the distance to the end: n=5, i=2 -> 17^27 = 10,
    // a line feed, which becomes 'j'.
    EXPECT_EQ(Scramble({65, 17, 65, 65, 65})[1], 0x6A);
    // Each forbidden result and its replacement.
    EXPECT_EQ(Scramble({0x84}), std::vector<int>{0xF1});
    EXPECT_EQ(Scramble({0x8E}), std::vector<int>{0x6A});
    EXPECT_EQ(Scramble({0x89}), std::vector<int>{0xFC});
    EXPECT_EQ(Scramble({0xA8}), std::vector<int>{0x3A});
}

TEST(ScramblePassword, MatchesTheRuleForEveryByteAndLength) {
    std::mt19937 rng(1234);
    for (int n : {1, 2, 3, 7, 11, 14, 18, 40, 255, 256, 257, 300, 600}) {
        for (int round = 0; round < 20; ++round) {
            std::vector<int> in(n);
            for (int& v : in)
                v = int(rng() % 256);
            ASSERT_EQ(Scramble(in), Expected(in)) << "length " << n;
        }
    }
    // Every byte value at every position class.
    for (int pos = 0; pos < 22; ++pos) {
        for (int c = 0; c < 256; ++c) {
            std::vector<int> in(30, 'x');
            in[pos] = c;
            const std::vector<int> out = Scramble(in);
            ASSERT_EQ(out, Expected(in));
            for (int v : out) {
                ASSERT_NE(v, 0x00);
                ASSERT_NE(v, 0x0A);
                ASSERT_NE(v, 0x0D);
                ASSERT_NE(v, 0x2C);
            }
        }
    }
}
