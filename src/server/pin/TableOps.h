#pragma once

#include "common/DateTime.h"
#include "common/LastCommand.h"

#include <QString>
#include <functional>

namespace tarvina::xbase {
class IFileSystem;
class TableEngine;
} // namespace tarvina::xbase

namespace tarvina::server {

// The table work of the main window: creating the code tables, tidying the
// files older versions left beside them, the start-up check that upgrades,
// re-creates and re-indexes them, the day's journal, and the operator's
// repair. File names are found without regard to case below the program
// folder. Every file is reached through the engine's file system, so that a
// failing or cut-off disk can be put under all of it. Engine errors leave as
// xbase::XBaseError; file-system failures as std::runtime_error with a text
// for the operator. UI thread only.
class TableOps {
public:
    struct Hooks {
        // Start-up splash texts.
        std::function<void(const QString&)> splash;
        // Things the operator must know about that did not stop the work
        // (a damaged file set aside, rows that could not be recovered).
        std::function<void(const QString&)> notice;
        // Stamps the names of files set aside.
        std::function<common::DateTime()> now;
    };

    enum class Layout { Codes, History, Journal, Till };
    enum class RepairBar { Pin, Histo };
    // The bar being filled and its position, 0 to 100.
    using RepairProgress = std::function<void(RepairBar, int percent)>;

    // The handles ActRepair closes and reopens. The frames' handles may be
    // null; a closed one stays closed.
    struct Handles {
        xbase::TableEngine* tbPin = nullptr;
        xbase::TableEngine* tbPinCheck = nullptr;
        xbase::TableEngine* tbRegPin = nullptr;
        xbase::TableEngine* frameTbPin = nullptr;
    };

    TableOps(xbase::IFileSystem& fs, QString programFolder, common::LastCommand& lastCommand,
             Hooks hooks = {});

    // The data folder as it exists, in any case; "data" below the program
    // folder when there is none yet.
    static QString DataFolder(xbase::IFileSystem& fs, const QString& programFolder);

    // Load-time creation: the data folder with its parents, then each table
    // with its fields and tags unless its file exists.
    static void CreateTablesAtLoad(xbase::IFileSystem& fs, const QString& programFolder);
    static void CreateHistoryTable(xbase::IFileSystem& fs, const QString& dataFolder);
    static void CreateCodeTable(xbase::IFileSystem& fs, const QString& dataFolder);

    void TableHousekeeping();
    // After a run that did not close in order: both index files go, so that
    // ChkTables packs the tables and builds their tags afresh.
    void DropIndexesAfterUncleanClose();
    // After such a run the day's journal's index goes as well (its rows may
    // be on the disk without their keys): CreaDiario builds it afresh.
    void DropJournalIndex(const QString& journalPath);
    void ChkTables();
    // TbPin on tag "PIN" and TBPinCheck on tag "MAC", shared.
    void OpenTableHandles(xbase::TableEngine& tbPin, xbase::TableEngine& tbPinCheck);
    void CreaDiario(const QString& journalPath);
    // The till's table (data/Caja.dbf), made, checked and indexed as the
    // journal is; a damaged file is set aside and a new one started.
    void CreaCaja();
    QString TillPath() const;

    // Closes the handles, re-indexes both tables, reopens the handles that
    // were open. repairInProgress is set throughout and cleared before any
    // error leaves.
    void ActRepair(const Handles& handles, const RepairProgress& progress, bool& repairInProgress);
    void RepairTables(const RepairProgress& progress);

    // Splash texts.
    static const QString kSplashCodes;
    static const QString kSplashHistory;
    static const QString kSplashUncleanClose;

private:
    QString dataFile(const QString& name) const;
    bool exists(const QString& name) const;
    bool isFile(const QString& path) const;
    QString indexPathOf(const QString& dbfPath) const;
    bool tableFileSound(const QString& path) const;
    void remove(const QString& name) const;
    void rename(const QString& from, const QString& to) const;
    // Opens a table exclusively. A damaged index is dropped (it is rebuilt
    // from the records); a damaged table file is renamed aside and false
    // returned, so that a fresh table takes its place.
    bool openChecked(xbase::TableEngine& t, const QString& path);
    void setAside(const QString& path);
    // Creates the table `name` of the data folder, holding the rows of
    // `source` when given. The rows are copied into a file of another name
    // that replaces `name` only when complete, and the source is deleted
    // only after that: a crash half-way leaves the source to be copied again.
    void recreate(const QString& name, Layout layout, const QString& source);
    // Rewrites, once, an index file that an earlier version wrote in a layout
    // other FoxPro engines misread, and says so on the console.
    void upgradeIndex(const QString& dbfPath);
    void tell(const QString& text) const;

    xbase::IFileSystem& fs_;
    QString programFolder_;
    common::LastCommand& lastCommand_;
    Hooks hooks_;
};

} // namespace tarvina::server
