#pragma once

#include "common/DateTime.h"
#include "common/LastCommand.h"
#include "platform/Clock.h"
#include "server/computers/ComputerRegistry.h"
#include "server/computers/ServerContext.h"
#include "server/computers/StateChange.h"
#include "server/net/HandOff.h"
#include "server/session/ComputersModel.h"
#include "server/session/IdlePass.h"

#include <QString>
#include <deque>
#include <optional>
#include <utility>

namespace tarvina::server {

// The part of taquilla's core that faces the stations and what serves them
// on the UI thread: the registry of computers, the hand-off from the
// connection threads, the shared context, the clock, the last-step label,
// the folders, the idle pass and the queues its steps serve. The code desk
// and the journal work on this alone; the core (server/shell) is one, adding
// the listener, the views' slots, the console and the settings.
//
// UI thread only, except what ServerContext says of itself.
class StationFront {
public:
    StationFront(platform::Clock& clock, QString programFolder, QString workFolder);
    virtual ~StationFront();
    StationFront(const StationFront&) = delete;
    StationFront& operator=(const StationFront&) = delete;

    ServerContext& context() { return ctx_; }
    ComputerRegistry& registry() { return registry_; }
    common::LastCommand& lastCommand() { return lastCommand_; }
    platform::Clock& clock() { return clock_; }
    const QString& programFolder() const { return programFolder_; }
    const QString& workFolder() const { return workFolder_; }
    IdlePass& idlePass() { return idle_; }
    // The computers view's rows.
    ComputersModel& computers() { return model_; }
    // Set when the program is closing: no late effects reach the forms.
    bool closing() const { return ctx_.closing.load(); }
    // The computers view's one-second tick: the times of every row; every
    // 30th tick the stations are asked for their state, every 120th their
    // clocks are set.
    void Tick();
    int tickCounter() const { return tickCounter_; }

    // A console line for a record (or none), on the UI thread.
    virtual void ShowRemoteMessage(TCompItem* record, const QString& text) = 0;

    // The previous run left the tables open (their indexes are rebuilt).
    bool tablesClosedUncleanly() const { return tablesUnclean_; }
    // The previous run did not close in order: the listener, and the
    // periodic code check, wait for the operator's notice.
    bool crashSuspected() const { return crashSuspected_; }
    void setCrashSuspected(bool on) { crashSuspected_ = on; }
    void setPinCheckRunning(bool on) { pinCheckRunning_ = on; }
    // True once every 75 s while prepaid codes are sold, no unclean close
    // waits for its notice and no check is running; the next one is then
    // counted from now.
    bool periodicCodeCheckDue();

    // The queues the idle pass serves, in arrival order.
    void postTypedCode(TCompItem* record) { typedCodes_.push_back(record); }
    TCompItem* takeTypedCode();
    // Every state change counts towards the event tally.
    void postStateChange(StateChange change);
    std::optional<StateChange> takeStateChange();
    void postCodeAssignment(QString code, TCompItem* record) {
        codeAssignments_.emplace_back(std::move(code), record);
    }
    // The oldest moved session's code, which stays until it is done with.
    std::optional<std::pair<QString, TCompItem*>> nextCodeAssignment() const;
    void codeAssignmentDone();
    size_t codeAssignmentsWaiting() const { return codeAssignments_.size(); }
    int eventTally() const { return eventTally_; }

protected:
    // Prepaid codes are what the café sells now.
    virtual bool codesInService() const = 0;
    void setTablesClosedUncleanly(bool on) { tablesUnclean_ = on; }
    // Each pass lets one state change of the tally go.
    void lowerTally() {
        if (eventTally_ > 0)
            --eventTally_;
    }

    platform::Clock& clock_;
    QString programFolder_;
    QString workFolder_;
    common::LastCommand lastCommand_;
    ComputerRegistry registry_;
    HandOff handoff_;
    ServerContext ctx_;
    ComputersModel model_;

private:
    IdlePass idle_;
    std::deque<TCompItem*> typedCodes_;
    std::deque<StateChange> stateChanges_;
    std::deque<std::pair<QString, TCompItem*>> codeAssignments_;
    int eventTally_ = 0;
    int tickCounter_ = 0;
    bool tablesUnclean_ = false;
    bool crashSuspected_ = false;
    bool pinCheckRunning_ = false;
    common::DateTime lastPinCheck_;
};

} // namespace tarvina::server
