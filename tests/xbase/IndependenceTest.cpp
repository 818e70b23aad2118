// Reads the files this engine writes with xBase readers that share no code
// with it (Debian's Perl XBase and Python dbf/dbfread), and reads tables that
// Python's dbf writes.
#include "support/CodeTables.h"
#include "support/TempFolder.h"
#include "xbase/PosixFileSystem.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>

namespace tarvina::xbase::test {
namespace {

struct Result {
    int status = -1;
    std::string out;
};

Result RunChild(const std::string& command) {
    Result r;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return r;
    std::array<char, 4096> buf{};
    std::size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0)
        r.out.append(buf.data(), n);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        out.push_back(line);
    return out;
}

std::string Hex(const std::string& bytes) {
    static const char* d = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(d[c >> 4]);
        out.push_back(d[c & 15]);
    }
    return out;
}

// Trailing blanks are left out of a leaf and come back as blanks here, as NUL
// bytes or not at all from other readers: compare keys without them.
std::string StripTrailing(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
        s.pop_back();
    return s;
}

const char* kPerlTags = R"PERL(
use strict;
use XBase::Index;
my ($cdx) = @ARGV;
my $top = XBase::Index->new($cdx, type => 'C') or die XBase::Index->errstr;
for my $tag ($top->tags) {
    my $idx = XBase::Index->new($cdx, tag => $tag, type => 'C') or die XBase::Index->errstr;
    print "TAG\t$tag\t$idx->{key_string}\t$idx->{for_string}\t$idx->{key_length}\n";
    $idx->prepare_select;
    while (my ($key, $rec) = $idx->fetch) {
        print "KEY\t", unpack('H*', $key), "\t$rec\n";
    }
}
)PERL";

// What Perl's XBase::Index sees, in the same line format built from our side.
std::string OurTagDump(TableEngine& t) {
    std::vector<TagInfo> tags = t.Tags();
    std::sort(tags.begin(), tags.end(),
              [](const TagInfo& a, const TagInfo& b) { return a.name < b.name; });
    std::string out;
    for (const auto& tag : tags) {
        out += "TAG\t" + tag.name + "\t" + tag.keyExpr + "\t" + tag.forExpr + "\t" +
               std::to_string(tag.keyLength) + "\n";
        for (const auto& [rec, key] : t.TagKeys(tag.name))
            out += "KEY\t" + Hex(StripTrailing(key)) + "\t" + std::to_string(rec) + "\n";
    }
    return out;
}

std::string NormalizePerl(const std::string& text) {
    std::string out;
    for (const std::string& line : Lines(text)) {
        if (line.rfind("KEY\t", 0) == 0) {
            const auto tab = line.find('\t', 4);
            std::string hex = line.substr(4, tab - 4);
            while (hex.size() >= 2 && (hex.compare(hex.size() - 2, 2, "20") == 0 ||
                                       hex.compare(hex.size() - 2, 2, "00") == 0))
                hex.resize(hex.size() - 2);
            out += "KEY\t" + hex + line.substr(tab) + "\n";
        } else {
            out += line + "\n";
        }
    }
    return out;
}

void FillCodes(TableEngine& t, int n) {
    for (int i = 0; i < n; ++i) {
        t.Append();
        t.SetString("PIN", ScatteredCode(std::uint32_t(i)));
        t.SetInteger("SALDO", i % 500);
        t.SetDate("FECHA", Date{2024, 1 + i % 12, 1 + i % 28});
        t.SetString("HORA", (i % 24 < 10 ? "0" : "") + std::to_string(i % 24) + ":15:00");
        if (i % 3 == 0)
            t.SetString("MAC", "00-1A-2B-3C-4D-" + std::to_string(10 + i % 90));
        t.Post();
    }
    // Deletes and key-changing edits, so the trees are not just bulk-built.
    t.SetOrder("");
    for (std::uint32_t r = 5; r <= std::uint32_t(n); r += 17) {
        t.GoTo(r);
        t.Delete();
    }
    for (std::uint32_t r = 3; r <= std::uint32_t(n); r += 29) {
        t.GoTo(r);
        t.Edit();
        t.SetString("PIN", "E" + std::to_string(r % 100000));
        t.SetString("HORA", "23:59:59");
        t.Post();
    }
    t.Commit();
}

