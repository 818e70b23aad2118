#include "xbase/TableMaintenance.h"

#include "xbase/FieldText.h"
#include "xbase/TableInternals.h"

#include <algorithm>
#include <cstring>

namespace tarvina::xbase {

namespace {

// Fingerprint of a key; 0 is kept for "no entry expected".
std::uint64_t KeyHash(const char* k, std::size_t n) {
    std::uint64_t h = 14695981039346656037ull;
    for (std::size_t i = 0; i < n; ++i)
        h = (h ^ static_cast<unsigned char>(k[i])) * 1099511628211ull;
    return h ? h : 1;
}

// What a tag must hold for the records: per record, the fingerprint of its
// key (0: none), and how many keys that makes.
struct ExpectedKeys {
    std::vector<std::uint64_t> hashes;
    std::uint32_t count = 0;
};

ExpectedKeys ExpectedKeysOf(DbfFile& dbf, const CompiledTag& t, std::uint32_t records,
                            std::vector<std::string>& faults) {
    const std::uint32_t rl = dbf.RecordLength();
    const std::size_t kl = std::size_t(t.keyLength);
    std::vector<char> block(ScanBlockBytes(records, rl));
    std::string key(kl, ' ');
    ExpectedKeys want;
    want.hashes.assign(records, 0);
    for (std::uint32_t r = 1; r <= records;) {
        const std::uint32_t n = std::min(kScanChunk, records - r + 1);
        if (dbf.ReadRecords(r, n, block.data()) != n) {
            faults.push_back("table cut short at record " + std::to_string(r));
            break;
        }
        for (std::uint32_t j = 0; j < n; ++j) {
            const char* rec = block.data() + std::size_t(j) * rl;
            if (!t.Includes(rec))
                continue;
            t.key.EvalText(rec, key.data());
            want.hashes[r + j - 1] = KeyHash(key.data(), kl);
            ++want.count;
        }
        r += n;
    }
    return want;
}

// One tag against the records. The tree walk checks the order; each entry is
// matched against its record once, so equal counts mean the same entries.
void VerifyTag(DbfFile& dbf, std::uint32_t count, CdxFile& cdx, int index, const CompiledTag& t,
               std::vector<std::string>& faults) {
    const std::string name = "tag " + t.name + ": ";
    if (!t.usable) {
        faults.push_back(name + "cannot be checked: " + t.problem);
        return;
    }
    const std::size_t kl = std::size_t(t.keyLength);
    const ExpectedKeys want = ExpectedKeysOf(dbf, t, count, faults);
    std::vector<bool> seen(count, false);
    std::vector<std::string> structural, layout, entries;
    std::uint32_t have = 0;
    auto entryFault = [&](std::uint32_t r, const unsigned char* k, const std::string& why) {
        if (entries.size() < 10)
            entries.push_back(name + "entry " + std::to_string(have) + " is record " +
                              std::to_string(r) + " \"" +
                              std::string(reinterpret_cast<const char*>(k), kl) + "\", " + why);
    };
    cdx.Walk(
        index,
        [&](const unsigned char* k, std::uint32_t r) {
            ++have;
            if (r == 0 || r > count)
                return entryFault(r, k, "beyond the table");
            if (seen[r - 1])
                return entryFault(r, k, "which the tag holds twice");
            seen[r - 1] = true;
            const std::uint64_t h = want.hashes[r - 1];
            if (h == 0)
                return entryFault(r, k, "which the tag's condition leaves out");
            if (h != KeyHash(reinterpret_cast<const char*>(k), kl)) {
                std::string rec(dbf.RecordLength(), ' ');
                std::string key(kl, ' ');
                dbf.ReadRecord(r, rec.data());
                t.key.EvalText(rec.data(), key.data());
                entryFault(r, k, "the record gives \"" + key + "\"");
            }
        },
        &structural, &layout);
    for (const auto& f : structural)
        faults.push_back(name + f);
    for (const auto& f : layout)
        faults.push_back(name + f);
    if (have != want.count)
        faults.push_back(name + "holds " + std::to_string(have) + " keys, the records give " +
                         std::to_string(want.count));
    faults.insert(faults.end(), entries.begin(), entries.end());
    int missing = 0;
    for (std::uint32_t r = 1; r <= count && missing < 10; ++r)
        if (want.hashes[r - 1] != 0 && !seen[r - 1]) {
            faults.push_back(name + "record " + std::to_string(r) + " is missing");
            ++missing;
        }
}

// One field of a source row into the field of the same name of a new row:
// numbers as their whole part, dates only when valid, text trimmed to fit;
// other types only between fields of the same type and width. What does not
// convert stays blank.
void ConvertField(const char* source, const FieldDef& sf, char* target, const FieldDef& df) {
    std::string v(source + sf.offset, std::size_t(sf.width));
    char* out = target + df.offset;
    const std::size_t w = std::size_t(df.width);
    if (df.type == 'N') {
        if (sf.type != 'N' && sf.type != 'F' && sf.type != 'C')
            return;
        if (Trim(v).empty())
            return;
        std::string text = std::to_string(ParseInteger(v));
        if (sf.type == 'N' && sf.decimals == df.decimals && df.decimals > 0)
            text = Trim(v); // the same places: the value as written
        else if (df.decimals > 0)
            text += "." + std::string(std::size_t(df.decimals), '0');
        if (text.size() <= w)
            std::memcpy(out + (w - text.size()), text.data(), text.size());
    } else if (df.type == 'D') {
        if (sf.type == 'D' && ParseDate(v.data()))
            std::memcpy(out, v.data(), 8);
    } else if (df.type == 'C') {
        std::string text = sf.type == 'C' ? TrimRight(v) : Trim(v);
        std::memcpy(out, text.data(), std::min(w, text.size()));
    } else if (sf.type == df.type && sf.width == df.width) {
        std::memcpy(out, v.data(), w);
    }
}

std::vector<char> ReadHeader(DbfFile& dbf) {
    const std::uint32_t hl = dbf.HeaderLength();
    std::vector<char> header(hl);
    if (dbf.File().ReadAt(0, header.data(), hl) != hl)
        Fail(XBaseError::Code::Damaged, "table header cut short: " + dbf.Path());
    return header;
}

// Writes the table's first `count` records but those marked deleted into
// `out`, after `header` with its date and count set to them.
void WritePacked(DbfFile& dbf, std::uint32_t count, std::vector<char>& header, IFile& out) {
    const std::uint32_t rl = dbf.RecordLength();
    std::vector<char> block(ScanBlockBytes(count, rl));
    std::string packed;
    std::uint64_t pos = header.size();
    std::uint32_t kept = 0;
    for (std::uint32_t r = 1; r <= count;) {
        const std::uint32_t want = std::min(kScanChunk, count - r + 1);
        if (dbf.ReadRecords(r, want, block.data()) != want)
            Fail(XBaseError::Code::Damaged, "table cut short while packing: " + dbf.Path());
        packed.clear();
        for (std::uint32_t j = 0; j < want; ++j) {
            const char* rec = block.data() + std::size_t(j) * rl;
            if (rec[0] == kDbfDeleted)
                continue;
            packed.append(rec, rl);
            ++kept;
        }
        out.WriteAt(pos, packed.data(), packed.size());
        pos += packed.size();
        r += want;
    }
    const char eofMark = static_cast<char>(kDbfEofMarker);
    out.WriteAt(pos, &eofMark, 1);
    unsigned char* h = reinterpret_cast<unsigned char*>(header.data());
    TodayBytes(h + 1);
    for (int i = 0; i < 4; ++i)
        h[kDbfCountOffset + i] = static_cast<unsigned char>(kept >> (8 * i));
    out.WriteAt(0, header.data(), header.size());
}

std::vector<std::string> AllTagNames(const std::vector<CompiledTag>& tags) {
    std::vector<std::string> names;
    for (const auto& t : tags)
        names.push_back(t.name);
    return names;
}

} // namespace

std::vector<std::string> TableMaintenance::Verify() {
    return Guard([&] {
        MaintainedTable& t = table_;
        DbfFile& dbf = t.Table();
        t.PostPending();
        std::vector<std::string> faults;
        for (const auto& n : dbf.Notices())
            if (n.rfind("table damaged", 0) == 0)
                faults.push_back(n);
        if (!t.Index())
            return faults;
        t.ReadIndex([&](CdxFile& cdx) {
            for (const auto& f : cdx.LayoutFaults(false))
                faults.push_back(f);
            const std::uint32_t count = dbf.RecordCount();
            const std::vector<CompiledTag>& tags = t.IndexTags();
            for (std::size_t i = 0; i < tags.size(); ++i)
                VerifyTag(dbf, count, cdx, static_cast<int>(i), tags[i], faults);
        });
        return faults;
    });
}

void TableMaintenance::Pack() {
    Guard([&] {
        MaintainedTable& t = table_;
        t.NeedExclusive("Pack");
        t.PostPending();
        t.NeedWritableTags();
        DbfFile& dbf = t.Table();
        const std::uint32_t count = dbf.RecordCount();
        std::vector<char> header = ReadHeader(dbf);
        // The packed table is written beside the old one and replaces it only
        // when complete, so a crash leaves one whole table or the other.
        const std::string temp = dbf.Path() + ".tmp";
        auto out = t.CreateReplacement(temp);
        WritePacked(dbf, count, header, *out);
        out->Sync();
        t.ReplaceTable(std::move(out), temp);
    });
}

void TableMaintenance::AppendFrom(const std::string& sourcePath, int type,
                                  const std::string& condition) {
    Guard([&] {
        MaintainedTable& t = table_;
        DbfFile& dbf = t.Table();
        t.PostPending();
        if (type != kTableTypeFoxPro)
            Fail(XBaseError::Code::Unsupported, "only FoxPro tables (type 2) are supported");
        if (!Trim(condition).empty())
            Fail(XBaseError::Code::Unsupported, "AppendFrom with a condition is not supported");
        t.NeedWritableTags();
        IFileSystem& fs = t.FileSystem();
        std::string sp = ResolvePath(fs, sourcePath);
        DbfFile src(fs.Open(sp, false), sp);
        const auto& dst = dbf.Fields();
        std::vector<int> from(dst.size(), -1);
        for (std::size_t i = 0; i < dst.size(); ++i)
            from[i] = src.FieldIndex(dst[i].name);
        const std::uint32_t n = src.RecordCount();
        const std::uint32_t srl = src.RecordLength();
        const std::uint32_t drl = dbf.RecordLength();
        std::vector<char> in(ScanBlockBytes(n, srl));
        std::string outBlock;
        for (std::uint32_t r = 1; r <= n;) {
            const std::uint32_t want = std::min(kScanChunk, n - r + 1);
            if (src.ReadRecords(r, want, in.data()) != want)
                Fail(XBaseError::Code::Damaged, "source table cut short: " + sp);
            outBlock.assign(std::size_t(want) * drl, ' ');
            for (std::uint32_t j = 0; j < want; ++j) {
                const char* s = in.data() + std::size_t(j) * srl;
                char* row = outBlock.data() + std::size_t(j) * drl;
                // The deleted mark travels with the row: a used-up row must not
                // come back to life in the new table.
                row[0] = s[0] == kDbfDeleted ? kDbfDeleted : kDbfLive;
                for (std::size_t i = 0; i < dst.size(); ++i)
                    if (from[i] >= 0)
                        ConvertField(s, src.Fields()[std::size_t(from[i])], row, dst[i]);
            }
            t.AppendRecords(outBlock.data(), want);
            r += want;
        }
    });
}

std::uint32_t
TableMaintenance::UpdateRecords(std::uint32_t first, std::uint32_t last,
                                const std::function<void(std::uint32_t, RecordImage&)>& change) {
    return Guard([&] {
        MaintainedTable& t = table_;
        const DbfFile& dbf = t.Table();
        t.PostPending();
        t.NeedWritableTags();
        std::uint32_t written = 0;
        t.RewriteRecords(first, last, [&](std::uint32_t recno, char* bytes) {
            RecordImage row(dbf, bytes);
            change(recno, row);
            written += row.Changed() ? 1 : 0;
            return row.Changed();
        });
        return written;
    });
}

void TableMaintenance::Reindex() {
    Guard([&] {
        MaintainedTable& t = table_;
        t.NeedExclusive("Reindex");
        t.PostPending();
        if (!t.Index())
            return;
        t.RebuildTags(AllTagNames(t.IndexTags()));
    });
}

bool TableMaintenance::UpgradeIndexLayout() {
    return Guard([&] {
        MaintainedTable& t = table_;
        t.NeedExclusive("UpgradeIndexLayout");
        t.PostPending();
        if (!t.Index() || t.Index()->LayoutFaults(true).empty())
            return false;
        // Every tag the engine can build is built again from the records (which
        // also drops entries another engine kept against the tag's condition);
        // any other tag is copied entry by entry into the new layout.
        std::vector<std::string> rebuild;
        for (const auto& tag : t.IndexTags())
            if (tag.usable)
                rebuild.push_back(tag.name);
        t.RebuildTags(rebuild);
        return true;
    });
}

std::vector<std::pair<std::uint32_t, std::string>>
TableMaintenance::TagKeys(const std::string& tag) {
    return Guard([&] {
        MaintainedTable& t = table_;
        t.Table();
        std::vector<std::pair<std::uint32_t, std::string>> out;
        if (!t.Index())
            Fail(XBaseError::Code::NotFound, "the table has no index file");
        t.ReadIndex([&](CdxFile& cdx) {
            const int i = cdx.TagIndex(tag);
            if (i < 0)
                Fail(XBaseError::Code::NotFound, "tag not found: " + tag);
            const std::size_t kl = std::size_t(cdx.Tags()[std::size_t(i)].keyLength);
            cdx.Walk(
                i,
                [&](const unsigned char* k, std::uint32_t r) {
                    out.emplace_back(r, std::string(reinterpret_cast<const char*>(k), kl));
                },
                nullptr);
        });
        return out;
    });
}

} // namespace tarvina::xbase
