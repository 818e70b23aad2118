#include "support/CodeTables.h"
#include "support/FaultyFileSystem.h"
#include "support/MemoryFileSystem.h"
#include "xbase/Error.h"

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <map>

namespace tarvina::xbase::test {
namespace {

std::vector<std::pair<std::uint32_t, std::string>> Keys(TableEngine& t, const std::string& tag) {
    return t.TagKeys(tag);
}

std::vector<std::string> PinOrder(TableEngine& t) {
    std::vector<std::string> out;
    for (t.First(); !t.Eof(); t.Next())
        out.push_back(t.GetString("PIN"));
    return out;
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs.MakeFolder("/data");
        OpenNewCodeTable(t, "/data/CajaPIN.dbf");
    }
    MemoryFileSystem fs;
    TableEngine t{fs};
};

TEST_F(EngineTest, SeekFindsPrefixAndComparesStoredBytes) {
    AddCode(t, "A1B2C3", 30, {2024, 5, 1}, "10:00:00");
    AddCode(t, "A10000", 60, {2024, 5, 2}, "09:00:00");
    AddCode(t, "FF0001", 15, {2024, 5, 3}, "08:00:00");
    t.SetOrder("PIN");
    ASSERT_TRUE(t.Seek("A1"));
    EXPECT_EQ(t.GetString("PIN"), "A10000"); // first in tag order with that prefix
    ASSERT_TRUE(t.Seek("A1B2C3"));
    EXPECT_EQ(t.GetInteger("SALDO"), 30);
    EXPECT_FALSE(t.Seek("a1b2c3")); // keys are stored upper case and compared as bytes
    EXPECT_NE(t.GetString("PIN"), "a1b2c3");
    EXPECT_FALSE(t.Seek("A1B2C4"));
    EXPECT_EQ(t.GetString("PIN"), "FF0001"); // soft seek: the next key
    EXPECT_FALSE(t.Seek("FF0002"));
    EXPECT_TRUE(t.Eof());
}

TEST_F(EngineTest, TagsFollowAppendsEditsDeletesAndPack) {
    AddCode(t, "000003", 10, {2024, 1, 3}, "10:00:00", "00-11-22-33-44-55");
    AddCode(t, "000001", 10, {2024, 1, 1}, "10:00:00");
    AddCode(t, "000002", 10, {2024, 1, 2}, "10:00:00");
    t.SetOrder("PIN");
    EXPECT_EQ(PinOrder(t), (std::vector<std::string>{"000001", "000002", "000003"}));
    EXPECT_EQ(Keys(t, "MAC").size(), 1u);

    // An edit that changes the key moves the record in the order.
    ASSERT_TRUE(t.Seek("000001"));
    t.Edit();
    t.SetString("PIN", "000009");
    t.SetString("MAC", "AA-BB-CC-DD-EE-FF");
    t.Post();
    t.Commit();
    EXPECT_EQ(PinOrder(t), (std::vector<std::string>{"000002", "000003", "000009"}));
    auto mac = Keys(t, "MAC");
    ASSERT_EQ(mac.size(), 2u);
    EXPECT_EQ(mac[0].second, "00-11-22-33-44-55");
    EXPECT_EQ(mac[1].second, "AA-BB-CC-DD-EE-FF");

    // A delete drops the record from every tag at once (all carry .not. deleted()).
    ASSERT_TRUE(t.Seek("000003"));
    const std::uint32_t deleted = t.RecNo();
    t.Delete();
    t.Commit();
    EXPECT_TRUE(t.Deleted());
    EXPECT_EQ(PinOrder(t), (std::vector<std::string>{"000002", "000009"}));
    EXPECT_EQ(Keys(t, "MAC").size(), 1u);
    EXPECT_EQ(Keys(t, "FECHOR").size(), 2u);
    EXPECT_EQ(t.RecordCount(), 3u);
    t.SetOrder("");
    t.GoTo(deleted);
    EXPECT_TRUE(t.Deleted());

    t.Pack();
    EXPECT_EQ(t.RecordCount(), 2u);
    t.SetOrder("PIN");
    EXPECT_EQ(PinOrder(t), (std::vector<std::string>{"000002", "000009"}));
    auto pins = Keys(t, "PIN");
    ASSERT_EQ(pins.size(), 2u);
    EXPECT_EQ(pins[0], (std::pair<std::uint32_t, std::string>{2, "000002"}));
    EXPECT_EQ(pins[1], (std::pair<std::uint32_t, std::string>{1, "000009"}));
    EXPECT_TRUE(t.Verify().empty());
}

TEST_F(EngineTest, FieldsReadWithoutTrailingBlanksAndNullDates) {
    t.Append();
    t.SetString("PIN", "ABC");
    t.SetString("EQUIPO", "Sala 1  ");
    t.SetInteger("SALDO", -42);
    t.Post();
    EXPECT_EQ(t.GetString("PIN"), "ABC");
    EXPECT_EQ(t.GetString("EQUIPO"), "Sala 1");
    EXPECT_EQ(t.GetString("MAC"), "");
    EXPECT_TRUE(t.IsNull("MAC"));
    EXPECT_EQ(t.GetInteger("SALDO"), -42);
    EXPECT_FALSE(t.GetDate("CFECHA").has_value());
    EXPECT_TRUE(t.IsNull("CFECHA"));
    t.SetDate("CFECHA", Date{2024, 2, 29});
    t.Post();
    ASSERT_TRUE(t.GetDate("CFECHA").has_value());
    EXPECT_EQ(*t.GetDate("CFECHA"), (Date{2024, 2, 29}));
    EXPECT_EQ(t.GetString("CFECHA"), "20240229");
    t.SetNull("CFECHA");
    t.Post();
    EXPECT_FALSE(t.GetDate("CFECHA").has_value());
    EXPECT_THROW(t.SetDate("CFECHA", Date{2023, 2, 29}), XBaseError);
    EXPECT_THROW(t.SetInteger("SALDO", 10000000000LL), XBaseError); // 11 digits in 9
    EXPECT_THROW(t.GetString("NOPE"), XBaseError);
    t.SetString("EQUIPO", std::string(80, 'x')); // longer than the field: cut
    t.Post();
    EXPECT_EQ(t.GetString("EQUIPO").size(), 64u);
    EXPECT_TRUE(t.FieldExists("equipo"));
    EXPECT_FALSE(t.FieldExists("EQUIP"));
}

TEST_F(EngineTest, IndexTagReplacesSameNameAndReportsProgress) {
    for (int i = 0; i < 50; ++i)
        AddCode(t, std::string(1, char('A' + i % 26)) + std::to_string(10000 + i), i,
                {2024, 3, 1 + i % 28}, "11:22:33", i % 2 ? "00-00-00-00-00-01" : "");
    std::vector<int> seen;
    t.SetGaugeHook([&](int p) { seen.push_back(p); });
    t.IndexTag("", "MAC", "MAC", 0, false, ".not. deleted()");
    t.SetGaugeHook(nullptr);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), 0);
    EXPECT_EQ(seen.back(), 100);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    auto tags = t.Tags();
    ASSERT_EQ(tags.size(), 3u);
    auto mac = std::find_if(tags.begin(), tags.end(), [](auto& x) { return x.name == "MAC"; });
    ASSERT_NE(mac, tags.end());
    EXPECT_EQ(mac->forExpr, ".not. deleted()");
    EXPECT_EQ(Keys(t, "MAC").size(), 50u); // blanks included now
    auto fechor =
        std::find_if(tags.begin(), tags.end(), [](auto& x) { return x.name == "FECHOR"; });
    EXPECT_EQ(fechor->keyExpr, "DTOS(FECHA)+ HORA");
    EXPECT_EQ(fechor->keyLength, 16);
    EXPECT_TRUE(t.Verify().empty());
}