TEST(IndependenceTest, PerlXBaseReadsOurTagsKeysAndRecordNumbers) {
    TempFolder dir;
    WriteFile(dir.file("tags.pl"), kPerlTags);
    TableEngine t(RealFileSystem());
    OpenNewCodeTable(t, dir.file("CajaPIN.dbf"));
    FillCodes(t, 3000); // incremental inserts across several tree levels
    const std::string ours = OurTagDump(t);
    ASSERT_NE(ours.find("TAG\tFECHOR\tDTOS(FECHA)+ HORA\t.not. deleted()\t16\n"),
              std::string::npos);
    ASSERT_NE(ours.find("TAG\tMAC\tMAC\t.not. deleted() .and. .not. EMPTY(MAC)\t17\n"),
              std::string::npos);
    t.Close();
    Result perl = RunChild("perl " + dir.file("tags.pl") + " " + dir.file("CajaPIN.cdx"));
    ASSERT_EQ(perl.status, 0) << perl.out;
    EXPECT_EQ(NormalizePerl(perl.out), ours);

    // The same after a Pack, which rebuilds every tag in one pass.
    t.Open(dir.file("CajaPIN.dbf"), true);
    t.Pack();
    const std::string packed = OurTagDump(t);
    t.Close();
    perl = RunChild("perl " + dir.file("tags.pl") + " " + dir.file("CajaPIN.cdx"));
    ASSERT_EQ(perl.status, 0) << perl.out;
    EXPECT_EQ(NormalizePerl(perl.out), packed);
}

TEST(IndependenceTest, PerlXBaseReadsTheHistoryTableTags) {
    TempFolder dir;
    WriteFile(dir.file("tags.pl"), kPerlTags);
    TableEngine t(RealFileSystem());
    CreateHistoryTable(t, dir.file("CajaHPIN.dbf"));
    t.Open(dir.file("CajaHPIN.dbf"), true);
    for (int i = 0; i < 1500; ++i) {
        t.Append();
        t.SetString("PIN", i % 7 ? "AB" + std::to_string(1000 + i % 50) : "");
        t.SetInteger("ASIG", i);
        if (i % 5)
            t.SetDate("FECHA", Date{2023 + i % 2, 1 + i % 12, 1 + i % 27});
        t.SetString("HORA", "0" + std::to_string(i % 10) + ":00:00");
        t.Post();
    }
    AddTags(t, HistoryTagSpecs());
    const std::string ours = OurTagDump(t);
    t.Close();
    Result perl = RunChild("perl " + dir.file("tags.pl") + " " + dir.file("CajaHPIN.cdx"));
    ASSERT_EQ(perl.status, 0) << perl.out;
    EXPECT_EQ(NormalizePerl(perl.out), ours);
    EXPECT_NE(ours.find("TAG\tPINFECHOR\tPIN + DTOS(FECHA)+ HORA\t.not. deleted()\t22\n"),
              std::string::npos);
}

TEST(IndependenceTest, PythonReadersSeeOurRecords) {
    TempFolder dir;
    TableEngine t(RealFileSystem());
    OpenNewCodeTable(t, dir.file("CajaPIN.dbf"));
    FillCodes(t, 200);
    t.GoTo(7);
    t.Edit();
    t.SetString("EQUIPO", "Caf\xE9 Sala 2"); // Windows-1252 text
    t.Post();
    std::string ours, oursLive;
    t.SetOrder("");
    for (t.First(); !t.Eof(); t.Next()) {
        std::string line = std::string(t.Deleted() ? "1" : "0") + "|" + t.GetString("PIN") + "|" +
                           std::to_string(t.GetInteger("SALDO")) + "|" + t.GetString("FECHA") +
                           "|" + t.GetString("HORA") + "|" + t.GetString("MAC") + "|" +
                           Hex(t.GetString("EQUIPO")) + "|" + t.GetString("CFECHA") + "\n";
        ours += line;
        if (!t.Deleted())
            oursLive += line;
    }
    t.Close();
    WriteFile(dir.file("read_dbf.py"), R"PY(
import sys, dbf
t = dbf.Table(sys.argv[1]); t.open(dbf.READ_ONLY)
assert t.field_names == ['pin','saldo','cfecha','chora','fecha','hora','mac','equipo'], t.field_names
assert t.structure() == ['pin C(6)','saldo N(9,0)','cfecha D','chora C(8)','fecha D','hora C(8)','mac C(17)','equipo C(64)'], t.structure()
d = lambda v: v.strftime('%Y%m%d') if v else ''
for r in t:
    print('%d|%s|%d|%s|%s|%s|%s|%s' % (1 if dbf.is_deleted(r) else 0, r.pin.rstrip(), r.saldo or 0,
          d(r.fecha), r.hora.rstrip(), r.mac.rstrip(), r.equipo.rstrip().encode('cp1252').hex(), d(r.cfecha)))
)PY");
    WriteFile(dir.file("read_dbfread.py"), R"PY(
import sys, dbfread
t = dbfread.DBF(sys.argv[1], raw=True, load=True)
s = lambda b: b.decode('latin-1').rstrip()
for r in t.records:
    print('0|%s|%d|%s|%s|%s|%s|%s' % (s(r['PIN']), int(r['SALDO'] or 0), s(r['FECHA']), s(r['HORA']),
          s(r['MAC']), r['EQUIPO'].rstrip(b' ').hex(), s(r['CFECHA'])))
print('deleted', len(t.deleted))
)PY");
    Result py =
        RunChild("/usr/bin/python3 " + dir.file("read_dbf.py") + " " + dir.file("CajaPIN.dbf"));
    ASSERT_EQ(py.status, 0) << py.out;
    EXPECT_EQ(py.out, ours);
    Result rd =
        RunChild("/usr/bin/python3 " + dir.file("read_dbfread.py") + " " + dir.file("CajaPIN.dbf"));
    ASSERT_EQ(rd.status, 0) << rd.out;
    const std::size_t deleted = std::size_t(std::count(ours.begin(), ours.end(), '\n') -
                                            std::count(oursLive.begin(), oursLive.end(), '\n'));
    EXPECT_EQ(rd.out, oursLive + "deleted " + std::to_string(deleted) + "\n");
    EXPECT_GT(deleted, 5u);
}

