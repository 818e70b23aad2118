// Index files written by the previous version of the engine (kept under
// data/previous-layout: 504 holding the total of the expression lengths,
// leaves of one and two bytes per entry) still open, verify as layout faults
// only, and are rewritten once into FoxPro's layout with nothing lost.
#include "FoxCdxReader.h"
#include "support/TempFolder.h"
#include "xbase/Error.h"
#include "xbase/PosixFileSystem.h"
#include "xbase/TableEngine.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace tarvina::xbase::test {
namespace {

const std::string kOld = TARVINA_XBASE_PREVIOUS_LAYOUT;

void CopyPrevious(const TempFolder& dir) {
    for (const char* name : {"CajaPIN.dbf", "CajaPIN.cdx", "CajaHPIN.dbf", "CajaHPIN.cdx",
                             "08122026.dbf", "08122026.cdx"})
        std::filesystem::copy_file(kOld + "/" + name, dir.file(name));
}

// Every row with its deletion mark, in file order, read without any index.
std::vector<std::string> Rows(TableEngine& t) {
    std::vector<std::string> out;
    const auto fields = t.Fields();
    t.SetOrder("");
    for (t.First(); !t.Eof(); t.Next()) {
        std::string row = t.Deleted() ? "*" : " ";
        for (const auto& f : fields)
            row += "|" + t.GetString(f.name);
        out.push_back(row);
    }
    return out;
}

// (key, record) pairs a tag must hold, from the rows: live rows that pass the
// condition, computed here by field (the tags of these tables are plain).
std::vector<std::pair<std::string, std::uint32_t>>
Expected(TableEngine& t, const std::vector<std::string>& fields, bool skipBlank) {
    std::vector<std::pair<std::string, std::uint32_t>> out;
    t.SetOrder("");
    for (t.First(); !t.Eof(); t.Next()) {
        if (t.Deleted())
            continue;
        std::string key;
        for (const auto& f : fields) {
            std::string v = t.GetString(f);
            const auto def = t.Fields();
            for (const auto& d : def)
                if (d.name == f)
                    v.resize(std::size_t(d.width), ' ');
            key += v;
        }
        if (skipBlank && key.find_first_not_of(' ') == std::string::npos)
            continue;
        out.emplace_back(key, t.RecNo());
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST(PreviousLayoutTest, OldFilesOpenWithTheirConditionsAndVerifyAsLayoutFaults) {
    TempFolder dir;
    CopyPrevious(dir);
    // The fixture is what the old writer left: 504 = 4 + 16 on tag PIN.
    {
        const FoxCdx old(dir.file("CajaPIN.cdx"));
        EXPECT_EQ(old.Tag("PIN").at504, 20);
        EXPECT_EQ(old.Tag("MAC").at504, 43);
        EXPECT_LT(old.Tag("PIN").leaves.at(0).itemBytes, 3);
    }
    TableEngine t(RealFileSystem());
    t.Open(dir.file("CajaPIN.dbf"), false);
    const auto tags = t.Tags();
    ASSERT_EQ(tags.size(), 3u);
    for (const auto& tag : tags)
        EXPECT_EQ(tag.forExpr,
                  tag.name == "MAC" ? ".not. deleted() .and. .not. EMPTY(MAC)" : ".not. deleted()")
            << tag.name;
    t.SetOrder("PIN");
    EXPECT_TRUE(t.Seek("3779B1")); // through leaves of the old layout
    EXPECT_EQ(t.RecNo(), 2u);
    const auto faults = t.Verify();
    ASSERT_FALSE(faults.empty());
    bool header = false, leaf = false;
    for (const auto& f : faults) {
        header |= f == "tag PIN: header offset 504 holds 20, FoxPro writes 4 (position of the FOR "
                       "expression)";
        leaf |= f.find("byte(s) per entry, FoxPro at least 3") != std::string::npos;
        EXPECT_TRUE(f.find("header offset") != std::string::npos ||
                    f.find("per entry") != std::string::npos)
            << "only layout faults expected: " << f;
    }
    EXPECT_TRUE(header);
    EXPECT_TRUE(leaf);
}

TEST(PreviousLayoutTest, UpgradeRewritesOnceAndKeepsEveryRowAndTag) {
    TempFolder dir;
    CopyPrevious(dir);
    for (const char* table : {"CajaPIN", "CajaHPIN", "08122026"}) {
        SCOPED_TRACE(table);
        const std::string dbf = dir.file(std::string(table) + ".dbf");
        TableEngine t(RealFileSystem());
        t.Open(dbf, false);
        const auto rows = Rows(t);
        const auto tags = t.Tags();
        t.Close();
        t.Open(dbf, true);
        EXPECT_TRUE(t.UpgradeIndexLayout());
        EXPECT_FALSE(t.UpgradeIndexLayout()) << "an upgraded file is left alone";
        EXPECT_TRUE(t.Verify().empty());
        t.Close();
        t.Open(dbf, false);
        EXPECT_EQ(Rows(t), rows);
        const auto after = t.Tags();
        ASSERT_EQ(after.size(), tags.size());
        for (std::size_t i = 0; i < tags.size(); ++i) {
            EXPECT_EQ(after[i].name, tags[i].name);
            EXPECT_EQ(after[i].keyExpr, tags[i].keyExpr);
            EXPECT_EQ(after[i].forExpr, tags[i].forExpr);
        }
    }
    TableEngine t(RealFileSystem());
    t.Open(dir.file("CajaPIN.dbf"), false);
    const FoxCdx cdx(dir.file("CajaPIN.cdx"));
    const auto pins = Expected(t, {"PIN"}, false), macs = Expected(t, {"MAC"}, true);
    ExpectFoxProTag(cdx, "PIN", "PIN", ".not. deleted()", &pins);
    ExpectFoxProTag(cdx, "MAC", "MAC", ".not. deleted() .and. .not. EMPTY(MAC)", &macs);
    const FoxCdx history(dir.file("CajaHPIN.cdx"));
    const std::vector<std::pair<std::string, std::uint32_t>> none;
    ExpectFoxProTag(history, "PINFECHOR", "PIN + DTOS(FECHA)+ HORA", ".not. deleted()", &none);
}

TEST(PreviousLayoutTest, ForExpressionIsFoundWhereverPositionFivehundredFourPutsIt) {
    TempFolder dir;
    CopyPrevious(dir);
    // Another writer may keep the FOR expression anywhere in the pool, with
    // 504 saying where: move it to pool offset 100 in the tag PIN's header.
    const FoxCdx cdx(dir.file("CajaPIN.cdx"));
    const FoxTag& pinTag = cdx.Tag("PIN");
    {
        std::fstream f(dir.file("CajaPIN.cdx"), std::ios::in | std::ios::out | std::ios::binary);
        const std::string cond = "DELETED() .or. .not. deleted()";
        std::string pool(512, '\0');
        pool.replace(0, 4, std::string("PIN") + '\0');
        pool.replace(100, cond.size() + 1, cond + '\0');
        f.seekp(pinTag.header + 512);
        f.write(pool.data(), 512);
        const unsigned char fields[] = {100, 0, static_cast<unsigned char>(cond.size() + 1), 0};
        f.seekp(pinTag.header + 504);
        f.write(reinterpret_cast<const char*>(fields), 4);
    }
    TableEngine t(RealFileSystem());
    t.Open(dir.file("CajaPIN.dbf"), false);
    const auto tags = t.Tags();
    const auto pin =
        std::find_if(tags.begin(), tags.end(), [](const TagInfo& i) { return i.name == "PIN"; });
    ASSERT_NE(pin, tags.end());
    EXPECT_EQ(pin->forExpr, "DELETED() .or. .not. deleted()");
}

} // namespace
} // namespace tarvina::xbase::test
