#include "xbase/TableEngine.h"

#include "xbase/Error.h"
#include "xbase/FieldText.h"
#include "xbase/KeySorter.h"
#include "xbase/TableInternals.h"

#include <algorithm>
#include <cctype>

namespace tarvina::xbase {

namespace {

// Byte locks far beyond any real table. The open lock is held for the life of
// a handle (shared or exclusive, as opened); the write lock is held
// exclusively around every change and shared around index reads.
constexpr std::uint64_t kOpenLock = 0x7FFFFFF0;
constexpr std::uint64_t kWriteLock = 0x7FFFFFF1;
// Memory an index build gives to sorting, shared by the tags it builds at once;
// a larger table sorts in runs on disk.
constexpr std::size_t kSortBudget = std::size_t(8) << 20;

class ByteLock {
public:
    ByteLock(IFile* file, std::uint64_t offset, LockMode mode) : file_(file), offset_(offset) {
        if (file_)
            file_->Lock(offset_, mode, true);
    }
    ~ByteLock() {
        if (file_)
            file_->Unlock(offset_);
    }
    ByteLock(const ByteLock&) = delete;
    ByteLock& operator=(const ByteLock&) = delete;

private:
    IFile* file_;
    std::uint64_t offset_;
};

} // namespace

struct TableEngine::Impl final : CurrentRecord, MaintainedTable {
    explicit Impl(IFileSystem& f) : fs(f) {}

    IFileSystem& fs;
    // Definition in progress.
    bool defining = false;
    std::string createPath;
    int createCount = 0;
    std::vector<FieldDef> createFields;
    // Open table.
    std::unique_ptr<DbfFile> dbf;
    std::unique_ptr<CdxFile> cdx;
    bool exclusive = false;
    std::string path;
    std::vector<CompiledTag> tags;
    int order = -1;
    std::vector<std::string> notices;
    std::function<void(int)> gauge;
    WriteObserver* observer = nullptr;
    // Cursor.
    enum class State { Browse, Editing, Appending } state = State::Browse;
    std::uint32_t recno = 0;
    std::uint32_t savedRecno = 0; // position before Append, for Cancel
    std::string curKey;
    bool bof = false, eof = true;
    bool modified = false;
    // Set when the cursor moved through the index: the record is read from
    // the file when first looked at, not before.
    bool stale = false;
    // Set when a seek trusted its tag to hold no deleted rows: should the
    // record prove deleted when it is read (another program deleted it
    // behind the tag), the seek goes on past it.
    bool seekLanded = false;
    std::string buf;

    // --- helpers -------------------------------------------------------

    void NeedOpen() const {
        if (!dbf)
            Fail(XBaseError::Code::Invalid, "no table is open");
    }
    IFile* LockFile() { return exclusive ? nullptr : &dbf->File(); }

    void Compile() {
        tags.clear();
        if (!cdx)
            return;
        for (const CdxTag& t : cdx->Tags()) {
            CompiledTag c;
            c.name = t.name;
            c.keyText = t.keyExpr;
            c.forText = t.forExpr;
            c.keyLength = t.keyLength;
            try {
                c.key = Expression::Parse(t.keyExpr, dbf->Fields());
                if (c.key.IsLogical() || c.key.Length() != t.keyLength)
                    Fail(XBaseError::Code::Unsupported, "key length disagrees with the expression");
                if (!Trim(t.forExpr).empty()) {
                    c.cond = Expression::Parse(t.forExpr, dbf->Fields());
                    c.hasCond = true;
                    if (!c.cond.IsLogical())
                        Fail(XBaseError::Code::Invalid, "FOR condition is not logical");
                    c.excludesDeleted = c.cond.ExcludesDeleted();
                }
                if (t.descending)
                    Fail(XBaseError::Code::Unsupported, "descending tags are not supported");
                c.usable = true;
            } catch (const XBaseError& e) {
                c.problem = e.what();
            }
            tags.push_back(std::move(c));
        }
    }

    void NeedWritableTags() override {
        for (const CompiledTag& t : tags)
            if (!t.usable)
                Fail(XBaseError::Code::Unsupported,
                     "tag " + t.name + " cannot be kept up to date: " + t.problem);
    }

    std::string KeyOf(const CompiledTag& t, const char* record) const {
        std::string k(static_cast<std::size_t>(t.keyLength), ' ');
        t.key.EvalText(record, k.data());
        return k;
    }

    void SetEof() {
        seekLanded = false;
        recno = 0;
        eof = true;
        stale = false;
        buf = dbf->BlankRecord();
        curKey.clear();
    }

