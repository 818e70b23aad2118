// xbase-tool: looks inside FoxPro DBF tables and their CDX indexes, checks
// every tag against the records and rebuilds the index.
#include "xbase/Error.h"
#include "xbase/PosixFileSystem.h"
#include "xbase/TableEngine.h"

#include <cstdio>
#include <cstring>
#include <string>

using namespace tarvina::xbase;

namespace {

int Usage() {
    std::fprintf(stderr, "usage: xbase-tool info TABLE.dbf\n"
                         "       xbase-tool records TABLE.dbf\n"
                         "       xbase-tool keys TABLE.dbf TAG\n"
                         "       xbase-tool verify TABLE.dbf\n"
                         "       xbase-tool reindex TABLE.dbf\n");
    return 2;
}

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

void PrintNotices(TableEngine& t) {
    for (const auto& n : t.Notices())
        std::printf("notice: %s\n", n.c_str());
}

int Info(TableEngine& t) {
    std::printf("table: %s\n", t.Path().c_str());
    std::printf("records: %u\n", t.RecordCount());
    PrintNotices(t);
    std::printf("fields:\n");
    for (const auto& f : t.Fields())
        std::printf("  %-10s %c %3d %d\n", f.name.c_str(), f.type, f.width, f.decimals);
    std::printf("tags:\n");
    for (const auto& tag : t.Tags())
        std::printf("  %-10s key \"%s\" for \"%s\" length %d\n", tag.name.c_str(),
                    tag.keyExpr.c_str(), tag.forExpr.c_str(), tag.keyLength);
    return 0;
}

int Records(TableEngine& t) {
    const auto fields = t.Fields();
    for (t.First(); !t.Eof(); t.Next()) {
        std::printf("%u%s", t.RecNo(), t.Deleted() ? "*" : "");
        for (const auto& f : fields)
            std::printf("\t%s", t.GetString(f.name).c_str());
        std::printf("\n");
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return Usage();
    const std::string cmd = argv[1];
    try {
        TableEngine t(RealFileSystem());
        const bool exclusive = cmd == "reindex";
        if (cmd != "info" && cmd != "records" && cmd != "keys" && cmd != "verify" &&
            cmd != "reindex")
            return Usage();
        t.Open(argv[2], exclusive);
        if (cmd == "info")
            return Info(t);
        if (cmd == "records")
            return Records(t);
        if (cmd == "keys") {
            if (argc < 4)
                return Usage();
            for (const auto& [rec, key] : t.TagKeys(argv[3]))
                std::printf("%u\t%s\n", rec, Hex(key).c_str());
            return 0;
        }
        if (cmd == "verify") {
            PrintNotices(t);
            const auto faults = t.Verify();
            for (const auto& f : faults)
                std::printf("fault: %s\n", f.c_str());
            if (!faults.empty())
                return 1;
            std::printf("ok: %zu tag(s) agree with %u record(s)\n", t.Tags().size(),
                        t.RecordCount());
            return 0;
        }
        t.Reindex();
        const auto faults = t.Verify();
        std::printf("reindexed %zu tag(s)%s\n", t.Tags().size(),
                    faults.empty() ? "" : ", faults remain");
        return faults.empty() ? 0 : 1;
    } catch (const XBaseError& e) {
        std::fprintf(stderr, "xbase-tool: %s\n", e.what());
        return 1;
    }
}