TEST_F(EngineTest, ExclusiveOperationsAndLocks) {
    AddCode(t, "000001", 1, {2024, 1, 1}, "00:00:00");
    TableEngine other(fs);
    EXPECT_THROW(other.Open("/data/CajaPIN.dbf", false), XBaseError); // held exclusively
    t.Close();
    other.Open("/data/cajapin.DBF", false); // names match without regard to case
    TableEngine third(fs);
    third.Open("/DATA/CAJAPIN.DBF", false);
    EXPECT_THROW(third.Pack(), XBaseError);
    EXPECT_THROW(third.IndexTag("", "X", "PIN", 0, false, ""), XBaseError);
    TableEngine excl(fs);
    EXPECT_THROW(excl.Open("/data/CajaPIN.dbf", true), XBaseError);
    EXPECT_THROW(excl.Open("/data/Missing.dbf", false), XBaseError);
}

TEST_F(EngineTest, HandlesSeeEachOtherAtOnce) {
    t.Close();
    TableEngine a(fs), b(fs);
    a.Open("/data", "CAJAPIN.DBF", false);
    b.Open("/data", "CajaPIN.dbf", false);
    a.SetOrder("PIN");
    b.SetOrder("MAC");
    AddCode(a, "C0FFEE", 90, {2024, 6, 1}, "12:00:00");
    b.SetOrder("PIN");
    ASSERT_TRUE(b.Seek("C0FFEE"));
    EXPECT_EQ(b.GetInteger("SALDO"), 90);
    b.Edit();
    b.SetString("MAC", "01-02-03-04-05-06");
    b.Post();
    b.Commit();
    ASSERT_TRUE(a.Seek("C0FFEE"));
    EXPECT_EQ(a.GetString("MAC"), "01-02-03-04-05-06");
    for (int i = 0; i < 300; ++i)
        AddCode(b, "B" + std::to_string(10000 + i), i, {2024, 6, 2}, "12:00:00");
    ASSERT_TRUE(a.Seek("B10299"));
    EXPECT_EQ(a.RecordCount(), 301u);
    a.Delete();
    EXPECT_FALSE(b.Seek("B10299"));
    EXPECT_TRUE(a.Verify().empty());
}

