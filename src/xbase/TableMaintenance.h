#pragma once

#include "xbase/Cdx.h"
#include "xbase/Dbf.h"
#include "xbase/File.h"
#include "xbase/RecordFields.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tarvina::xbase {

struct CompiledTag;

// An open table as the whole-table operations see it: its files and tags,
// and the engine's own discipline for changes (pending edits, locks, index
// upkeep). The engine provides it.
class MaintainedTable {
public:
    // The open table; throws XBaseError(Invalid) when none is open.
    virtual DbfFile& Table() = 0;
    // Throws XBaseError(Locked) naming `what` unless the table is open
    // exclusively (Invalid when none is open).
    virtual void NeedExclusive(const char* what) = 0;
    // Posts the change in progress, if any.
    virtual void PostPending() = 0;
    // Throws XBaseError(Unsupported) when a tag could not be kept up to date.
    virtual void NeedWritableTags() = 0;
    virtual IFileSystem& FileSystem() = 0;
    // The production index; null when the table has none.
    virtual CdxFile* Index() = 0;
    virtual const std::vector<CompiledTag>& IndexTags() const = 0;
    // Runs `read` on the production index refreshed under the table's lock
    // held shared, so that no writer is half-way meanwhile. Needs an index.
    virtual void ReadIndex(const std::function<void(CdxFile&)>& read) = 0;
    // Appends n records (record-length bytes each, deleted mark included) in
    // one write transaction, every tag updated.
    virtual void AppendRecords(const char* records, std::uint32_t n) = 0;
    // Runs `change` on the image of every record from `first` to `last` (the
    // deleted mark included) in one write transaction, read and written back
    // by blocks; the records it says it changed are written with their tags
    // updated. The current record is read again afterwards.
    virtual void RewriteRecords(std::uint32_t first, std::uint32_t last,
                                const std::function<bool(std::uint32_t, char*)>& change) = 0;
    // Writes the production index anew with the named tags built from the
    // records and the others copied; the active order is kept.
    virtual void RebuildTags(const std::vector<std::string>& names) = 0;
    // A new file at `path` locked as the table's file is, to replace it.
    virtual std::unique_ptr<IFile> CreateReplacement(const std::string& path) = 0;
    // `file`, complete and flushed at `path`, takes the table's place: it is
    // renamed over the table and becomes the open table, every tag is built
    // again from it, and the handle is on its first record.
    virtual void ReplaceTable(std::unique_ptr<IFile> file, const std::string& path) = 0;

protected:
    ~MaintainedTable() = default;
};

// One record's image during a bulk change: its fields by name as the current
// record's are, without moving the handle.
class RecordImage final : private CurrentRecord, public RecordFields {
public:
    RecordImage(const DbfFile& table, char* bytes)
        : RecordFields(static_cast<CurrentRecord&>(*this)), table_(table), bytes_(bytes) {}
    bool Deleted() const { return bytes_[0] == kDbfDeleted; }
    bool Changed() const { return changed_; }

private:
    const DbfFile& OpenTable() const override { return table_; }
    const char* RecordBytes() override { return bytes_; }
    char* ChangeRecord() override {
        changed_ = true;
        return bytes_;
    }

    const DbfFile& table_;
    char* bytes_;
    bool changed_ = false;
};

// The operations on a whole open table rather than on a record: checking,
// packing, bulk loading, rebuilding and upgrading the index, listing a tag.
// Every operation completes or throws XBaseError.
class TableMaintenance {
public:
    // Every tag against the records; empty when all is well.
    std::vector<std::string> Verify();
    // Removes the rows marked deleted and rebuilds the index; needs the table
    // open exclusively. The handle is on the first record afterwards.
    void Pack();
    // Appends the rows of another FoxPro table (type 2), field by field by
    // name; a condition is not supported.
    void AppendFrom(const std::string& sourcePath, int type, const std::string& condition);
    // Rebuilds every tag of the production CDX from the records; needs the
    // table open exclusively.
    void Reindex();
    // Rewrites the production CDX when it departs from the layout FoxPro
    // writes (as earlier versions of this program wrote it); true when it did.
    // Needs the table open exclusively.
    bool UpgradeIndexLayout();
    // Changes rows from `first` to `last` (clipped to the table) at once, as
    // many single edits would but in one locked pass: `change` gets each
    // row's image, deleted ones included, and sets its fields; rows it leaves
    // alone are not written. Returns how many rows were written. For a stamp
    // over a hundred thousand rows, where one edit each costs seconds.
    std::uint32_t UpdateRecords(std::uint32_t first, std::uint32_t last,
                                const std::function<void(std::uint32_t, RecordImage&)>& change);
    // (record number, key) of a tag in index order.
    std::vector<std::pair<std::uint32_t, std::string>> TagKeys(const std::string& tag);

protected:
    explicit TableMaintenance(MaintainedTable& table) : table_(table) {}
    ~TableMaintenance() = default;

private:
    MaintainedTable& table_;
};

} // namespace tarvina::xbase
