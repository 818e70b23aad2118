#pragma once

#include "common/DateTime.h"
#include "server/pin/CodeDesk.h"
#include "server/pin/HtmlListFile.h"
#include "server/pin/TableOps.h"
#include "server/pin/Till.h"
#include "xbase/TableEngine.h"

#include <QString>
#include <functional>
#include <memory>

namespace tarvina::server {

class StationFront;

// What the code checks and the usage journal run on for one run of the
// program: the main window's handles on the code table, the history handle,
// the start day's journal, the start day's usage report and code list, and
// the desk that plugs them into the idle pass.
class PinRuntime {
public:
    // fs: where the tables live; every handle and table step goes through it.
    explicit PinRuntime(xbase::IFileSystem& fs);
    ~PinRuntime();
    PinRuntime(const PinRuntime&) = delete;
    PinRuntime& operator=(const PinRuntime&) = delete;

    // The main window's table steps: housekeeping, the indexes dropped
    // after an unclean close, ChkTables, the two code handles, the day's
    // journal and its handle; then the history handle, the two HTML lists
    // of the start day, and the desk attached. Failures, and files found
    // damaged and set aside, are returned as text for the operator;
    // whatever opened stays usable.
    QStringList start(StationFront& core, const QString& programFolder,
                      const common::DateTime& startDay, CodeDesk::Hooks hooks = {});
    // Where ChkTables' texts go while start runs.
    void setSplash(std::function<void(const QString&)> splash) { splash_ = std::move(splash); }

    // "Reparar base de datos": the handles close, both tables are
    // re-indexed, the handles reopen. frameTbPin is the codes frame's handle,
    // if there is one. Throws what the repair threw, after the handles are
    // back.
    void actRepair(const TableOps::RepairProgress& progress = {},
                   xbase::TableEngine* frameTbPin = nullptr);
    bool repairInProgress() const { return repairInProgress_; }
    // At close: the lists are written once more, the desk detached and the
    // handles closed. False when a list could not be written.
    bool close();

    CodeDesk* desk() { return desk_.get(); }
    HtmlListFile& usageReport() { return usageReport_; }
    HtmlListFile& codeList() { return codeList_; }
    xbase::TableEngine& tbPin() { return tbPin_; }
    xbase::TableEngine& tbPinCheck() { return tbPinCheck_; }
    xbase::TableEngine& tbRegPin() { return tbRegPin_; }
    xbase::TableEngine& tbDiario() { return tbDiario_; }
    // The till (data/Caja.dbf); null before start.
    Till* till() { return till_.get(); }
    QString dataFolder() const { return dataFolder_; }
    xbase::IFileSystem& fileSystem() { return fs_; }

    // Table files: created when absent, with their fields and tags (the load-
    // time creation of the code tables, and CreaDiario).
    static void EnsureCodeTables(xbase::IFileSystem& fs, const QString& dataFolder);
    static void EnsureJournal(xbase::IFileSystem& fs, const QString& journalPath);

private:
    xbase::IFileSystem& fs_;
    xbase::TableEngine tbPin_, tbPinCheck_, tbRegPin_, tbDiario_;
    HtmlListFile usageReport_, codeList_;
    std::unique_ptr<Till> till_;
    std::unique_ptr<CodeDesk> desk_;
    QString dataFolder_, programFolder_;
    StationFront* core_ = nullptr;
    std::function<void(const QString&)> splash_;
    bool repairInProgress_ = false;
};

} // namespace tarvina::server