    void Load(std::uint32_t r) {
        std::string b(dbf->RecordLength(), ' ');
        dbf->ReadRecord(r, b.data());
        buf.swap(b);
        recno = r;
        eof = false;
        bof = false;
        stale = false;
        state = State::Browse;
        modified = false;
        if (order >= 0 && tags[std::size_t(order)].usable)
            curKey = KeyOf(tags[std::size_t(order)], buf.data());
    }

    void LoadEntry(const CdxEntry& e) {
        seekLanded = false;
        recno = e.rec;
        curKey = e.key;
        eof = false;
        bof = false;
        stale = true;
        state = State::Browse;
        modified = false;
    }

    // The current record's bytes, read now if the cursor moved by the index.
    void Ensure() {
        if (!stale)
            return;
        std::string b(dbf->RecordLength(), ' ');
        dbf->ReadRecord(recno, b.data());
        if (seekLanded && b[0] == kDbfDeleted) {
            SeekLive(b);
            return;
        }
        seekLanded = false;
        buf.swap(b);
        stale = false;
    }

    // From the entry the cursor is on, whose record `rec` holds and is
    // deleted, to the first following entry of the order whose record is
    // live (or the end of the table). Leaves that record loaded.
    bool SeekLive(std::string& rec) {
        CdxEntry e;
        e.key = curKey;
        e.rec = recno;
        bool any = true;
        while (any && rec[0] == kDbfDeleted) {
            CdxEntry next;
            any = cdx->Read([&] {
                return cdx->Seek(order, reinterpret_cast<const unsigned char*>(e.key.data()), e.rec,
                                 CdxFile::Find::Gt, next);
            });
            e = std::move(next);
            if (any)
                dbf->ReadRecord(e.rec, rec.data());
        }
        if (!any) {
            bof = false;
            SetEof();
            return false;
        }
        LoadEntry(e);
        buf.swap(rec);
        stale = false;
        return true;
    }

    void BeginChange() {
        NeedOpen();
        Ensure();
        if (state == State::Browse) {
            if (recno == 0)
                Fail(XBaseError::Code::Invalid, "no current record to change");
            state = State::Editing;
        }
        modified = true;
    }

    // Runs `body` with the table's write lock and the index in write mode; the
    // index change counter is bumped even when the body fails, so that no
    // other handle keeps a stale cache of nodes it may have touched.
    template <class F> void WriteTransaction(F&& body) {
        ByteLock lock(LockFile(), kWriteLock, LockMode::Exclusive);
        if (cdx)
            cdx->BeginWrite();
        try {
            body();
        } catch (...) {
            if (cdx) {
                try {
                    cdx->EndWrite();
                } catch (...) {
                }
            }
            throw;
        }
        if (cdx)
            cdx->EndWrite();
    }

    // Index entries that change between two images of one record.
    void UpdateTags(const char* before, const char* after, std::uint32_t r) {
        for (std::size_t i = 0; i < tags.size(); ++i) {
            const CompiledTag& t = tags[i];
            const bool inBefore = before && t.Includes(before);
            const bool inAfter = t.Includes(after);
            std::string kb = before ? KeyOf(t, before) : std::string();
            std::string ka = KeyOf(t, after);
            if (inBefore && inAfter && kb == ka)
                continue;
            if (inBefore)
                cdx->Remove(static_cast<int>(i), reinterpret_cast<const unsigned char*>(kb.data()),
                            r);
            if (inAfter)
                cdx->Insert(static_cast<int>(i), reinterpret_cast<const unsigned char*>(ka.data()),
                            r);
        }
    }

    // The record's write, with the observer told before and after.
    template <class F> void Observed(std::uint32_t r, const char* record, F&& write) {
        if (!observer) {
            write();
            return;
        }
        observer->BeforeWrite(path, dbf->Fields(), r, record);
        try {
            write();
        } catch (...) {
            observer->AfterWrite(false);
            throw;
        }
        observer->AfterWrite(true);
    }

    void PostPending() override {
        if (!dbf || state == State::Browse)
            return;
        if (state == State::Editing && !modified) {
            state = State::Browse;
            return;
        }
        NeedWritableTags();
        const State was = state;
        state = State::Browse;
        modified = false;
        if (was == State::Appending) {
            std::uint32_t newRec = 0;
            WriteTransaction([&] {
                const std::uint32_t count = dbf->RecordCount();
                Observed(count + 1, buf.data(), [&] { dbf->AppendRecords(count, buf.data(), 1); });
                newRec = count + 1;
                recno = newRec;
                UpdateTags(nullptr, buf.data(), newRec);
            });
        } else {
            WriteTransaction([&] {
                std::string before(dbf->RecordLength(), ' ');
                dbf->ReadRecord(recno, before.data());
                Observed(recno, buf.data(), [&] { dbf->WriteRecord(recno, buf.data()); });
                UpdateTags(before.data(), buf.data(), recno);
            });
        }
        if (order >= 0 && tags[std::size_t(order)].usable)
            curKey = KeyOf(tags[std::size_t(order)], buf.data());
    }