TEST(IndependenceTest, WeOpenAndIndexTablesThatPythonDbfWrites) {
    TempFolder dir;
    WriteFile(dir.file("tags.pl"), kPerlTags);
    WriteFile(dir.file("make.py"), R"PY(
import sys, dbf
for kind in ('vfp', 'db3'):
    t = dbf.Table(sys.argv[1] + '/Codes_' + kind + '.dbf', 'PIN C(6); SALDO N(9,0); FECHA D; MAC C(17)', dbf_type=kind)
    t.open(dbf.READ_WRITE)
    for i in range(300):
        t.append(('%06X' % ((i * 7919) % 65536), i, dbf.Date(2024, 1 + i % 12, 1 + i % 28) if i % 4 else None,
                  '' if i % 3 else 'AA-BB-CC-DD-EE-%02d' % (i % 100)))
    for i in range(0, 300, 10):
        dbf.delete(t[i])
    t.close()
)PY");
    Result py = RunChild("/usr/bin/python3 " + dir.file("make.py") + " " + dir.path());
    ASSERT_EQ(py.status, 0) << py.out;
    for (const char* kind : {"vfp", "db3"}) {
        SCOPED_TRACE(kind);
        const std::string path = dir.file(std::string("CODES_") + kind + ".DBF"); // any case
        TableEngine t(RealFileSystem());
        t.Open(path, true);
        EXPECT_EQ(t.RecordCount(), 300u);
        t.GoTo(12);
        EXPECT_EQ(t.GetString("PIN"), "005445"); // (11 * 7919) % 65536
        EXPECT_EQ(t.GetInteger("SALDO"), 11);
        ASSERT_TRUE(t.GetDate("FECHA").has_value());
        EXPECT_EQ(*t.GetDate("FECHA"), (Date{2024, 12, 12}));
        t.GoTo(13);
        EXPECT_FALSE(t.GetDate("FECHA").has_value());
        t.GoTo(11);
        EXPECT_TRUE(t.Deleted());
        t.IndexTag("", "PIN", "PIN", 0, false, ".not. deleted()");
        t.IndexTag("", "MAC", "MAC", 0, false, ".not. deleted() .and. .not. EMPTY(MAC)");
        t.SetOrder("PIN");
        EXPECT_TRUE(t.Seek("005445"));
        EXPECT_EQ(t.RecNo(), 12u);
        EXPECT_FALSE(t.Seek("003556")); // record 11, deleted
        t.Append();                     // into a file another engine wrote
        t.SetString("PIN", "000000");
        t.SetString("MAC", "00-00-00-00-00-00");
        t.Post();
        t.Commit();
        EXPECT_TRUE(t.Seek("0000"));
        EXPECT_EQ(t.RecNo(), 301u);
        EXPECT_TRUE(t.Verify().empty());
        const std::string ours = OurTagDump(t);
        t.Close();
        Result perl = RunChild("perl " + dir.file("tags.pl") + " " +
                               dir.file(std::string("Codes_") + kind + ".cdx"));
        ASSERT_EQ(perl.status, 0) << perl.out;
        EXPECT_EQ(NormalizePerl(perl.out), ours);
    }
}

} // namespace
} // namespace tarvina::xbase::test
