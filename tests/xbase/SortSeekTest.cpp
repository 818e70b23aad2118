// Index builds sorted within a memory budget, seeks that never land on a
// deleted row, and exclusive appends that write the header count once per
// batch.
#include "support/CodeTables.h"
#include "support/FaultyFileSystem.h"
#include "support/MemoryFileSystem.h"
#include "support/TempFolder.h"
#include "xbase/Dbf.h"
#include "xbase/Error.h"
#include "xbase/KeySorter.h"
#include "xbase/PosixFileSystem.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <random>

namespace tarvina::xbase::test {
namespace {

using Entry = std::pair<std::string, std::uint32_t>;

std::vector<Entry> Sorted(MemoryFileSystem& fs, std::size_t budget, const std::vector<Entry>& in,
                          std::size_t* runs) {
    std::vector<Entry> out;
    {
        KeySorter sorter(fs, "/work/tag.srt", 5, budget);
        for (const Entry& e : in)
            sorter.Add(reinterpret_cast<const unsigned char*>(e.first.data()), e.second);
        EXPECT_EQ(sorter.Count(), in.size());
        *runs = sorter.Runs();
        sorter.Drain([&](const unsigned char* k, std::uint32_t r) {
            out.emplace_back(std::string(reinterpret_cast<const char*>(k), 5), r);
        });
    }
    EXPECT_FALSE(fs.Exists("/work/tag.srt")) << "the work file outlives the sort";
    return out;
}

TEST(KeySorterTest, RunsOnDiskMergeToTheSameOrderAsOneSortInMemory) {
    std::mt19937 rng(7);
    std::vector<Entry> in;
    // Few distinct keys, so equal keys must come out by record number; bytes
    // above 0x7F must sort after blanks and digits (unsigned comparison).
    const std::string alphabet = std::string("09 AZ") + char(0xE9) + char(0xFF);
    for (std::uint32_t r = 1; r <= 20000; ++r) {
        std::string k(5, ' ');
        for (char& c : k)
            c = alphabet[rng() % 3 == 0 ? rng() % alphabet.size() : 0];
        in.emplace_back(k, (r * 7919u) % 20011u + 1);
    }
    std::vector<Entry> want = in;
    std::sort(want.begin(), want.end(), [](const Entry& a, const Entry& b) {
        const int c = std::memcmp(a.first.data(), b.first.data(), 5);
        return c != 0 ? c < 0 : a.second < b.second;
    });
    MemoryFileSystem fs;
    fs.MakeFolder("/work");
    std::size_t runs = 0;
    EXPECT_EQ(Sorted(fs, std::size_t(1) << 24, in, &runs), want);
    EXPECT_EQ(runs, 0u) << "a sort that fits its budget writes no runs";
    EXPECT_EQ(Sorted(fs, 30000, in, &runs), want);
    EXPECT_GT(runs, 10u);
    EXPECT_EQ(Sorted(fs, 30000, {}, &runs), std::vector<Entry>());
}

TEST(KeySorterTest, TagsBuiltInRunsHoldEveryRowAndLeaveNoWorkFiles) {
    // Enough rows that the FECHOR build, and the pack that builds three tags
    // at once, sort in runs on disk.
    MemoryFileSystem fs;
    fs.MakeFolder("/data");
    TableEngine t(fs);
    CreateCodeTable(t, "/data/CajaPIN.dbf");
    t.Open("/data/CajaPIN.dbf", true);
    const std::uint32_t n = 260000;
    for (std::uint32_t i = 0; i < n; ++i) {
        char hora[12];
        std::snprintf(hora, sizeof hora, "%02u:%02u:%02u", i % 24, (i / 24) % 60, (i / 7) % 60);
        t.Append();
        t.SetString("PIN", ScatteredCode(i));
        t.SetDate("FECHA", Date{2020 + int(i % 7), 1 + int(i % 12), 1 + int(i % 28)});
        t.SetString("HORA", hora);
        if (i % 5 == 0)
            t.SetString("MAC", "00-1A-2B-3C-4D-" + std::to_string(10 + i % 90));
        t.Post();
    }
    IndexCodeTable(t);
    EXPECT_TRUE(t.Verify().empty());
    for (std::uint32_t r = 1; r <= n; r += 4) {
        t.GoTo(r);
        t.Delete();
    }
    t.Pack();
    const std::uint32_t kept = n - (n + 3) / 4;
    EXPECT_EQ(t.RecordCount(), kept);
    EXPECT_TRUE(t.Verify().empty());
    EXPECT_EQ(t.TagKeys("FECHOR").size(), kept);
    for (const std::string& name : fs.List("/data"))
        EXPECT_TRUE(name == "CajaPIN.dbf" || name == "CajaPIN.cdx") << name;
    t.SetOrder("PIN");
    EXPECT_TRUE(t.Seek("3779B1")); // (1 * 2654435761) & 0xFFFFFF, record 2 before the pack
    EXPECT_EQ(t.RecNo(), 1u);
}

class DeletedSeekTest : public ::testing::Test {
protected:
    void SetUp() override {
        OpenNewCodeTable(t, dir.file("CajaPIN.dbf"));
        t.IndexTag("", "PLAIN", "PIN", 0, false, ""); // a tag that keeps deleted rows
        for (const char* pin : {"AB0001", "AB0002", "C00001", "C00002", "D00001"})
            AddCode(t, pin, 60, {2026, 12, 9}, "10:00:00");
        t.Close();
    }
    TempFolder dir;
    TableEngine t{RealFileSystem()};
};

TEST_F(DeletedSeekTest, DeletedRowsAreNeverFoundUnderATagThatKeepsThem) {
    t.Open(dir.file("CajaPIN.dbf"), false);
    t.SetOrder("PLAIN");
    for (std::uint32_t r : {1u, 3u, 4u}) {
        t.GoTo(r);
        t.Delete();
    }
    t.Commit();
    EXPECT_EQ(t.TagKeys("PLAIN").size(), 5u); // the tag still holds them
    t.SetOrder("PLAIN");
    ASSERT_TRUE(t.Seek("AB")); // the first match is deleted: the next one is found
    EXPECT_EQ(t.GetString("PIN"), "AB0002");
    EXPECT_FALSE(t.Deleted());
    EXPECT_FALSE(t.Seek("AB0001"));
    EXPECT_NE(t.GetString("PIN"), "AB0001");
    EXPECT_FALSE(t.Seek("C0")); // every match deleted: soft seek lands past them
    EXPECT_EQ(t.GetString("PIN"), "D00001");
    t.GoTo(5);
    t.Delete();
    EXPECT_FALSE(t.Seek("C"));
    EXPECT_TRUE(t.Eof());
}

TEST_F(DeletedSeekTest, RowDeletedByAnotherProgramBehindTheIndexIsNotFound) {
    // Another engine marks a code used up in the table but leaves the tag as
    // it was (as one that ignored the tag's condition would).
    {
        std::FILE* f = std::fopen(dir.file("CajaPIN.dbf").c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        const long header = 32 + 32 * 8 + 1, length = 1 + 6 + 9 + 8 + 8 + 8 + 8 + 17 + 64;
        std::fseek(f, header + 2 * length, SEEK_SET); // record 3, C00001
        std::fputc('*', f);
        std::fclose(f);
    }
    t.Open(dir.file("CajaPIN.dbf"), false);
    t.SetOrder("PIN");
    EXPECT_EQ(t.TagKeys("PIN").size(), 5u);
    // The tag still names the row; reading it moves on to the next live one,
    // so a caller comparing the code it reads never takes the deleted one.
    t.Seek("C00001");
    EXPECT_EQ(t.GetString("PIN"), "C00002");
    EXPECT_FALSE(t.Deleted());
    EXPECT_EQ(t.RecNo(), 4u);
    t.Seek("C0");
    EXPECT_FALSE(t.Deleted());
    EXPECT_EQ(t.RecNo(), 4u);
    t.Next(); // the order goes on from where the cursor moved
    EXPECT_EQ(t.GetString("PIN"), "D00001");
    EXPECT_FALSE(t.Verify().empty()); // and the tag's extra entry is a fault
}

TEST(HeldCountTest, ExclusiveAppendsReachTheFileInBlocksAndTheCountPerBatch) {
    MemoryFileSystem disk;
    disk.MakeFolder("/data");
    {
        TableEngine t(disk);
        CreateCodeTable(t, "/data/CajaPIN.dbf");
    }
    auto headerCount = [&] {
        const auto b = disk.Contents("/data/CajaPIN.dbf");
        return std::uint32_t(b[4] | b[5] << 8 | b[6] << 16 | std::uint32_t(b[7]) << 24);
    };
    FaultyFileSystem faulty(disk);
    {
        TableEngine t(faulty);
        t.Open("/data/CajaPIN.dbf", true);
        for (int i = 0; i < 5; ++i)
            AddCode(t, "P0000" + std::to_string(i), 10, {2026, 12, 9}, "10:00:00");
        EXPECT_EQ(headerCount(), 5u) << "a commit writes the count";
        const int before = faulty.Writes();
        for (int i = 0; i < 1000; ++i) { // 121 000 bytes of rows
            t.Append();
            t.SetString("PIN", "Q" + std::to_string(10000 + i));
            t.Post();
        }
        EXPECT_EQ(faulty.Writes() - before, 1) << "one write per 64 KB of rows";
        EXPECT_EQ(headerCount(), 5u);
        EXPECT_EQ(t.RecordCount(), 1005u);
        t.GoTo(1005); // a read of the file writes what is held first
        EXPECT_EQ(t.GetString("PIN"), "Q10999");
        EXPECT_EQ(faulty.Writes() - before, 2);
        faulty.CrashAfterBytes(0); // the process dies before its next commit
    }
    TableEngine t(disk);
    t.Open("/data/CajaPIN.dbf", false);
    EXPECT_EQ(t.RecordCount(), 5u) << "rows never committed are not counted";
    ASSERT_FALSE(t.Notices().empty());
    AddCode(t, "NEWONE", 10, {2026, 12, 9}, "11:00:00");
    t.GoTo(6);
    EXPECT_EQ(t.GetString("PIN"), "NEWONE");
    EXPECT_EQ(headerCount(), 6u);
    t.Close();
    t.Open("/data/CajaPIN.dbf", true);
    t.Append();
    t.SetString("PIN", "LAST01");
    t.Close(); // a close writes the count as well
    EXPECT_EQ(headerCount(), 7u);
}

} // namespace
} // namespace tarvina::xbase::test