    void Report(int& last, int pct) {
        if (gauge && pct != last) {
            last = pct;
            gauge(pct);
        }
    }

    // Keys of the given tags over all records, sorted, written through the
    // writer one tag at a time. `workBase` names the sort's work files.
    void BuildFromTable(const std::vector<const CompiledTag*>& defs, CdxWriter& writer,
                        const std::string& workBase, int& last, int from, int to) {
        if (defs.empty())
            return;
        const std::uint32_t count = dbf->RecordCount();
        const std::uint32_t rl = dbf->RecordLength();
        std::vector<std::unique_ptr<KeySorter>> sorters;
        for (std::size_t i = 0; i < defs.size(); ++i)
            sorters.push_back(std::make_unique<KeySorter>(fs, workBase + ".srt" + std::to_string(i),
                                                          defs[i]->keyLength,
                                                          kSortBudget / defs.size()));
        std::vector<char> block(ScanBlockBytes(count, rl));
        std::string key(std::size_t(kCdxMaxKeyLength), ' ');
        const int scanEnd = from + (to - from) * 6 / 10;
        for (std::uint32_t r = 1; r <= count;) {
            const std::uint32_t want = std::min(kScanChunk, count - r + 1);
            const std::uint32_t got = dbf->ReadRecords(r, want, block.data());
            if (got != want)
                Fail(XBaseError::Code::Damaged, "table cut short while reading: " + path);
            for (std::uint32_t j = 0; j < got; ++j) {
                const char* rec = block.data() + std::size_t(j) * rl;
                for (std::size_t i = 0; i < defs.size(); ++i) {
                    if (!defs[i]->Includes(rec))
                        continue;
                    defs[i]->key.EvalText(rec, key.data());
                    sorters[i]->Add(reinterpret_cast<const unsigned char*>(key.data()), r + j);
                }
            }
            r += got;
            Report(last,
                   from + int((std::int64_t(scanEnd - from) * (r - 1)) / std::max(1u, count)));
        }
        for (std::size_t i = 0; i < defs.size(); ++i) {
            writer.BeginTag(defs[i]->name, defs[i]->keyText, defs[i]->forText, defs[i]->keyLength);
            sorters[i]->Drain([&](const unsigned char* k, std::uint32_t r) { writer.Add(k, r); });
            writer.EndTag();
            sorters[i].reset();
            Report(last, scanEnd + int((to - scanEnd) * int(i + 1) / int(defs.size())));
        }
    }

    std::string CdxPath() const {
        std::string name = FileNameOf(path);
        auto dot = name.find_last_of('.');
        bool upper = dot != std::string::npos && dot + 1 < name.size() &&
                     std::isupper(static_cast<unsigned char>(name[dot + 1]));
        return WithExtension(path, upper ? ".CDX" : ".cdx");
    }

    void OpenCdx() {
        cdx.reset();
        std::string p = ResolvePath(fs, CdxPath());
        if (!fs.Exists(p) || fs.IsFolder(p)) {
            if (dbf->Flags() & kDbfFlagStructuralCdx)
                notices.push_back("the table is marked as having a structural index, but " +
                                  CdxPath() + " is missing");
            return;
        }
        ByteLock lock(LockFile(), kWriteLock, LockMode::Shared);
        cdx = std::make_unique<CdxFile>(fs.Open(p, true), p, !exclusive, LockFile(), kWriteLock);
    }

