// A million codes, the very rows xbase-bench builds: every tag header and
// every leaf against FoxPro's rules, and the code tag's entries against the
// rows.
#include "FoxCdxReader.h"
#include "support/CodeTables.h"
#include "support/TempFolder.h"
#include "xbase/PosixFileSystem.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace tarvina::xbase::test {
namespace {

TEST(MillionRowTest, EveryLeafOfAMillionCodesFollowsFoxProRules) {
    TempFolder dir;
    TableEngine t(RealFileSystem());
    CreateCodeTable(t, dir.file("CajaPIN.dbf"));
    t.Open(dir.file("CajaPIN.dbf"), true);
    const std::uint32_t n = 1000000;
    std::vector<std::pair<std::string, std::uint32_t>> pins;
    pins.reserve(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        AppendGeneratedCode(t, i);
        pins.emplace_back(ScatteredCode(i), i + 1);
    }
    IndexCodeTable(t);
    t.Close();
    std::sort(pins.begin(), pins.end());
    const FoxCdx cdx(dir.file("CajaPIN.cdx"));
    ExpectFoxProTag(cdx, "PIN", "PIN", ".not. deleted()", &pins);
    ExpectFoxProTag(cdx, "MAC", "MAC", ".not. deleted() .and. .not. EMPTY(MAC)", nullptr);
    ExpectFoxProTag(cdx, "FECHOR", "DTOS(FECHA)+ HORA", ".not. deleted()", nullptr);
    // Record numbers up to a million need 20 bits: four bytes for every key
    // length of this table (18 bits are all three bytes leave beside two
    // 3-bit counts).
    EXPECT_EQ(cdx.Tag("PIN").leaves.back().itemBytes, 4);
    EXPECT_EQ(cdx.Tag("PIN").leaves.back().recBits, 26);
    EXPECT_EQ(cdx.Tag("FECHOR").leaves.back().recBits, 22);
    std::size_t macKeys = 0;
    for (const FoxLeaf& leaf : cdx.Tag("MAC").leaves)
        macKeys += leaf.keys.size();
    EXPECT_EQ(macKeys, (n + 2) / 3);
}

} // namespace
} // namespace tarvina::xbase::test
