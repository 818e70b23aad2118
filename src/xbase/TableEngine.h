#pragma once

#include "xbase/Dbf.h"
#include "xbase/File.h"
#include "xbase/RecordFields.h"
#include "xbase/TableMaintenance.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvina::xbase {

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
//
// The fields of the current record are read and written through RecordFields,
// the whole-table operations (Verify, Pack, AppendFrom, Reindex, the index
// layout upgrade, TagKeys) come from TableMaintenance; both work on the
// handle's state through the narrow interfaces the engine gives them.
class TableEngine : public RecordFields, public TableMaintenance {
public:
    // fs: where the tables are (the operating system's files, or a test's).
    explicit TableEngine(IFileSystem& fs);
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
    // Called with 0..100 during index builds; empty to clear.
    void SetGaugeHook(std::function<void(int)> hook);
    // Read buffering is never done, so this only records the caller's wish.
    void SetOptimisticBuffer(bool on);

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

    std::vector<TagInfo> Tags();
    // What Open found and repaired (a record count that disagreed with the
    // file length), or noticed (a structural index flag without its file).
    std::vector<std::string> Notices() const;

private:
    struct Impl;
    // The state is made first so that the parts above can be given it.
    explicit TableEngine(std::unique_ptr<Impl> d);
    std::unique_ptr<Impl> d_;
};

} // namespace tarvina::xbase