    // Writes a new production CDX: the kept tags copied from the current
    // file (rebuilt from the records when the copy finds damage), then the
    // rebuilt ones, replacing the old file at once.
    void WriteCdx(const std::vector<std::string>& rebuild, const std::vector<CompiledTag>& extra) {
        int last = -1;
        Report(last, 0);
        const std::string target = cdx ? cdx->Path() : CdxPath();
        const std::string temp = target + ".tmp";
        {
            CdxWriter writer(fs, temp);
            std::vector<const CompiledTag*> scan;
            for (std::size_t i = 0; i < tags.size(); ++i) {
                const CompiledTag& t = tags[i];
                bool replaced = false;
                for (const auto& e : extra)
                    replaced |= EqualsNoCase(e.name, t.name);
                if (replaced)
                    continue;
                bool mustRebuild = false;
                for (const auto& r : rebuild)
                    mustRebuild |= EqualsNoCase(r, t.name);
                if (!mustRebuild) {
                    writer.BeginTag(t.name, t.keyText, t.forText, t.keyLength);
                    try {
                        cdx->Walk(
                            static_cast<int>(i),
                            [&](const unsigned char* k, std::uint32_t r) { writer.Add(k, r); },
                            nullptr);
                        writer.EndTag();
                        continue;
                    } catch (const XBaseError& e) {
                        if (e.code() == XBaseError::Code::Io)
                            throw;
                        writer.AbortTag(); // rebuilt from the records below
                    }
                }
                if (!t.usable)
                    Fail(XBaseError::Code::Unsupported,
                         "tag " + t.name + " cannot be rebuilt: " + t.problem);
                scan.push_back(&t);
            }
            for (const auto& e : extra)
                scan.push_back(&e);
            BuildFromTable(scan, writer, target, last, 5, 95);
            writer.Finish();
        }
        cdx.reset();
        fs.Rename(temp, target);
        if (!(dbf->Flags() & kDbfFlagStructuralCdx))
            dbf->SetFlags(dbf->Flags() | kDbfFlagStructuralCdx);
        OpenCdx();
        Compile();
        Report(last, 100);
    }

    void NeedExclusive(const char* what) override {
        NeedOpen();
        if (!exclusive)
            Fail(XBaseError::Code::Locked, std::string(what) + " needs the table open exclusively");
    }

    std::string CurrentOrderName() const {
        return order >= 0 ? tags[std::size_t(order)].name : std::string();
    }

    void RestoreOrder(const std::string& name) {
        order = -1;
        for (std::size_t i = 0; i < tags.size(); ++i)
            if (EqualsNoCase(tags[i].name, name) && tags[i].usable)
                order = static_cast<int>(i);
    }

    // --- CurrentRecord ---------------------------------------------------

    const DbfFile& OpenTable() const override {
        NeedOpen();
        return *dbf;
    }
    const char* RecordBytes() override {
        Ensure();
        return buf.data();
    }
    char* ChangeRecord() override {
        BeginChange();
        return buf.data();
    }

    // --- MaintainedTable --------------------------------------------------

    DbfFile& Table() override {
        NeedOpen();
        return *dbf;
    }
    IFileSystem& FileSystem() override { return fs; }
    CdxFile* Index() override { return cdx.get(); }
    const std::vector<CompiledTag>& IndexTags() const override { return tags; }

    void ReadIndex(const std::function<void(CdxFile&)>& read) override {
        ByteLock lock(LockFile(), kWriteLock, LockMode::Shared);
        cdx->Refresh();
        read(*cdx);
    }

    void AppendRecords(const char* records, std::uint32_t n) override {
        const std::uint32_t rl = dbf->RecordLength();
        WriteTransaction([&] {
            const std::uint32_t count = dbf->RecordCount();
            dbf->AppendRecords(count, records, n);
            for (std::uint32_t j = 0; j < n; ++j)
                UpdateTags(nullptr, records + std::size_t(j) * rl, count + 1 + j);
        });
    }

    void RewriteRecords(std::uint32_t first, std::uint32_t last,
                        const std::function<bool(std::uint32_t, char*)>& change) override {
        const std::uint32_t rl = dbf->RecordLength();
        WriteTransaction([&] {
            const std::uint32_t end = std::min(last, dbf->RecordCount());
            if (first == 0 || first > end)
                return;
            std::vector<char> block(ScanBlockBytes(end - first + 1, rl));
            std::vector<char> before(rl);
            for (std::uint32_t r = first; r <= end;) {
                const std::uint32_t want = std::min(kScanChunk, end - r + 1);
                if (dbf->ReadRecords(r, want, block.data()) != want)
                    Fail(XBaseError::Code::Damaged, "table cut short while reading: " + path);
                // Written back as runs of changed rows, so rows left alone
                // are never rewritten under another program's feet.
                std::uint32_t runStart = 0, runLength = 0;
                const auto flush = [&] {
                    if (runLength)
                        dbf->WriteRecords(r + runStart, runLength,
                                          block.data() + std::size_t(runStart) * rl);
                    runLength = 0;
                };
                for (std::uint32_t j = 0; j < want; ++j) {
                    char* row = block.data() + std::size_t(j) * rl;
                    std::copy(row, row + rl, before.begin());
                    if (!change(r + j, row)) {
                        flush();
                        continue;
                    }
                    UpdateTags(before.data(), row, r + j);
                    if (!runLength)
                        runStart = j;
                    ++runLength;
                }
                flush();
                r += want;
            }
        });
        if (recno && recno <= dbf->RecordCount())
            Load(recno);
    }

