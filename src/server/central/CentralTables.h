#pragma once

#include "xbase/Dbf.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace tarvina::server::central {

// The local tables copied to the central database.
enum class CentralTable : std::uint8_t { Uses = 1, Codes = 2, CodeHistory = 3, Till = 4 };

// One copied column: the local field it comes from (its column is the same
// name in lower case) and the column's type in the central database.
struct ColumnSpec {
    const char* field;
    const char* sqlType;
};

struct TableSpec {
    CentralTable id;
    const char* sqlName;
    std::vector<ColumnSpec> columns;
};

const std::vector<TableSpec>& AllTables();
const TableSpec* SpecOf(CentralTable table);
QString TableName(CentralTable table);

// One row as it stands after a local write, ready for the central side.
struct CentralRow {
    std::uint64_t seq = 0;
    CentralTable table = CentralTable::Uses;
    // The row's identity in its branch: the record number, except for the
    // journal (one file a day: the day and the record number) and the codes
    // (a pack renumbers their records: the code itself).
    std::int64_t localId = 0;
    bool deleted = false;
    // Values in the order of the table's central columns; nullopt is NULL.
    std::vector<std::optional<QString>> values;
    // Where the row was written, to check it against the table after a kill.
    QString path;
    std::uint32_t recno = 0;

    bool operator==(const CentralRow& o) const {
        return table == o.table && localId == o.localId && deleted == o.deleted &&
               values == o.values;
    }
};

// The row as the central table takes it, from the record's bytes and the
// table's fields. A field the table lacks reads as NULL; text is cp1252 in
// the file.
CentralRow RowFromRecord(CentralTable table, const QString& path,
                         const std::vector<xbase::FieldDef>& fields, std::uint32_t recno,
                         const char* record);

// The day of a journal file named "ddmmyyyy.dbf" as yyyymmdd; 0 for another
// name.
int JournalDay(const QString& path);

} // namespace tarvina::server::central
