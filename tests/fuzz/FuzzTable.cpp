// A table file and its index as they may lie on disk, damaged or crafted:
// the engine opens them, lists and checks the tags, reads every record and
// key, seeks, and with the table held exclusively rebuilds and packs it, as
// the start-up check and xbase-tool do. Whatever the bytes, every operation
// completes or throws XBaseError; nothing crashes, hangs or allocates beyond
// what the files' own lengths justify.
//
// Input: a 4-byte little-endian length n, then n bytes of the DBF and the
// rest as its CDX (no CDX when the rest is empty).

#include "support/MemoryFileSystem.h"
#include "xbase/Error.h"
#include "xbase/TableEngine.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace tarvina::xbase;

namespace {

// Rebuilt tags agree with the records, whatever the table's own damage (a
// header count the file does not hold stays reported until the table is
// written anew).
void CheckIndexAgrees(const std::vector<std::string>& faults) {
    for (const auto& f : faults) {
        if (f.rfind("table damaged", 0) != 0) {
            std::fprintf(stderr, "after rebuilding: %s\n", f.c_str());
            std::abort();
        }
    }
}

constexpr std::uint32_t kMaxRecordsWalked = 5000;

void ReadEverything(TableEngine& t) {
    const auto fields = t.Fields();
    t.RecordCount();
    t.Notices();
    std::uint32_t walked = 0;
    for (t.First(); !t.Eof() && walked < kMaxRecordsWalked; t.Next(), ++walked) {
        t.Deleted();
        for (const auto& f : fields) {
            try {
                t.GetString(f.name);
                t.IsNull(f.name);
                if (f.type == 'N')
                    t.GetInteger(f.name);
                if (f.type == 'D')
                    t.GetDate(f.name);
            } catch (const XBaseError&) {
                // One field that does not read leaves the others to try.
            }
        }
    }
    for (t.Last(), walked = 0; !t.Bof() && walked < kMaxRecordsWalked; t.Prior(), ++walked)
        t.RecNo();
}

void ReadTags(TableEngine& t) {
    for (const auto& tag : t.Tags()) {
        try {
            const auto keys = t.TagKeys(tag.name);
            t.SetOrder(tag.name);
            ReadEverything(t);
            if (!keys.empty()) {
                t.Seek(keys.front().second);
                t.Seek(keys.back().second);
            }
            t.Seek(std::string());
            t.Seek(std::string(300, '\xff'));
        } catch (const XBaseError&) {
            // The next tag may still read.
        }
    }
    t.SetOrder(std::string());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4)
        return 0;
    const std::uint32_t n =
        data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::uint32_t>(data[3]) << 24;
    data += 4;
    size -= 4;
    if (n > size)
        return 0;
    MemoryFileSystem fs;
    fs.MakeFolder("/t");
    fs.SetContents("/t/T.dbf", std::vector<unsigned char>(data, data + n));
    if (n < size)
        fs.SetContents("/t/T.cdx", std::vector<unsigned char>(data + n, data + size));

    try {
        TableEngine t(fs);
        t.Open("/t/T.dbf", false);
        ReadEverything(t);
        t.Verify();
        ReadTags(t);
        t.Close();
    } catch (const XBaseError&) {
    }
    try {
        TableEngine t(fs);
        t.Open("/t/T.dbf", true);
        t.Reindex();
        CheckIndexAgrees(t.Verify());
        t.Pack();
        CheckIndexAgrees(t.Verify());
        ReadEverything(t);
    } catch (const XBaseError&) {
    }
    return 0;
}
