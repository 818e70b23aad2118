// The bytes of the index files against FoxPro's rules, computed here from the
// rows the test wrote and read back with a reader that shares no code with
// the engine.
#include "FoxCdxReader.h"
#include "support/CodeTables.h"
#include "support/TempFolder.h"
#include "xbase/Error.h"
#include "xbase/PosixFileSystem.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <map>

namespace tarvina::xbase::test {
namespace {

using Entries = std::vector<std::pair<std::string, std::uint32_t>>;

const char* kMacCondition = ".not. deleted() .and. .not. EMPTY(MAC)";

struct CodeRow {
    std::string pin, fecha, hora, mac;
    bool deleted = false;
};

std::string Pad(std::string s, std::size_t n) {
    s.resize(n, ' ');
    return s;
}

// What each tag of the code table must hold for these rows, by FoxPro's
// semantics: live rows only, MAC only when not blank, keys padded to the key
// length, equal keys by record number.
std::map<std::string, Entries> CodeTagEntries(const std::vector<CodeRow>& rows) {
    std::map<std::string, Entries> out;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const CodeRow& r = rows[i];
        const auto rec = std::uint32_t(i + 1);
        if (r.deleted)
            continue;
        out["PIN"].emplace_back(Pad(r.pin, 6), rec);
        out["FECHOR"].emplace_back(Pad(r.fecha, 8) + Pad(r.hora, 8), rec);
        if (r.mac.find_first_not_of(' ') != std::string::npos)
            out["MAC"].emplace_back(Pad(r.mac, 17), rec);
    }
    for (auto& [name, entries] : out)
        std::sort(entries.begin(), entries.end());
    return out;
}

void ExpectCodeTable(const std::string& cdxPath, const std::vector<CodeRow>& rows) {
    const FoxCdx cdx(cdxPath);
    auto want = CodeTagEntries(rows);
    ExpectFoxProTag(cdx, "PIN", "PIN", kNotDeleted, &want["PIN"]);
    ExpectFoxProTag(cdx, "MAC", "MAC", kMacCondition, &want["MAC"]);
    ExpectFoxProTag(cdx, "FECHOR", "DTOS(FECHA)+ HORA", kNotDeleted, &want["FECHOR"]);
    // The tag directory is a compact index too: tag names, and the offsets
    // of the tags' headers as record numbers.
    Entries dir;
    for (const FoxTag& t : cdx.tags)
        dir.emplace_back(Pad(t.name, 10), t.header);
    std::sort(dir.begin(), dir.end());
    ASSERT_EQ(cdx.directory.leaves.size(), 1u);
    const FoxLeaf& leaf = cdx.directory.leaves[0];
    EXPECT_EQ(leaf.attributes, 3);
    EXPECT_EQ(leaf.keys.size(), 3u);
    std::uint32_t largest = 0;
    for (const auto& [name, at] : dir)
        largest = std::max(largest, at);
    const FoxLeafRule rule = FoxRuleFor(10, largest);
    EXPECT_EQ(leaf.itemBytes, rule.itemBytes);
    EXPECT_EQ(leaf.recBits, rule.recBits);
}

TEST(FoxLayoutTest, EmptyTagsHaveFoxProHeadersAndThreeByteLeaves) {
    TempFolder dir;
    TableEngine t(RealFileSystem());
    CreateHistoryTable(t, dir.file("CajaHPIN.dbf"));
    t.Open(dir.file("CajaHPIN.dbf"), true);
    AddTags(t, HistoryTagSpecs());
    t.IndexTag("", "NOFOR", "HORA", 0, false, "");
    t.Close();
    const FoxCdx cdx(dir.file("CajaHPIN.cdx"));
    const Entries none;
    ExpectFoxProTag(cdx, "PIN", "PIN", kNotDeleted, &none);
    ExpectFoxProTag(cdx, "FECHOR", "DTOS(FECHA)+ HORA", kNotDeleted, &none);
    ExpectFoxProTag(cdx, "PINFECHOR", "PIN + DTOS(FECHA)+ HORA", kNotDeleted, &none);
    ExpectFoxProTag(cdx, "NOFOR", "HORA", "", &none);
    // Spelled out for the tag of the issue: 504 = 4 (not 20), and 18+3+3 bits.
    const FoxTag& pin = cdx.Tag("PIN");
    EXPECT_EQ(pin.at504, 4);
    ASSERT_EQ(pin.leaves.size(), 1u);
    EXPECT_EQ(pin.leaves[0].attributes, 3); // a root that is a leaf
    EXPECT_EQ(pin.leaves[0].itemBytes, 3);
    EXPECT_EQ(pin.leaves[0].recBits, 18);
    EXPECT_EQ(pin.leaves[0].freeBytes, 488);
}

TEST(FoxLayoutTest, SmallTableFollowsFoxProRulesBuiltAndChangedRowByRow) {
    TempFolder dir;
    TableEngine t(RealFileSystem());
    OpenNewCodeTable(t, dir.file("CajaPIN.dbf"));
    std::vector<CodeRow> rows;
    for (int i = 0; i < 700; ++i) {
        CodeRow r{ScatteredCode(std::uint32_t(i)),
                  "2026" + std::string(i % 12 < 9 ? "0" : "") + std::to_string(1 + i % 12) + "15",
                  (i % 24 < 10 ? "0" : "") + std::to_string(i % 24) + ":30:00",
                  i % 3 ? "" : "00-1A-2B-3C-4D-" + std::to_string(10 + i % 90)};
        t.Append();
        t.SetString("PIN", r.pin);
        t.SetString("FECHA", r.fecha);
        t.SetString("HORA", r.hora);
        t.SetString("MAC", r.mac);
        t.Post();
        rows.push_back(r);
    }
    // Deletions and key changes split and shrink leaves in place.
    t.SetOrder("");
    for (std::uint32_t r = 7; r <= rows.size(); r += 11) {
        t.GoTo(r);
        t.Delete();
        rows[r - 1].deleted = true;
    }
    for (std::uint32_t r = 2; r <= rows.size(); r += 13) {
        t.GoTo(r);
        t.Edit();
        t.SetString("MAC", "AA-BB-CC-DD-EE-FF");
        t.SetString("HORA", "23:59:59");
        t.Post();
        rows[r - 1].mac = "AA-BB-CC-DD-EE-FF";
        rows[r - 1].hora = "23:59:59";
    }
    t.Close();
    {
        SCOPED_TRACE("changed row by row");
        ExpectCodeTable(dir.file("CajaPIN.cdx"), rows);
    }
    // The same rows packed and rebuilt in one pass.
    t.Open(dir.file("CajaPIN.dbf"), true);
    t.Pack();
    t.Close();
    rows.erase(std::remove_if(rows.begin(), rows.end(), [](const CodeRow& r) { return r.deleted; }),
               rows.end());
    SCOPED_TRACE("packed");
    ExpectCodeTable(dir.file("CajaPIN.cdx"), rows);
}

} // namespace
} // namespace tarvina::xbase::test
