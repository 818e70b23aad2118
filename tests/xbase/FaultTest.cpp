#include "support/CodeTables.h"
#include "support/FaultyFileSystem.h"
#include "support/MemoryFileSystem.h"
#include "xbase/Cdx.h"
#include "xbase/Dbf.h"
#include "xbase/Error.h"

#include <gtest/gtest.h>
#include <random>

namespace tarvina::xbase::test {
namespace {

using Bytes = std::vector<unsigned char>;
const char* kDbf = "/data/CajaPIN.dbf";
const char* kCdx = "/data/CajaPIN.cdx";

std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24;
}

// A code table with `n` committed codes and its three tags.
void MakeTable(MemoryFileSystem& fs, int n) {
    fs.MakeFolder("/data");
    TableEngine t(fs);
    OpenNewCodeTable(t, kDbf);
    for (int i = 0; i < n; ++i)
        AddCode(t, "P" + std::to_string(10000 + i), i, {2024, 1, 1 + i % 28}, "10:00:00",
                i % 2 ? "00-00-00-00-00-0" + std::to_string(i % 10) : "");
    t.Close();
}

struct Snapshot {
    Bytes dbf, cdx;
    explicit Snapshot(MemoryFileSystem& fs) : dbf(fs.Contents(kDbf)), cdx(fs.Contents(kCdx)) {}
    void Restore(MemoryFileSystem& fs) const {
        fs.MakeFolder("/data");
        fs.SetContents(kDbf, dbf);
        fs.SetContents(kCdx, cdx);
    }
};

void ExpectCommittedIntact(MemoryFileSystem& fs, int committed, bool mayHaveOneMore) {
    TableEngine t(fs);
    t.Open(kDbf, false);
    const std::uint32_t count = t.RecordCount();
    const std::uint64_t size = fs.Contents(kDbf).size();
    const std::uint64_t header = 32 + 32 * 8 + 1, length = 1 + 6 + 9 + 8 + 8 + 8 + 8 + 17 + 64;
    EXPECT_GE(size, header + count * length); // the count never exceeds whole records
    EXPECT_TRUE(count == std::uint32_t(committed) ||
                (mayHaveOneMore && count == std::uint32_t(committed + 1)))
        << count;
    for (int i = 0; i < committed; ++i) {
        t.GoTo(std::uint32_t(i + 1));
        EXPECT_EQ(t.GetString("PIN"), "P" + std::to_string(10000 + i));
        EXPECT_EQ(t.GetInteger("SALDO"), i);
    }
}

TEST(CrashTest, KilledDuringAppendLeavesCommittedRecordsAndAFixableIndex) {
    MemoryFileSystem base;
    MakeTable(base, 40);
    const Snapshot before(base);
    // How many bytes one append writes, to crash at every point of it.
    std::int64_t total = 0;
    {
        FaultyFileSystem probe(base);
        TableEngine t(probe);
        t.Open(kDbf, false);
        AddCode(t, "NEWONE", 5, {2024, 2, 1}, "11:00:00", "AA-AA-AA-AA-AA-AA");
        total = probe.BytesWritten();
    }
    ASSERT_GT(total, 100);
    for (std::int64_t cut = 0; cut < total; cut += 7) {
        MemoryFileSystem disk;
        before.Restore(disk);
        FaultyFileSystem faulty(disk);
        faulty.CrashAfterBytes(cut);
        {
            TableEngine t(faulty);
            t.Open(kDbf, false);
            try {
                AddCode(t, "NEWONE", 5, {2024, 2, 1}, "11:00:00", "AA-AA-AA-AA-AA-AA");
            } catch (const XBaseError&) {
            }
        } // the process dies here: nothing more reaches the disk
        SCOPED_TRACE("crash after " + std::to_string(cut) + " bytes");
        ExpectCommittedIntact(disk, 40, true);
        TableEngine t(disk);
        t.Open(kDbf, true);
        t.Reindex(); // at worst the index needs a rebuild
        EXPECT_TRUE(t.Verify().empty());
    }
}

TEST(CrashTest, KilledDuringEditAndPackKeepsOtherRecords) {
    MemoryFileSystem base;
    MakeTable(base, 30);
    const Snapshot before(base);
    for (std::int64_t cut : {0, 3, 50, 150, 400, 700, 1200, 5000, 20000}) {
        MemoryFileSystem disk;
        before.Restore(disk);
        FaultyFileSystem faulty(disk);
        faulty.CrashAfterBytes(cut);
        {
            TableEngine t(faulty);
            t.Open(kDbf, true);
            try {
                t.GoTo(30);
                t.Delete();
                t.GoTo(30);
                t.Pack();
            } catch (const XBaseError&) {
            }
        }
        SCOPED_TRACE("crash after " + std::to_string(cut) + " bytes");
        TableEngine t(disk);
        t.Open(kDbf, true);
        // Either the old table (30, the last maybe marked deleted) or the packed one (29).
        const std::uint32_t count = t.RecordCount();
        EXPECT_TRUE(count == 29 || count == 30) << count;
        for (std::uint32_t i = 1; i <= 29; ++i) {
            t.GoTo(i);
            EXPECT_EQ(t.GetString("PIN"), "P" + std::to_string(10000 + i - 1));
        }
        t.Reindex();
        EXPECT_TRUE(t.Verify().empty());
    }
}

TEST(CrashTest, FailedAndShortWritesAreReportedNotHidden) {
    MemoryFileSystem base;
    MakeTable(base, 5);
    for (int mode = 0; mode < 3; ++mode) {
        for (int n = 1; n <= 6; ++n) {
            MemoryFileSystem disk;
            Snapshot(base).Restore(disk);
            FaultyFileSystem faulty(disk);
            if (mode == 0)
                faulty.FailWrite(n);
            else if (mode == 1)
                faulty.ShortWrite(n);
            else
                faulty.FailSync(true);
            TableEngine t(faulty);
            t.Open(kDbf, false);
            bool threw = false;
            try {
                AddCode(t, "ZZZZZZ", 1, {2024, 1, 1}, "00:00:00");
            } catch (const XBaseError& e) {
                threw = true;
                EXPECT_EQ(e.code(), XBaseError::Code::Io);
            }
            EXPECT_TRUE(threw || (mode < 2 && n > faulty.Writes()));
            t.Close();
            ExpectCommittedIntact(disk, 5, true);
        }
    }
}

TEST(DamageTest, TruncatedAndContradictoryTablesAreReported) {
    MemoryFileSystem fs;
    MakeTable(fs, 3);
    const Bytes good = fs.Contents(kDbf);
    auto openCode = [&](const Bytes& bytes) {
        fs.SetContents(kDbf, bytes);
        TableEngine t(fs);
        try {
            t.Open(kDbf, false);
        } catch (const XBaseError& e) {
            return e.code();
        }
        return XBaseError::Code::Invalid; // opened
    };
    EXPECT_EQ(openCode(Bytes(good.begin(), good.begin() + 20)), XBaseError::Code::Damaged);
    EXPECT_EQ(openCode(Bytes(good.begin(), good.begin() + 100)), XBaseError::Code::Damaged);
    Bytes longHeader = good;
    longHeader[8] = 0xFF;
    longHeader[9] = 0x7F;
    EXPECT_EQ(openCode(longHeader), XBaseError::Code::Damaged);
    Bytes badRecordLength = good;
    badRecordLength[10] += 1;
    EXPECT_EQ(openCode(badRecordLength), XBaseError::Code::Damaged);
    Bytes noTerminator = good;
    noTerminator[32 + 32 * 8] = 'X';
    EXPECT_EQ(openCode(noTerminator), XBaseError::Code::Damaged);

    // A count above what the file holds is believed only as far as whole records go.
    Bytes cut(good.begin(), good.end() - 150);
    fs.SetContents(kDbf, cut);
    TableEngine t(fs);
    t.Open(kDbf, false);
    EXPECT_EQ(t.RecordCount(), 1u);
    ASSERT_FALSE(t.Notices().empty());
    EXPECT_NE(t.Notices()[0].find("damaged"), std::string::npos);
    EXPECT_FALSE(t.Verify().empty());
}

TEST(DamageTest, RecordsPastTheCountAreUncommittedAndOverwritten) {
    MemoryFileSystem fs;
    MakeTable(fs, 3);
    Bytes b = fs.Contents(kDbf);
    b[4] = 2; // an append whose count never reached the header
    fs.SetContents(kDbf, b);
    {
        TableEngine t(fs);
        t.Open(kDbf, true);
        EXPECT_EQ(t.RecordCount(), 2u);
        EXPECT_EQ(t.Notices().size(), 1u);
        t.Reindex();
        AddCode(t, "AFTER1", 1, {2024, 1, 1}, "00:00:00");
        EXPECT_EQ(t.RecordCount(), 3u);
    }
    const std::size_t expected = 32 + 32 * 8 + 1 + 3 * 129 + 1;
    EXPECT_EQ(fs.Contents(kDbf).size(), expected);
    EXPECT_EQ(fs.Contents(kDbf).back(), 0x1A);
}

TEST(DamageTest, BrokenIndexNodesAreReportedWithoutHangingOrReadingOutside) {
    MemoryFileSystem fs;
    MakeTable(fs, 400); // several leaves per tag
    const Bytes good = fs.Contents(kCdx);
    // Find the PIN tag's root: the directory is one leaf at 1024.
    TableEngine probe(fs);
    probe.Open(kDbf, false);
    probe.Close();
    CdxFile cdx(fs.Open(kCdx, false), kCdx, true);
    const int pin = cdx.TagIndex("PIN");
    ASSERT_GE(pin, 0);
    const std::uint32_t root = cdx.Tags()[std::size_t(pin)].root;
    ASSERT_EQ(good[root] & 2, 0) << "root should be interior";
    auto check = [&](const Bytes& bytes, const std::string& what) {
        SCOPED_TRACE(what);
        fs.SetContents(kCdx, bytes);
        TableEngine t(fs);
        try {
            t.Open(kDbf, false);
        } catch (const XBaseError& e) {
            EXPECT_EQ(e.code(), XBaseError::Code::Damaged);
            return;
        }
        EXPECT_FALSE(t.Verify().empty());
        t.SetOrder("PIN");
        try {
            for (t.First(); !t.Eof(); t.Next()) {
            }
            t.Seek("P10399");
        } catch (const XBaseError& e) {
            EXPECT_EQ(e.code(), XBaseError::Code::Damaged);
        }
    };
    const std::size_t child0 = root + 12 + 6 + 4; // first entry's child pointer (big endian)
    Bytes outside = good;
    outside[child0] = 0x7F;
    check(outside, "child outside the file");
    Bytes cycle = good;
    cycle[child0] = static_cast<unsigned char>(root >> 24);
    cycle[child0 + 1] = static_cast<unsigned char>(root >> 16);
    cycle[child0 + 2] = static_cast<unsigned char>(root >> 8);
    cycle[child0 + 3] = static_cast<unsigned char>(root);
    check(cycle, "child pointing at its parent");
    Bytes truncated(good.begin(), good.begin() + long(good.size() - 700));
    check(truncated, "file cut short");
    Bytes badTag = good;
    badTag[1024 + 24] ^= 0x40; // tag directory item: header offset
    check(badTag, "tag header offset broken");
    check(Bytes(good.begin(), good.begin() + 600), "shorter than its header");
    fs.SetContents(kCdx, good);
}

TEST(DamageTest, RandomCorruptionNeverEscapesAsAnythingButAnEngineError) {
    MemoryFileSystem fs;
    MakeTable(fs, 300);
    const Bytes good = fs.Contents(kCdx);
    const Bytes goodDbf = fs.Contents(kDbf);
    std::mt19937 rng(1234);
    for (int round = 0; round < 300; ++round) {
        Bytes cdx = good, dbf = goodDbf;
        Bytes& victim = round % 4 == 0 ? dbf : cdx;
        const int flips = 1 + int(rng() % 8);
        for (int i = 0; i < flips; ++i)
            victim[rng() % victim.size()] = static_cast<unsigned char>(rng());
        fs.SetContents(kCdx, cdx);
        fs.SetContents(kDbf, dbf);
        try {
            TableEngine t(fs);
            t.Open(kDbf, false);
            t.Verify();
            for (const auto& tag : t.Tags()) {
                try {
                    t.SetOrder(tag.name);
                    int steps = 0;
                    for (t.First(); !t.Eof() && steps < 2000; t.Next())
                        ++steps;
                    EXPECT_LT(steps, 2000);
                    t.Seek("P1");
                    t.Last();
                    t.Prior();
                } catch (const XBaseError&) {
                }
            }
        } catch (const XBaseError&) {
        }
    }
}

TEST(DbfFormatTest, WritesFoxProHeaderAndReadsClipperHeaders) {
    MemoryFileSystem fs;
    MakeTable(fs, 2);
    const Bytes b = fs.Contents(kDbf);
    EXPECT_EQ(b[0], 0x03);
    EXPECT_EQ(Le32(b, 4), 2u);
    EXPECT_EQ(b[8] | b[9] << 8, 32 + 32 * 8 + 1);
    EXPECT_EQ(b[10] | b[11] << 8, 129);
    EXPECT_EQ(b[28], 0x01); // structural index present
    EXPECT_EQ(b[29], 0x03);
    EXPECT_EQ(std::string(b.begin() + 32, b.begin() + 35), "PIN");
    EXPECT_EQ(b[32 + 11], 'C');
    EXPECT_EQ(Le32(b, 32 + 32 + 12), 7u); // SALDO follows the flag byte and PIN
    EXPECT_EQ(b[32 + 32 * 8], 0x0D);
    EXPECT_EQ(b.size(), 32 + 32 * 8 + 1 + 2 * 129 + 1u);
    EXPECT_EQ(b.back(), 0x1A);
    EXPECT_EQ(b[32 + 32 * 8 + 1], ' ');

    // The same table as Clipper lays it out: a NUL after the terminator.
    Bytes clipper(b.begin(), b.begin() + 32 + 32 * 8 + 1);
    clipper.push_back(0);
    clipper.insert(clipper.end(), b.begin() + 32 + 32 * 8 + 1, b.end());
    clipper[8] = static_cast<unsigned char>((32 + 32 * 8 + 2) & 0xFF);
    clipper[9] = static_cast<unsigned char>((32 + 32 * 8 + 2) >> 8);
    fs.SetContents("/data/Clip.dbf", clipper);
    TableEngine t(fs);
    t.Open("/data/clip.dbf", false);
    EXPECT_EQ(t.RecordCount(), 2u);
    t.GoTo(2);
    EXPECT_EQ(t.GetString("PIN"), "P10001");
    EXPECT_TRUE(t.Notices().size() <= 1u); // no index file beside it
}

} // namespace
} // namespace tarvina::xbase::test