TEST_F(EngineTest, NavigationBofEofAndBookmarks) {
    t.SetOrder("PIN");
    t.First();
    EXPECT_TRUE(t.Eof());
    EXPECT_TRUE(t.Bof());
    AddCode(t, "000002", 1, {2024, 1, 1}, "00:00:00");
    AddCode(t, "000001", 1, {2024, 1, 1}, "00:00:00");
    t.First();
    EXPECT_EQ(t.GetString("PIN"), "000001");
    EXPECT_EQ(t.RecNo(), 2u);
    t.Prior();
    EXPECT_TRUE(t.Bof());
    EXPECT_EQ(t.GetString("PIN"), "000001");
    t.Next();
    EXPECT_EQ(t.GetString("PIN"), "000002");
    t.Next();
    EXPECT_TRUE(t.Eof());
    EXPECT_EQ(t.RecNo(), 0u);
    EXPECT_EQ(t.GetString("PIN"), "");
    t.Prior();
    EXPECT_EQ(t.GetString("PIN"), "000002");
    t.Last();
    EXPECT_EQ(t.RecNo(), 1u);
    t.SetOrder("");
    t.First();
    EXPECT_EQ(t.RecNo(), 1u);
    t.GoTo(2);
    t.SetOrder("PIN");
    t.Next(); // continues in tag order from the bookmark
    EXPECT_EQ(t.GetString("PIN"), "000002");
}

TEST_F(EngineTest, AppendFromCopiesByFieldName) {
    TableEngine old(fs);
    old.CreateNew("/data/CajaPIN.137.dbf", kTableTypeFoxPro, 4);
    old.CreateField("PIN", "C", 6, 0);
    old.CreateField("SALDO", "N", 5, 0);
    old.CreateField("MAC", "C", 12, 0);
    old.CreateField("EXTRA", "C", 3, 0);
    old.CreateExec();
    old.Open("/data/CajaPIN.137.dbf", true);
    old.Append();
    old.SetString("PIN", "ABCDEF");
    old.SetInteger("SALDO", 120);
    old.SetString("MAC", "001122334455");
    old.Post();
    old.Append();
    old.SetString("PIN", "DEAD00");
    old.Post();
    old.Delete();
    old.Close();
    t.AppendFrom("/data/cajapin.137.DBF", kTableTypeFoxPro, "");
    EXPECT_EQ(t.RecordCount(), 2u);
    t.SetOrder("");
    t.First();
    EXPECT_EQ(t.GetString("PIN"), "ABCDEF");
    EXPECT_EQ(t.GetInteger("SALDO"), 120);
    EXPECT_EQ(t.GetString("MAC"), "001122334455");
    EXPECT_EQ(t.GetString("EQUIPO"), "");
    t.Next();
    EXPECT_TRUE(t.Deleted()); // a used-up row stays used up
    EXPECT_EQ(Keys(t, "PIN").size(), 1u);
    EXPECT_TRUE(t.Verify().empty());
}

