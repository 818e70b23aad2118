#include "xbase/TableEngine.h"

#include "xbase/Error.h"
#include "xbase/KeySorter.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

namespace tarvina::xbase {

namespace {

// Byte locks far beyond any real table. The open lock is held for the life of
// a handle (shared or exclusive, as opened); the write lock is held
// exclusively around every change and shared around index reads.
constexpr std::uint64_t kOpenLock = 0x7FFFFFF0;
constexpr std::uint64_t kWriteLock = 0x7FFFFFF1;
constexpr std::uint32_t kScanChunk = 4096; // records read per block during scans
// Memory an index build gives to sorting, shared by the tags it builds at once;
// a larger table sorts in runs on disk.
constexpr std::size_t kSortBudget = std::size_t(8) << 20;

template <class F> auto Guard(F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const XBaseError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw XBaseError(XBaseError::Code::Io, "out of memory");
    } catch (const std::exception& e) {
        throw XBaseError(XBaseError::Code::Invalid, std::string("internal error: ") + e.what());
    }
}

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

std::string TrimRight(std::string s) {
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

std::string Trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos)
        return std::string();
    std::size_t e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

// Whole part of an xBase numeric text; blank or malformed text reads as 0.
std::int64_t ParseInteger(const std::string& text) {
    std::string t = Trim(text);
    std::size_t i = 0;
    bool neg = false;
    if (i < t.size() && (t[i] == '-' || t[i] == '+'))
        neg = t[i++] == '-';
    std::int64_t v = 0;
    bool any = false;
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
        if (v > (INT64_MAX - 9) / 10)
            return 0;
        v = v * 10 + (t[i] - '0');
        any = true;
    }
    if (!any)
        return 0;
    return neg ? -v : v;
}

bool ValidDate(const Date& d) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (d.year < 1 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1)
        return false;
    int max = days[d.month - 1];
    if (d.month == 2 && ((d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0))
        max = 29;
    return d.day <= max;
}

std::optional<Date> ParseDate(const char* p) {
    Date d;
    for (int i = 0; i < 8; ++i)
        if (p[i] < '0' || p[i] > '9')
            return std::nullopt;
    d.year = (p[0] - '0') * 1000 + (p[1] - '0') * 100 + (p[2] - '0') * 10 + (p[3] - '0');
    d.month = (p[4] - '0') * 10 + (p[5] - '0');
    d.day = (p[6] - '0') * 10 + (p[7] - '0');
    if (!ValidDate(d))
        return std::nullopt;
    return d;
}

struct CompiledTag {
    std::string name;
    std::string keyText, forText;
    int keyLength = 0;
    bool usable = false;
    std::string problem;
    Expression key;
    Expression cond;
    bool hasCond = false;
    // The condition keeps deleted rows out of the tag (as every tag of this
    // system's tables does), so a lookup may trust the tag on that.
    bool excludesDeleted = false;

    bool Includes(const char* record) const { return !hasCond || cond.EvalBool(record); }
};

struct TagDef {
    std::string name, keyText, forText;
};

} // namespace

struct TableEngine::Impl {
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