    void RebuildTags(const std::vector<std::string>& names) override {
        const std::string keep = CurrentOrderName();
        WriteCdx(names, {});
        RestoreOrder(keep);
    }

    std::unique_ptr<IFile> CreateReplacement(const std::string& temp) override {
        auto out = fs.Create(temp);
        if (!out->Lock(kOpenLock, LockMode::Exclusive, false))
            Fail(XBaseError::Code::Locked, "cannot lock " + temp);
        return out;
    }

    void ReplaceTable(std::unique_ptr<IFile> file, const std::string& temp) override {
        const std::string keep = CurrentOrderName();
        const std::string p = path;
        cdx.reset();
        dbf.reset();
        fs.Rename(temp, p);
        dbf = std::make_unique<DbfFile>(std::move(file), p);
        dbf->HoldCount();
        OpenCdx();
        Compile();
        if (cdx) {
            std::vector<std::string> all;
            for (const auto& t : tags)
                all.push_back(t.name);
            WriteCdx(all, {});
        }
        RestoreOrder(keep);
        bof = false;
        SetEof();
        if (dbf->RecordCount() > 0)
            Load(1);
    }

    void CloseAll() {
        cdx.reset();
        dbf.reset();
        tags.clear();
        order = -1;
        state = State::Browse;
        modified = false;
        recno = 0;
        eof = true;
        bof = false;
        buf.clear();
        curKey.clear();
    }
};

TableEngine::TableEngine(IFileSystem& fs) : TableEngine(std::make_unique<Impl>(fs)) {}

TableEngine::TableEngine(std::unique_ptr<Impl> d)
    : RecordFields(*d), TableMaintenance(*d), d_(std::move(d)) {}

TableEngine::~TableEngine() = default;

void TableEngine::CreateNew(const std::string& path, int type, int fieldCount) {
    Guard([&] {
        if (type != kTableTypeFoxPro)
            Fail(XBaseError::Code::Unsupported, "only FoxPro tables (type 2) are supported");
        if (fieldCount < 1 || fieldCount > int(kMaxFields))
            Fail(XBaseError::Code::Invalid, "invalid number of fields");
        d_->defining = true;
        d_->createPath = path;
        d_->createCount = fieldCount;
        d_->createFields.clear();
    });
}

void TableEngine::CreateField(const std::string& name, const std::string& type, int width,
                              int decimals) {
    Guard([&] {
        if (!d_->defining)
            Fail(XBaseError::Code::Invalid, "CreateField without CreateNew");
        if (int(d_->createFields.size()) >= d_->createCount)
            Fail(XBaseError::Code::Invalid, "more fields than announced");
        if (type.size() != 1)
            Fail(XBaseError::Code::Invalid, "invalid field type: " + type);
        FieldDef f;
        f.name = UpperAscii(name);
        f.type = static_cast<char>(std::toupper(static_cast<unsigned char>(type[0])));
        f.width = width;
        f.decimals = decimals;
        d_->createFields.push_back(f);
        DbfFile::CheckDefinition(d_->createFields);
    });
}

void TableEngine::CreateExec() {
    Guard([&] {
        if (!d_->defining)
            Fail(XBaseError::Code::Invalid, "CreateExec without CreateNew");
        d_->defining = false;
        if (int(d_->createFields.size()) != d_->createCount)
            Fail(XBaseError::Code::Invalid, "fewer fields than announced");
        std::string p = ResolvePath(d_->fs, d_->createPath);
        DbfFile::Create(d_->fs, p, d_->createFields);
        // A new table has no index: an index file left beside the name would
        // describe records that no longer exist.
        const std::string cdx = ResolvePath(d_->fs, WithExtension(p, ".cdx"));
        if (d_->fs.Exists(cdx) && !d_->fs.IsFolder(cdx)) {
            d_->fs.Remove(cdx);
            d_->fs.SyncFolder(FolderOf(cdx));
        }
    });
}

void TableEngine::Open(const std::string& folder, const std::string& fileName, bool exclusive) {
    Open(JoinPath(folder, fileName), exclusive);
}

void TableEngine::Open(const std::string& path, bool exclusive) {
    Guard([&] {
        Close();
        Impl& d = *d_;
        std::string p = ResolvePath(d.fs, path);
        if (!d.fs.Exists(p) || d.fs.IsFolder(p))
            Fail(XBaseError::Code::NotFound, "table not found: " + path);
        std::unique_ptr<IFile> file;
        try {
            file = d.fs.Open(p, true);
        } catch (const XBaseError& e) {
            if (e.code() != XBaseError::Code::Io)
                throw;
            file = d.fs.Open(p, false); // a read-only table still reads
        }
        if (!file->Lock(kOpenLock, exclusive ? LockMode::Exclusive : LockMode::Shared, false))
            Fail(XBaseError::Code::Locked, "table in use by another handle: " + p);
        d.notices.clear();
        d.path = p;
        d.exclusive = exclusive;
        // Exclusive handles are the maintenance's (checks, repairs, packs),
        // which move rows about rather than commit new ones; their appends
        // are held in memory until the count is written, too.
        d.observer = exclusive ? nullptr : d.fs.ObserverFor(p);
        try {
            d.dbf = std::make_unique<DbfFile>(std::move(file), p);
            if (exclusive)
                d.dbf->HoldCount();
            d.notices = d.dbf->Notices();
            d.OpenCdx();
            d.Compile();
            d.order = -1;
            d.state = Impl::State::Browse;
            d.bof = false;
            d.SetEof();
            if (d.dbf->RecordCount() > 0)
                d.Load(1);
            else
                d.bof = true;
        } catch (...) {
            d.CloseAll();
            throw;
        }
    });
}

void TableEngine::Close() {
    Guard([&] {
        if (!d_->dbf)
            return;
        try {
            d_->PostPending();
            d_->dbf->WriteHeldCount();
            if (d_->cdx)
                d_->cdx->Settle();
        } catch (...) {
            d_->CloseAll();
            throw;
        }
        d_->CloseAll();
    });
}

bool TableEngine::IsOpen() const {
    return d_->dbf != nullptr;
}
bool TableEngine::IsExclusive() const {
    return d_->dbf && d_->exclusive;
}
const std::string& TableEngine::Path() const {
    return d_->path;
}

void TableEngine::IndexTag(const std::string& indexFile, const std::string& tag,
                           const std::string& keyExpr, int option, bool descending,
                           const std::string& condition) {
    Guard([&] {
        Impl& d = *d_;
        d.NeedExclusive("IndexTag");
        d.PostPending();
        if (!indexFile.empty() &&
            !EqualsNoCase(ResolvePath(d.fs, indexFile), ResolvePath(d.fs, d.CdxPath())))
            Fail(XBaseError::Code::Unsupported, "only the production index file is supported");
        if (option != 0)
            Fail(XBaseError::Code::Unsupported, "index options other than 0 are not supported");
        if (descending)
            Fail(XBaseError::Code::Unsupported, "descending tags are not supported");
        if (tag.empty() || tag.size() > std::size_t(kCdxTagNameLength) ||
            !std::isalpha(static_cast<unsigned char>(tag[0])) ||
            tag.find_first_not_of(
                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_") !=
                std::string::npos)
            Fail(XBaseError::Code::Invalid, "invalid tag name: " + tag);
        CompiledTag c;
        c.name = UpperAscii(tag);
        c.keyText = keyExpr;
        c.forText = condition;
        c.key = Expression::Parse(keyExpr, d.dbf->Fields());
        if (c.key.IsLogical())
            Fail(XBaseError::Code::Unsupported, "key expression must give text: " + keyExpr);
        c.keyLength = c.key.Length();
        if (c.keyLength < 1 || c.keyLength > kCdxMaxKeyLength)
            Fail(XBaseError::Code::Invalid, "key longer than an index allows: " + keyExpr);
        if (!Trim(condition).empty()) {
            c.cond = Expression::Parse(condition, d.dbf->Fields());
            if (!c.cond.IsLogical())
                Fail(XBaseError::Code::Invalid, "condition must be logical: " + condition);
            c.hasCond = true;
            c.excludesDeleted = c.cond.ExcludesDeleted();
        }
        c.usable = true;
        const std::string keep = d.CurrentOrderName();
        std::vector<CompiledTag> extra;
        extra.push_back(std::move(c));
        d.WriteCdx({}, extra);
        d.RestoreOrder(keep);
    });
}

void TableEngine::SetOrder(const std::string& tag) {
    Guard([&] {
        Impl& d = *d_;
        d.NeedOpen();
        d.PostPending();
        if (tag.empty()) {
            d.order = -1;
            return;
        }
        for (std::size_t i = 0; i < d.tags.size(); ++i) {
            if (EqualsNoCase(d.tags[i].name, tag)) {
                if (!d.tags[i].usable)
                    Fail(XBaseError::Code::Unsupported,
                         "tag " + d.tags[i].name + " cannot be used: " + d.tags[i].problem);
                d.order = static_cast<int>(i);
                if (d.recno) {
                    d.Ensure();
                    d.curKey = d.KeyOf(d.tags[i], d.buf.data());
                }
                return;
            }
        }
        Fail(XBaseError::Code::NotFound, "tag not found: " + tag);
    });
}

std::string TableEngine::Order() const {
    return d_->CurrentOrderName();
}

bool TableEngine::Seek(const std::string& key) {
    return Guard([&] {
        Impl& d = *d_;
        d.NeedOpen();
        d.PostPending();
        if (d.order < 0)
            Fail(XBaseError::Code::Invalid, "Seek needs an active tag");
        const CompiledTag& t = d.tags[std::size_t(d.order)];
        std::string want = key;
        bool possible = true;
        if (want.size() > std::size_t(t.keyLength)) {
            possible = want.find_first_not_of(' ', std::size_t(t.keyLength)) == std::string::npos;
            want.resize(std::size_t(t.keyLength));
        }
        std::string target = want;
        target.resize(std::size_t(t.keyLength), '\0');
        CdxEntry e;
        if (!d.cdx->Read([&] {
                return d.cdx->Seek(d.order, reinterpret_cast<const unsigned char*>(target.data()),
                                   0, CdxFile::Find::Ge, e);
            })) {
            d.bof = false;
            d.SetEof();
            return false;
        }
        d.LoadEntry(e);
        if (t.excludesDeleted) {
            // The tag keeps deleted rows out: the record is read when first
            // looked at, and passed over then should it prove deleted.
            d.seekLanded = true;
        } else {
            // A tag that holds deleted rows: a deleted row is never found.
            std::string rec(d.dbf->RecordLength(), ' ');
            d.dbf->ReadRecord(e.rec, rec.data());
            if (rec[0] == kDbfDeleted && !d.SeekLive(rec))
                return false;
        }
        return possible && d.curKey.compare(0, want.size(), want) == 0;
    });
}

void TableEngine::Append() {
    Guard([&] {
        Impl& d = *d_;
        d.NeedOpen();
        d.PostPending();
        d.NeedWritableTags();
        d.savedRecno = d.recno;
        d.state = Impl::State::Appending;
        d.stale = false;
        d.buf = d.dbf->BlankRecord();
        d.recno = d.dbf->RecordCount() + 1;
        d.eof = false;
        d.bof = false;
        d.modified = true;
    });
}

void TableEngine::Edit() {
    Guard([&] {
        Impl& d = *d_;
        d.NeedOpen();
        if (d.state == Impl::State::Browse) {
            if (d.recno == 0)
                Fail(XBaseError::Code::Invalid, "no current record to edit");
            d.Ensure();
            d.state = Impl::State::Editing;
        }
    });
}

void TableEngine::Post() {
    Guard([&] {
        d_->NeedOpen();
        d_->PostPending();
    });
}

void TableEngine::Cancel() {
    Guard([&] {
        Impl& d = *d_;
        d.NeedOpen();
        const auto was = d.state;
        d.state = Impl::State::Browse;
        d.modified = false;
        const std::uint32_t back = was == Impl::State::Appending ? d.savedRecno : d.recno;
        if (back && back <= d.dbf->RecordCount())
            d.Load(back);
        else
            d.SetEof();
    });
}

void TableEngine::Commit() {
    Guard([&] {
        Impl& d = *d_;
        d.NeedOpen();
        d.PostPending();
        d.dbf->WriteHeldCount();
        d.dbf->Sync();
        if (d.cdx)
            d.cdx->Sync();
    });
}

void TableEngine::Delete() {
    Guard([&] {
        Impl& d = *d_;
        d.NeedOpen();
        d.PostPending();
        if (d.recno == 0)
            Fail(XBaseError::Code::Invalid, "no current record to delete");
        d.NeedWritableTags();
        d.WriteTransaction([&] {
            std::string before(d.dbf->RecordLength(), ' ');
            d.dbf->ReadRecord(d.recno, before.data());
            d.stale = false;
            if (before[0] == kDbfDeleted) {
                d.buf = before;
                return;
            }
            std::string after = before;
            after[0] = kDbfDeleted;
            d.Observed(d.recno, after.data(), [&] { d.dbf->WriteRecord(d.recno, after.data()); });
            d.UpdateTags(before.data(), after.data(), d.recno);
            d.buf = after;
        });
    });
}

bool TableEngine::Deleted() {
    return Guard([&] {
        d_->NeedOpen();
        if (d_->recno == 0 || d_->eof)
            return false;
        d_->Ensure();
        return !d_->buf.empty() && d_->buf[0] == kDbfDeleted;
    });
}

void TableEngine::SetGaugeHook(std::function<void(int)> hook) {
    d_->gauge = std::move(hook);
}
void TableEngine::SetOptimisticBuffer(bool) {}

void TableEngine::First() {
    Guard([&] {
        Impl& d = *d_;
        d.NeedOpen();
        d.PostPending();
        d.bof = false;
        if (d.order >= 0) {
            CdxEntry e;
            if (d.cdx->Read([&] { return d.cdx->First(d.order, e); })) {
                d.LoadEntry(e);
                return;
            }
        } else if (d.dbf->RecordCount() > 0) {
            d.Load(1);
            return;
        }
        d.SetEof();
        d.bof = true;
    });
}

void TableEngine::Last() {
    Guard([&] {
        Impl& d = *d_;
        d.NeedOpen();
        d.PostPending();
        d.bof = false;
        if (d.order >= 0) {
            CdxEntry e;
            if (d.cdx->Read([&] { return d.cdx->Last(d.order, e); })) {
                d.LoadEntry(e);
                return;
            }
        } else if (std::uint32_t n = d.dbf->RecordCount(); n > 0) {
            d.Load(n);
            return;
        }
        d.SetEof();
        d.bof = true;
    });
}

void TableEngine::Next() {
    Guard([&] {
        Impl& d = *d_;
        d.NeedOpen();
        d.PostPending();
        if (d.eof)
            return;
        d.bof = false;
        if (d.order >= 0) {
            CdxEntry e;
            if (d.cdx->Read([&] {
                    return d.cdx->Seek(d.order,
                                       reinterpret_cast<const unsigned char*>(d.curKey.data()),
                                       d.recno, CdxFile::Find::Gt, e);
                })) {
                d.LoadEntry(e);
                return;
            }
        } else if (d.recno < d.dbf->RecordCount()) {
            d.Load(d.recno + 1);
            return;
        }
        d.SetEof();
    });
}

void TableEngine::Prior() {
    Guard([&] {
        Impl& d = *d_;
        d.NeedOpen();
        d.PostPending();
        if (d.eof) {
            Last();
            return;
        }
        if (d.order >= 0) {
            CdxEntry e;
            if (d.cdx->Read([&] {
                    return d.cdx->Seek(d.order,
                                       reinterpret_cast<const unsigned char*>(d.curKey.data()),
                                       d.recno, CdxFile::Find::Lt, e);
                })) {
                d.LoadEntry(e);
                return;
            }
        } else if (d.recno > 1) {
            d.Load(d.recno - 1);
            return;
        }
        d.bof = true;
    });
}

bool TableEngine::Bof() const {
    return d_->bof;
}
bool TableEngine::Eof() const {
    return d_->eof;
}
std::uint32_t TableEngine::RecNo() const {
    return d_->eof ? 0 : d_->recno;
}

void TableEngine::GoTo(std::uint32_t recno) {
    Guard([&] {
        Impl& d = *d_;
        d.NeedOpen();
        d.PostPending();
        if (recno == 0 || recno > d.dbf->RecordCount())
            Fail(XBaseError::Code::Invalid, "no record " + std::to_string(recno));
        d.Load(recno);
    });
}

void TableEngine::Refresh() {
    Guard([&] {
        Impl& d = *d_;
        d.NeedOpen();
        d.PostPending();
        if (d.cdx) {
            ByteLock lock(d.LockFile(), kWriteLock, LockMode::Shared);
            d.cdx->Refresh();
        }
        if (d.recno && d.recno <= d.dbf->RecordCount()) {
            const std::string key = d.curKey;
            d.Load(d.recno);
            // Keep the place in the order even if the key changed under us.
            if (d.order >= 0 && !key.empty())
                d.curKey = key;
        } else if (d.recno) {
            d.SetEof();
        }
    });
}

std::uint32_t TableEngine::RecordCount() {
    return Guard([&] {
        d_->NeedOpen();
        return d_->dbf->RecordCount();
    });
}

std::vector<TagInfo> TableEngine::Tags() {
    return Guard([&] {
        d_->NeedOpen();
        std::vector<TagInfo> out;
        for (const auto& t : d_->tags)
            out.push_back({t.name, t.keyText, t.forText, t.keyLength});
        return out;
    });
}

std::vector<std::string> TableEngine::Notices() const {
    return d_->notices;
}

} // namespace tarvina::xbase
