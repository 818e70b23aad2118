#pragma once

#include "xbase/Cdx.h"
#include "xbase/Dbf.h"
#include "xbase/Expression.h"
#include "xbase/File.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvina::xbase {

// The engine type code of a FoxPro table with a CDX compound index.
constexpr int kTableTypeFoxPro = 2;

struct Date {
    int year = 0, month = 0, day = 0;
    bool operator==(const Date&) const = default;
};

struct TagInfo {
    std::string name;
    std::string keyExpr;
    std::string forExpr;
    int keyLength = 0;
};

// One handle on one table: the work area of the xBase engine. Every public
// operation completes or throws XBaseError, and nothing else (see Error.h).
//
// Several handles on one table, in one process or several, see each other's
// writes at once: records are read from the file whenever a handle moves, the
// record count is re-read from the header, and the index cache is dropped as
// soon as another handle has changed the index. Writes hold an exclusive lock
// on the table (a byte lock owned by the open file) around the record bytes,
// the header count and the index update; index reads in shared mode hold the
// same lock shared, so no reader sees a node half rewritten.
//
// Pending changes (after Append, or a field assignment) are posted by Post,
// and also by any move, Delete, Commit or Close, as a data-aware form would.
class TableEngine {
public:
    explicit TableEngine(IFileSystem& fs = RealFileSystem());
    ~TableEngine(); // closes, dropping unposted changes
    TableEngine(const TableEngine&) = delete;
    TableEngine& operator=(const TableEngine&) = delete;

    // Definition of a new table: CreateNew, one CreateField per field, CreateExec.
    void CreateNew(const std::string& path, int type, int fieldCount);
    void CreateField(const std::string& name, const std::string& type, int width, int decimals);
    void CreateExec();

    void Open(const std::string& folder, const std::string& fileName, bool exclusive);
    void Open(const std::string& path, bool exclusive);
    void Close();
    bool IsOpen() const;
    bool IsExclusive() const;
    const std::string& Path() const;

    // indexFile empty = the production CDX; option and descending as the
    // engine takes them (0, false); needs the table open exclusively.
    void IndexTag(const std::string& indexFile, const std::string& tag, const std::string& keyExpr,
                  int option, bool descending, const std::string& condition);
    // Rebuilds every tag of the production CDX from the records.
    void Reindex();
    // Rewrites the production CDX when it departs from the layout FoxPro
    // writes (as earlier versions of this program wrote it); true when it did.
    // Needs the table open exclusively.
    bool UpgradeIndexLayout();
    // Empty name: natural (record number) order.
    void SetOrder(const std::string& tag);
    std::string Order() const;
    // The first key of the active order whose leading bytes equal `key`; when
    // none does, the record where it would be (soft seek), or end of table.
    // A row marked deleted is never landed on. A tag whose condition keeps
    // deleted rows out is trusted for the result; should the row prove deleted
    // when its record is first read (another program deleted it behind the
    // tag), the cursor moves on to the next live row of the order then. Under
    // any other tag the seek reads the record at once and passes over it.
    bool Seek(const std::string& key);

    void Append();
    void Edit();
    void Post();
    void Cancel();
    void Commit();
    void Delete();
    bool Deleted();
    void Pack();
    void AppendFrom(const std::string& sourcePath, int type, const std::string& condition);
    bool FieldExists(const std::string& name) const;
    // Called with 0..100 during index builds; empty to clear.
    void SetGaugeHook(std::function<void(int)> hook);
    // Read buffering is never done, so this only records the caller's wish.
    void SetOptimisticBuffer(bool on);

    // Fields by name. A C field reads without trailing blanks; a null date
    // reads as nullopt; a blank N field reads as 0.
    std::string GetString(const std::string& field);
    std::int64_t GetInteger(const std::string& field);
    std::optional<Date> GetDate(const std::string& field);
    bool IsNull(const std::string& field);
    void SetString(const std::string& field, const std::string& value);
    void SetInteger(const std::string& field, std::int64_t value);
    void SetDate(const std::string& field, const std::optional<Date>& value);
    void SetNull(const std::string& field);

    void First();
    void Last();
    void Next();
    void Prior();
    bool Bof() const;
    bool Eof() const;
    std::uint32_t RecNo() const; // the bookmark; 0 at end of table
    void GoTo(std::uint32_t recno);
    void Refresh();
    std::uint32_t RecordCount();

    std::vector<FieldDef> Fields() const;
    std::vector<TagInfo> Tags();
    // What Open found and repaired (a record count that disagreed with the
    // file length), or noticed (a structural index flag without its file).
    std::vector<std::string> Notices() const;
    // Every tag against the records; empty when all is well.
    std::vector<std::string> Verify();
    // (record number, key) of a tag in index order.
    std::vector<std::pair<std::uint32_t, std::string>> TagKeys(const std::string& tag);

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace tarvina::xbase
