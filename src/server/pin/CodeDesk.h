#pragma once

#include "server/pin/PinCodes.h"
#include "server/pin/UsageJournal.h"

#include <functional>
#include <memory>

namespace tarvina::server {

class StationFront;
class HtmlListFile;
class Till;

// Registers the code checks and the usage journal as steps of the idle
// pass, which runs them in its order (IdlePass::Step): typed codes, then
// state changes (the end of a code's use before the journal), one moved
// session's code per pass while the code table is open, and the periodic
// code check.
class CodeDesk {
public:
    struct Hooks {
        std::function<void(const QString&)> generalError;
        std::function<void()> refreshCodesGrid;
        std::function<bool()> repairInProgress;
        std::function<void(int ms)> waitForRepair;
    };

    // fs: where the tables and the history files live; tables: the code
    // handles (PinTables); tbDiario: the start day's journal; usageReport:
    // the start day's report, opened. Every pointer must outlive the desk.
    // till, when given, takes a row for every use that ends.
    CodeDesk(StationFront& core, xbase::IFileSystem& fs, PinTables tables,
             xbase::TableEngine* tbDiario, HtmlListFile* usageReport, Hooks hooks = {},
             Till* till = nullptr);
    ~CodeDesk();

    // Registers the desk's steps of the idle pass.
    void attach();
    // Removes them (before the handles close).
    void detach();

    PinCodes& codes() { return *codes_; }
    // The hooks are read when called, so views made after the desk (the
    // codes page's grid refresh) can still be plugged in.
    Hooks& hooks() { return hooks_; }
    UsageJournal& journal() { return *journal_; }

private:
    void checkTypedCodes();
    void journalStateChanges();
    void applyOneCodeAssignment();
    void periodicCheck();

    StationFront& core_;
    Hooks hooks_;
    std::unique_ptr<PinCodes> codes_;
    std::unique_ptr<UsageJournal> journal_;
};

} // namespace tarvina::server
