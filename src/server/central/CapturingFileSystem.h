#pragma once

#include "server/central/CentralTables.h"
#include "xbase/File.h"

#include <array>
#include <atomic>
#include <optional>

namespace tarvina::server::central {

class Outbox;

// The file system the cashier's tables live on, passing every call through,
// that also hands each handle on a copied table (the day's journal, the code
// table, the code history, the till) the observer that stages its rows in
// the outbox. While no outbox is set the rows are written as ever and not
// copied.
class CapturingFileSystem final : public xbase::IFileSystem {
public:
    explicit CapturingFileSystem(xbase::IFileSystem& inner);

    // Null to stop copying. The outbox must outlive its use here.
    void setOutbox(Outbox* box) { box_.store(box); }
    xbase::IFileSystem& inner() { return inner_; }

    // Which copied table a file is, from its name: "CajaPIN.dbf",
    // "CajaHPIN.dbf", "Caja.dbf", or "ddmmyyyy.dbf" in a folder "report".
    static std::optional<CentralTable> TableOf(const std::string& path);

    std::unique_ptr<xbase::IFile> Open(const std::string& path, bool writable) override {
        return inner_.Open(path, writable);
    }
    std::unique_ptr<xbase::IFile> Create(const std::string& path) override {
        return inner_.Create(path);
    }
    bool Exists(const std::string& path) override { return inner_.Exists(path); }
    bool IsFolder(const std::string& path) override { return inner_.IsFolder(path); }
    void Remove(const std::string& path) override { inner_.Remove(path); }
    void Rename(const std::string& from, const std::string& to) override {
        inner_.Rename(from, to);
    }
    std::vector<std::string> List(const std::string& folder) override {
        return inner_.List(folder);
    }
    void MakeFolders(const std::string& path) override { inner_.MakeFolders(path); }
    void SyncFolder(const std::string& folder) override { inner_.SyncFolder(folder); }
    xbase::WriteObserver* ObserverFor(const std::string& path) override;

private:
    class Capture final : public xbase::WriteObserver {
    public:
        Capture(CapturingFileSystem& owner, CentralTable table) : owner_(owner), table_(table) {}
        void BeforeWrite(const std::string& path, const std::vector<xbase::FieldDef>& fields,
                         std::uint32_t recno, const char* record) override;
        void AfterWrite(bool written) override;

    private:
        CapturingFileSystem& owner_;
        CentralTable table_;
        Outbox* box_ = nullptr;
        std::uint64_t seq_ = 0;
    };

    xbase::IFileSystem& inner_;
    std::atomic<Outbox*> box_{nullptr};
    std::array<Capture, 4> captures_;
};

// Whether the row still stands in its table as the outbox holds it.
bool RowStandsInTable(xbase::IFileSystem& fs, const CentralRow& row);

} // namespace tarvina::server::central
