#pragma once

#include "common/DateTime.h"
#include "server/pin/CodeDesk.h"
#include "server/session/HtmlListFile.h"
#include "xbase/TableEngine.h"

#include <QString>
#include <memory>

namespace tarvina::server {

class ServerCore;

// What the code checks and the usage journal run on for one run of the
// program: the main window's handles on the code table, the history handle,
// the start day's journal, the start day's usage report and code list, and
// the desk that plugs them into the idle pass.
class PinRuntime {
public:
    PinRuntime() = default;
    ~PinRuntime();
    PinRuntime(const PinRuntime&) = delete;
    PinRuntime& operator=(const PinRuntime&) = delete;

    // Creates what is missing (the data folder with both code tables and
    // their tags, the day's journal with its tags), opens the handles and
    // the two HTML lists of the start day and attaches the desk. Failures
    // are returned as text; whatever opened stays usable.
    QStringList start(ServerCore& core, const QString& programFolder,
                      const common::DateTime& startDay, CodeDesk::Hooks hooks = {});
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
    QString dataFolder() const { return dataFolder_; }

    // Table files: created when absent, with their fields and tags.
    static void EnsureCodeTables(const QString& dataFolder);
    static void EnsureJournal(const QString& journalPath);

private:
    xbase::TableEngine tbPin_, tbPinCheck_, tbRegPin_, tbDiario_;
    HtmlListFile usageReport_, codeList_;
    std::unique_ptr<CodeDesk> desk_;
    QString dataFolder_;
};

} // namespace tarvina::server
