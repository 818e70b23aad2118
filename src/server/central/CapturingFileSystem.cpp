#include "server/central/CapturingFileSystem.h"

#include "server/central/Outbox.h"
#include "xbase/Dbf.h"
#include "xbase/Error.h"

namespace tarvina::server::central {

CapturingFileSystem::CapturingFileSystem(xbase::IFileSystem& inner)
    : inner_(inner), captures_{Capture(*this, CentralTable::Uses),
                               Capture(*this, CentralTable::Codes),
                               Capture(*this, CentralTable::CodeHistory),
                               Capture(*this, CentralTable::Till)} {}

std::optional<CentralTable> CapturingFileSystem::TableOf(const std::string& path) {
    const std::string name = xbase::FileNameOf(path);
    if (xbase::EqualsNoCase(name, "CajaPIN.dbf"))
        return CentralTable::Codes;
    if (xbase::EqualsNoCase(name, "CajaHPIN.dbf"))
        return CentralTable::CodeHistory;
    if (xbase::EqualsNoCase(name, "Caja.dbf"))
        return CentralTable::Till;
    const std::string folder = xbase::FileNameOf(xbase::FolderOf(path));
    if (xbase::EqualsNoCase(folder, "report") && JournalDay(QString::fromStdString(name)) != 0)
        return CentralTable::Uses;
    return std::nullopt;
}

xbase::WriteObserver* CapturingFileSystem::ObserverFor(const std::string& path) {
    const auto table = TableOf(path);
    if (!table)
        return nullptr;
    return &captures_[std::size_t(*table) - 1];
}

void CapturingFileSystem::Capture::BeforeWrite(const std::string& path,
                                               const std::vector<xbase::FieldDef>& fields,
                                               std::uint32_t recno, const char* record) {
    box_ = owner_.box_.load();
    if (!box_)
        return;
    try {
        seq_ =
            box_->stage(RowFromRecord(table_, QString::fromStdString(path), fields, recno, record));
    } catch (const std::exception& e) {
        box_ = nullptr;
        throw xbase::XBaseError(xbase::XBaseError::Code::Io,
                                std::string("the central copy's outbox failed: ") + e.what());
    }
}

void CapturingFileSystem::Capture::AfterWrite(bool written) {
    if (box_)
        box_->release(seq_, written);
    box_ = nullptr;
}

bool RowStandsInTable(xbase::IFileSystem& fs, const CentralRow& row) {
    try {
        const std::string path = row.path.toStdString();
        if (!fs.Exists(path))
            return false;
        xbase::DbfFile f(fs.Open(path, false), path);
        if (row.recno == 0 || row.recno > f.RecordCount())
            return false;
        std::string bytes(f.RecordLength(), ' ');
        f.ReadRecord(row.recno, bytes.data());
        return RowFromRecord(row.table, row.path, f.Fields(), row.recno, bytes.data()) == row;
    } catch (const xbase::XBaseError&) {
        return false;
    }
}

} // namespace tarvina::server::central