    void NeedWritableTags() {
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

    const FieldDef& FieldNamed(const std::string& name) const {
        NeedOpen();
        int i = dbf->FieldIndex(name);
        if (i < 0)
            Fail(XBaseError::Code::NotFound, "field not found: " + name);
        return dbf->Fields()[std::size_t(i)];
    }

    char* FieldBytes(const FieldDef& f) {
        Ensure();
        return buf.data() + f.offset;
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

    void PostPending() {
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
                dbf->AppendRecords(count, buf.data(), 1);
                newRec = count + 1;
                recno = newRec;
                UpdateTags(nullptr, buf.data(), newRec);
            });
        } else {
            WriteTransaction([&] {
                std::string before(dbf->RecordLength(), ' ');
                dbf->ReadRecord(recno, before.data());
                dbf->WriteRecord(recno, buf.data());
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
        std::vector<char> block(std::size_t(kScanChunk) * rl);
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

    void NeedExclusive(const char* what) {
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

TableEngine::TableEngine(IFileSystem& fs) : d_(std::make_unique<Impl>(fs)) {}

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

void TableEngine::Reindex() {
    Guard([&] {
        Impl& d = *d_;
        d.NeedExclusive("Reindex");
        d.PostPending();
        if (!d.cdx)
            return;
        std::vector<std::string> all;
        for (const auto& t : d.tags)
            all.push_back(t.name);
        const std::string keep = d.CurrentOrderName();
        d.WriteCdx(all, {});
        d.RestoreOrder(keep);
    });
}

bool TableEngine::UpgradeIndexLayout() {
    return Guard([&] {
        Impl& d = *d_;
        d.NeedExclusive("UpgradeIndexLayout");
        d.PostPending();
        if (!d.cdx || d.cdx->LayoutFaults(true).empty())
            return false;
        // Every tag the engine can build is built again from the records (which
        // also drops entries another engine kept against the tag's condition);
        // any other tag is copied entry by entry into the new layout.
        std::vector<std::string> rebuild;
        for (const auto& t : d.tags)
            if (t.usable)
                rebuild.push_back(t.name);
        const std::string keep = d.CurrentOrderName();
        d.WriteCdx(rebuild, {});
        d.RestoreOrder(keep);
        return true;
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
            d.dbf->WriteRecord(d.recno, after.data());
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

void TableEngine::Pack() {
    Guard([&] {
        Impl& d = *d_;
        d.NeedExclusive("Pack");
        d.PostPending();
        d.NeedWritableTags();
        const std::uint32_t count = d.dbf->RecordCount();
        const std::uint32_t rl = d.dbf->RecordLength();
        const std::uint32_t hl = d.dbf->HeaderLength();
        std::vector<char> header(hl);
        if (d.dbf->File().ReadAt(0, header.data(), hl) != hl)
            Fail(XBaseError::Code::Damaged, "table header cut short: " + d.path);
        // The packed table is written beside the old one and replaces it only
        // when complete, so a crash leaves one whole table or the other.
        const std::string temp = d.path + ".tmp";
        auto out = d.fs.Create(temp);
        if (!out->Lock(kOpenLock, LockMode::Exclusive, false))
            Fail(XBaseError::Code::Locked, "cannot lock " + temp);
        std::vector<char> block(std::size_t(kScanChunk) * rl);
        std::string packed;
        std::uint64_t pos = hl;
        std::uint32_t kept = 0;
        for (std::uint32_t r = 1; r <= count;) {
            const std::uint32_t want = std::min(kScanChunk, count - r + 1);
            if (d.dbf->ReadRecords(r, want, block.data()) != want)
                Fail(XBaseError::Code::Damaged, "table cut short while packing: " + d.path);
            packed.clear();
            for (std::uint32_t j = 0; j < want; ++j) {
                const char* rec = block.data() + std::size_t(j) * rl;
                if (rec[0] == kDbfDeleted)
                    continue;
                packed.append(rec, rl);
                ++kept;
            }
            out->WriteAt(pos, packed.data(), packed.size());
            pos += packed.size();
            r += want;
        }
        const char eofMark = static_cast<char>(kDbfEofMarker);
        out->WriteAt(pos, &eofMark, 1);
        unsigned char* h = reinterpret_cast<unsigned char*>(header.data());
        TodayBytes(h + 1);
        for (int i = 0; i < 4; ++i)
            h[kDbfCountOffset + i] = static_cast<unsigned char>(kept >> (8 * i));
        out->WriteAt(0, header.data(), hl);
        out->Sync();
        const std::string keep = d.CurrentOrderName();
        const std::string p = d.path;
        d.cdx.reset();
        d.dbf.reset();
        d.fs.Rename(temp, p);
        d.dbf = std::make_unique<DbfFile>(std::move(out), p);
        d.dbf->HoldCount();
        d.OpenCdx();
        d.Compile();
        if (d.cdx) {
            std::vector<std::string> all;
            for (const auto& t : d.tags)
                all.push_back(t.name);
            d.WriteCdx(all, {});
        }
        d.RestoreOrder(keep);
        d.bof = false;
        d.SetEof();
        if (d.dbf->RecordCount() > 0)
            d.Load(1);
    });
}

void TableEngine::AppendFrom(const std::string& sourcePath, int type,
                             const std::string& condition) {
    Guard([&] {
        Impl& d = *d_;
        d.NeedOpen();
        d.PostPending();
        if (type != kTableTypeFoxPro)
            Fail(XBaseError::Code::Unsupported, "only FoxPro tables (type 2) are supported");
        if (!Trim(condition).empty())
            Fail(XBaseError::Code::Unsupported, "AppendFrom with a condition is not supported");
        d.NeedWritableTags();
        std::string sp = ResolvePath(d.fs, sourcePath);
        DbfFile src(d.fs.Open(sp, false), sp);
        const auto& dst = d.dbf->Fields();
        std::vector<int> from(dst.size(), -1);
        for (std::size_t i = 0; i < dst.size(); ++i)
            from[i] = src.FieldIndex(dst[i].name);
        const std::uint32_t n = src.RecordCount();
        const std::uint32_t srl = src.RecordLength();
        const std::uint32_t drl = d.dbf->RecordLength();
        std::vector<char> in(std::size_t(kScanChunk) * srl);
        std::string outBlock;
        for (std::uint32_t r = 1; r <= n;) {
            const std::uint32_t want = std::min(kScanChunk, n - r + 1);
            if (src.ReadRecords(r, want, in.data()) != want)
                Fail(XBaseError::Code::Damaged, "source table cut short: " + sp);
            outBlock.assign(std::size_t(want) * drl, ' ');
            for (std::uint32_t j = 0; j < want; ++j) {
                const char* s = in.data() + std::size_t(j) * srl;
                char* t = outBlock.data() + std::size_t(j) * drl;
                // The deleted mark travels with the row: a used-up row must not
                // come back to life in the new table.
                t[0] = s[0] == kDbfDeleted ? kDbfDeleted : kDbfLive;
                for (std::size_t i = 0; i < dst.size(); ++i) {
                    if (from[i] < 0)
                        continue;
                    const FieldDef& sf = src.Fields()[std::size_t(from[i])];
                    const FieldDef& df = dst[i];
                    std::string v(s + sf.offset, std::size_t(sf.width));
                    char* out = t + df.offset;
                    const std::size_t w = std::size_t(df.width);
                    if (df.type == 'N') {
                        if (sf.type != 'N' && sf.type != 'F' && sf.type != 'C')
                            continue;
                        if (Trim(v).empty())
                            continue;
                        std::string text = std::to_string(ParseInteger(v));
                        if (df.decimals > 0)
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
            }
            d.WriteTransaction([&] {
                const std::uint32_t count = d.dbf->RecordCount();
                d.dbf->AppendRecords(count, outBlock.data(), want);
                for (std::uint32_t j = 0; j < want; ++j)
                    d.UpdateTags(nullptr, outBlock.data() + std::size_t(j) * drl, count + 1 + j);
            });
            r += want;
        }
    });
}

bool TableEngine::FieldExists(const std::string& name) const {
    return Guard([&] {
        d_->NeedOpen();
        return d_->dbf->FieldIndex(name) >= 0;
    });
}

void TableEngine::SetGaugeHook(std::function<void(int)> hook) {
    d_->gauge = std::move(hook);
}
void TableEngine::SetOptimisticBuffer(bool) {}

std::string TableEngine::GetString(const std::string& field) {
    return Guard([&] {
        const FieldDef& f = d_->FieldNamed(field);
        std::string v(d_->FieldBytes(f), std::size_t(f.width));
        if (f.type == 'C')
            return TrimRight(v);
        return Trim(v);
    });
}

std::int64_t TableEngine::GetInteger(const std::string& field) {
    return Guard([&] {
        const FieldDef& f = d_->FieldNamed(field);
        return ParseInteger(std::string(d_->FieldBytes(f), std::size_t(f.width)));
    });
}

std::optional<Date> TableEngine::GetDate(const std::string& field) {
    return Guard([&]() -> std::optional<Date> {
        const FieldDef& f = d_->FieldNamed(field);
        if (f.type != 'D')
            Fail(XBaseError::Code::Invalid, "not a date field: " + field);
        return ParseDate(d_->FieldBytes(f));
    });
}

bool TableEngine::IsNull(const std::string& field) {
    return Guard([&] {
        const FieldDef& f = d_->FieldNamed(field);
        if (f.type == 'D')
            return !ParseDate(d_->FieldBytes(f)).has_value();
        const char* p = d_->FieldBytes(f);
        return std::all_of(p, p + f.width, [](char c) { return c == ' '; });
    });
}

void TableEngine::SetString(const std::string& field, const std::string& value) {
    Guard([&] {
        const FieldDef& f = d_->FieldNamed(field);
        if (f.type == 'N') {
            if (Trim(value).empty()) {
                SetNull(field);
                return;
            }
            SetInteger(field, ParseInteger(value));
            return;
        }
        if (f.type == 'D') {
            if (Trim(value).empty()) {
                SetNull(field);
                return;
            }
            auto dt = value.size() == 8 ? ParseDate(value.data()) : std::nullopt;
            if (!dt)
                Fail(XBaseError::Code::Invalid, "not a date (YYYYMMDD): " + value);
            SetDate(field, dt);
            return;
        }
        d_->BeginChange();
        char* p = d_->FieldBytes(f);
        std::memset(p, ' ', std::size_t(f.width));
        std::memcpy(p, value.data(), std::min(value.size(), std::size_t(f.width)));
    });
}

void TableEngine::SetInteger(const std::string& field, std::int64_t value) {
    Guard([&] {
        const FieldDef& f = d_->FieldNamed(field);
        std::string text = std::to_string(value);
        if (f.type == 'N' && f.decimals > 0)
            text += "." + std::string(std::size_t(f.decimals), '0');
        if (f.type == 'C') {
            SetString(field, text);
            return;
        }
        if (f.type != 'N')
            Fail(XBaseError::Code::Invalid, "not a numeric field: " + field);
        if (text.size() > std::size_t(f.width))
            Fail(XBaseError::Code::Invalid, "value does not fit field " + f.name);
        d_->BeginChange();
        char* p = d_->FieldBytes(f);
        std::memset(p, ' ', std::size_t(f.width));
        std::memcpy(p + (std::size_t(f.width) - text.size()), text.data(), text.size());
    });
}

void TableEngine::SetDate(const std::string& field, const std::optional<Date>& value) {
    Guard([&] {
        const FieldDef& f = d_->FieldNamed(field);
        if (f.type != 'D')
            Fail(XBaseError::Code::Invalid, "not a date field: " + field);
        if (value && !ValidDate(*value))
            Fail(XBaseError::Code::Invalid, "invalid date for field " + f.name);
        d_->BeginChange();
        char* p = d_->FieldBytes(f);
        if (!value) {
            std::memset(p, ' ', 8);
            return;
        }
        char text[16];
        std::snprintf(text, sizeof text, "%04d%02d%02d", value->year, value->month, value->day);
        std::memcpy(p, text, 8);
    });
}

void TableEngine::SetNull(const std::string& field) {
    Guard([&] {
        const FieldDef& f = d_->FieldNamed(field);
        d_->BeginChange();
        std::memset(d_->FieldBytes(f), ' ', std::size_t(f.width));
    });
}

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

std::vector<FieldDef> TableEngine::Fields() const {
    return Guard([&] {
        d_->NeedOpen();
        return d_->dbf->Fields();
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

namespace {

// Fingerprint of a key; 0 is kept for "no entry expected".
std::uint64_t KeyHash(const char* k, std::size_t n) {
    std::uint64_t h = 14695981039346656037ull;
    for (std::size_t i = 0; i < n; ++i)
        h = (h ^ static_cast<unsigned char>(k[i])) * 1099511628211ull;
    return h ? h : 1;
}

} // namespace

std::vector<std::string> TableEngine::Verify() {
    return Guard([&] {
        Impl& d = *d_;
        d.NeedOpen();
        d.PostPending();
        std::vector<std::string> faults;
        for (const auto& n : d.dbf->Notices())
            if (n.rfind("table damaged", 0) == 0)
                faults.push_back(n);
        if (!d.cdx)
            return faults;
        ByteLock lock(d.LockFile(), kWriteLock, LockMode::Shared);
        d.cdx->Refresh();
        for (const auto& f : d.cdx->LayoutFaults(false))
            faults.push_back(f);
        const std::uint32_t count = d.dbf->RecordCount();
        const std::uint32_t rl = d.dbf->RecordLength();
        std::vector<char> block(std::size_t(kScanChunk) * rl);
        std::string key;
        // Per record, the fingerprint of the key the tag must hold for it (0:
        // none). The tree walk checks the order; each entry is matched
        // against its record once, so equal counts mean the same entries.
        std::vector<std::uint64_t> expected;
        std::vector<bool> seen;
        for (std::size_t i = 0; i < d.tags.size(); ++i) {
            const CompiledTag& t = d.tags[i];
            const std::string name = "tag " + t.name + ": ";
            if (!t.usable) {
                faults.push_back(name + "cannot be checked: " + t.problem);
                continue;
            }
            const std::size_t kl = std::size_t(t.keyLength);
            key.assign(kl, ' ');
            expected.assign(count, 0);
            seen.assign(count, false);
            std::uint32_t want = 0;
            for (std::uint32_t r = 1; r <= count;) {
                const std::uint32_t n = std::min(kScanChunk, count - r + 1);
                if (d.dbf->ReadRecords(r, n, block.data()) != n) {
                    faults.push_back("table cut short at record " + std::to_string(r));
                    break;
                }
                for (std::uint32_t j = 0; j < n; ++j) {
                    const char* rec = block.data() + std::size_t(j) * rl;
                    if (!t.Includes(rec))
                        continue;
                    t.key.EvalText(rec, key.data());
                    expected[r + j - 1] = KeyHash(key.data(), kl);
                    ++want;
                }
                r += n;
            }
            std::vector<std::string> structural, layout, entries;
            std::uint32_t have = 0;
            auto entryFault = [&](std::uint32_t r, const unsigned char* k, const std::string& why) {
                if (entries.size() < 10)
                    entries.push_back(
                        name + "entry " + std::to_string(have) + " is record " + std::to_string(r) +
                        " \"" + std::string(reinterpret_cast<const char*>(k), kl) + "\", " + why);
            };
            d.cdx->Walk(
                static_cast<int>(i),
                [&](const unsigned char* k, std::uint32_t r) {
                    ++have;
                    if (r == 0 || r > count)
                        return entryFault(r, k, "beyond the table");
                    if (seen[r - 1])
                        return entryFault(r, k, "which the tag holds twice");
                    seen[r - 1] = true;
                    const std::uint64_t h = expected[r - 1];
                    if (h == 0)
                        return entryFault(r, k, "which the tag's condition leaves out");
                    if (h != KeyHash(reinterpret_cast<const char*>(k), kl)) {
                        std::string rec(rl, ' ');
                        d.dbf->ReadRecord(r, rec.data());
                        t.key.EvalText(rec.data(), key.data());
                        entryFault(r, k, "the record gives \"" + key + "\"");
                    }
                },
                &structural, &layout);
            for (const auto& f : structural)
                faults.push_back(name + f);
            for (const auto& f : layout)
                faults.push_back(name + f);
            if (have != want)
                faults.push_back(name + "holds " + std::to_string(have) +
                                 " keys, the records give " + std::to_string(want));
            faults.insert(faults.end(), entries.begin(), entries.end());
            int missing = 0;
            for (std::uint32_t r = 1; r <= count && missing < 10; ++r)
                if (expected[r - 1] != 0 && !seen[r - 1]) {
                    faults.push_back(name + "record " + std::to_string(r) + " is missing");
                    ++missing;
                }
        }
        return faults;
    });
}

std::vector<std::pair<std::uint32_t, std::string>> TableEngine::TagKeys(const std::string& tag) {
    return Guard([&] {
        Impl& d = *d_;
        d.NeedOpen();
        std::vector<std::pair<std::uint32_t, std::string>> out;
        if (!d.cdx)
            Fail(XBaseError::Code::NotFound, "the table has no index file");
        ByteLock lock(d.LockFile(), kWriteLock, LockMode::Shared);
        d.cdx->Refresh();
        const int i = d.cdx->TagIndex(tag);
        if (i < 0)
            Fail(XBaseError::Code::NotFound, "tag not found: " + tag);
        const std::size_t kl = std::size_t(d.cdx->Tags()[std::size_t(i)].keyLength);
        d.cdx->Walk(
            i,
            [&](const unsigned char* k, std::uint32_t r) {
                out.emplace_back(r, std::string(reinterpret_cast<const char*>(k), kl));
            },
            nullptr);
        return out;
    });
}

} // namespace tarvina::xbase
