#pragma once

#include "common/DateTime.h"
#include "server/computers/ServerContext.h"
#include "server/computers/StateChange.h"

#include <QString>
#include <QStringList>
#include <functional>

namespace tarvina::xbase {
class IFileSystem;
class TableEngine;
} // namespace tarvina::xbase

namespace tarvina::server {

class HtmlListFile;

// The records of use kept at every change of a computer's state: the day's
// journal table, the computer's history (in memory and in its text file),
// the last-use text and the day's usage report. UI thread only.
class UsageJournal {
public:
    struct UseEnd {
        QString computer, user, code;
        common::DateTime start;
        qint64 minutes = 0;
    };
    struct Hooks {
        std::function<void(const QString&)> generalError;
        // The code step that comes first at every state change (EndCodeUse);
        // true when it ended the use of the change's code. It may throw,
        // which goes to the general error handling.
        std::function<bool(const StateChange&)> endCodeUse;
        // A use that this change ended (its journal row closed): the
        // computer's name, the user, the start, the minutes charged and the
        // code the use ran on (empty for time granted by the cashier).
        std::function<void(const UseEnd&)> useEnded;
    };

    // A history file beyond this many lines is cut back to kHistoryKeep.
    static constexpr int kHistoryTrimAbove = 70;
    static constexpr int kHistoryKeep = 50;
    // Sessions this long or shorter get no report row.
    static constexpr qint64 kReportMinMs = 50000;

    // fs: where the history files live; tbDiario: the start day's journal,
    // active tag "EQUIPO"; usageReport: the start day's report, already
    // opened. programFolder holds the history files.
    UsageJournal(xbase::IFileSystem& fs, ServerContext& ctx, xbase::TableEngine* tbDiario,
                 HtmlListFile* usageReport, QString programFolder, Hooks hooks);

    // Every change is served as it happened: the journal, the history and
    // the report work from what the change left on the record.
    void Statuspinchange(const StateChange& change);
    // The record's present state served as a change.
    void Statuspinchange(TCompItem* record);
    // True when the change ended a use: a lock closed its row.
    bool WriteJournal(const StateChange& change);

    // The computer's history file (its address + ".txt"); empty when the
    // address could not name a file of the folder.
    QString historyPath(const QString& address) const;

    // The lines, each exactly as the history and the last-use text show it.
    static QString Bracketed(const common::DateTime& now);
    static QString SessionLine(const common::DateTime& now, const QString& user,
                               const common::DateTime& start);
    static QString LastUseText(const common::DateTime& now, const common::DateTime& start);

private:
    void writeHistory(const StateChange& change);
    // The history line, the last-use text and the report row of a session
    // that ended with this change.
    void closeSession(const StateChange& change, const QString& address, const QString& name,
                      const common::DateTime& now);
    void loadHistory(TCompItem* record, const QString& address);
    void saveHistory(const QString& address, const QStringList& lines);
    void reportError(const QString& text);

    xbase::IFileSystem& fs_;
    ServerContext& ctx_;
    xbase::TableEngine* tbDiario_;
    HtmlListFile* report_;
    QString folder_;
    Hooks hooks_;
};

} // namespace tarvina::server