TEST_F(EngineTest, UpdateRecordsChangesRowsInOnePassAcrossBlocks) {
    constexpr std::uint32_t kRows = 4096 + 100; // more than one read block
    for (std::uint32_t i = 1; i <= kRows; ++i) {
        char pin[8];
        std::snprintf(pin, sizeof pin, "%06u", unsigned(i));
        AddCode(t, pin, 10, {2024, 1, 1}, "10:00:00");
    }
    t.GoTo(7);
    t.Delete();
    t.GoTo(4100);

    const std::uint32_t written =
        t.UpdateRecords(5, 5000, [](std::uint32_t recno, RecordImage& row) {
            if (row.Deleted())
                return;
            row.SetInteger("SALDO", 99);
            if (recno == 4097) // a key that moves to the front of the order
                row.SetString("PIN", "000000");
        });
    EXPECT_EQ(written, kRows - 4 - 1);
    EXPECT_EQ(t.GetInteger("SALDO"), 99); // the current row is read again
    t.GoTo(4);
    EXPECT_EQ(t.GetInteger("SALDO"), 10);
    t.GoTo(7);
    EXPECT_EQ(t.GetInteger("SALDO"), 10); // a deleted row left alone
    t.GoTo(kRows);
    EXPECT_EQ(t.GetInteger("SALDO"), 99);
    t.SetOrder("PIN");
    t.First();
    EXPECT_EQ(t.RecNo(), 4097u);
    EXPECT_TRUE(t.Verify().empty());
    EXPECT_EQ(t.UpdateRecords(kRows + 1, kRows + 9,
                              [](std::uint32_t, RecordImage& row) { row.SetInteger("SALDO", 1); }),
              0u);
}

TEST(EngineCreateTest, RejectsBadDefinitions) {
    MemoryFileSystem fs;
    TableEngine t(fs);
    EXPECT_THROW(t.CreateNew("/x.dbf", 1, 1), XBaseError);
    t.CreateNew("/x.dbf", kTableTypeFoxPro, 2);
    EXPECT_THROW(t.CreateField("1BAD", "C", 5, 0), XBaseError);
    EXPECT_THROW(t.CreateField("GOOD", "C", 0, 0), XBaseError);
    EXPECT_THROW(t.CreateField("GOOD", "M", 10, 0), XBaseError);
    EXPECT_THROW(t.CreateField("ELEVENCHARS", "C", 5, 0), XBaseError);
    t.CreateNew("/x.dbf", kTableTypeFoxPro, 2);
    t.CreateField("A", "C", 5, 0);
    EXPECT_THROW(t.CreateExec(), XBaseError); // one field short
    EXPECT_FALSE(fs.Exists("/x.dbf"));
    fs.SetContents("/X.CDX", {1, 2, 3}); // left over from an older table of that name
    t.CreateNew("/x.dbf", kTableTypeFoxPro, 1);
    t.CreateField("A", "C", 5, 0);
    t.CreateExec();
    EXPECT_FALSE(fs.Exists("/X.CDX"));
    t.Open("/x.dbf", true);
    EXPECT_TRUE(t.Tags().empty());
    EXPECT_THROW(t.IndexTag("", "T", "NOFIELD", 0, false, ""), XBaseError);
    EXPECT_THROW(t.IndexTag("", "T", "UPPER(A)", 0, false, ""), XBaseError);
    EXPECT_THROW(t.IndexTag("", "T", "A", 0, false, "A"), XBaseError);
    EXPECT_THROW(t.IndexTag("", "T", "A", 0, true, ""), XBaseError);
    EXPECT_THROW(t.Seek("x"), XBaseError); // no active tag
}

} // namespace
} // namespace tarvina::xbase::test
