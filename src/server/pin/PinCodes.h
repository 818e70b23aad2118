#pragma once

#include "common/DateTime.h"
#include "server/computers/ServerContext.h"
#include "server/computers/StateChange.h"

#include <QHash>
#include <QString>
#include <deque>
#include <functional>
#include <optional>
#include <string>

namespace tarvina::xbase {
class TableEngine;
struct Date;
} // namespace tarvina::xbase

namespace tarvina::server {

// The handles on the code tables this part works on. They belong to the main
// window and the frames; pointers may be null or closed.
struct PinTables {
    xbase::TableEngine* tbPin = nullptr;      // main window's, active tag "PIN"
    xbase::TableEngine* tbPinCheck = nullptr; // main window's, active tag "MAC"
    xbase::TableEngine* tbRegPin = nullptr;   // history frame's, active tag "PINFECHOR"
    xbase::TableEngine* frameTbPin = nullptr; // codes frame's
    // Where RegConsumo opens TbRegPin when it is closed.
    QString historyTablePath;
};

// The server's side of prepaid codes: checking a typed code, binding it to
// a computer and granting its balance, charging the minutes when the use
// ends, rebinding a moved session, and the periodic check that locks
// computers out of time and closes out abandoned codes. UI thread only.
class PinCodes {
public:
    struct Hooks {
        // ShowRemoteMessage; record may be null.
        std::function<void(TCompItem*, const QString&)> console;
        // The program's general error handling.
        std::function<void(const QString&)> generalError;
        std::function<void()> refreshCodesGrid;
        std::function<bool()> repairInProgress;
        // Lets the event loop run until the repair is over or ms have passed.
        std::function<void(int ms)> waitForRepair;
        std::function<void(bool)> setPinCheckRunning;
    };

    enum class HistoryKind { Assignment, Consumption };

    // More than this many refused codes from one computer within the window
    // and its codes are refused without a table lookup until the window has
    // passed since the refusal that tripped the guard.
    static constexpr int kGuessLimit = 10;
    static constexpr qint64 kGuessWindowMs = 60000;
    // A moved session's code that has not matched for this long is dropped.
    static constexpr qint64 kAssignWaitMs = 120000;
    static constexpr int kRepairWaitMs = 120000;

    PinCodes(ServerContext& ctx, PinTables tables, Hooks hooks);

    PinTables& tables() { return tables_; }

    void ProcesaPIn(TCompItem* record);
    // First step of a state change: a lock ends the use of the code the
    // station held at that lock. True when a use was ended and charged.
    // Throws when the code cannot be looked up (the caller hands that to the
    // general error handling).
    bool EndCodeUse(const StateChange& change);
    // The same for the record as it stands now.
    void EndCodeUse(TCompItem* record);
    // The oldest moved session's code waiting; true when it is done with.
    bool ApplyPinAssign(const QString& code, TCompItem* record);
    void VerificaPin();
    // Ends the use of TBPinCheck's current row.
    void CloseOutCode();
    void RegConsumo(HistoryKind kind, const QString& code, const common::DateTime& start,
                    qint64 minutes);

    // A started minute is charged once 0.4 of it has passed; never negative.
    static qint64 MinutesCharged(const common::DateTime& start, const common::DateTime& now);
    // CFECHA + CHORA; nullopt when either is missing or malformed.
    static std::optional<common::DateTime> UseStart(const std::optional<xbase::Date>& date,
                                                    const std::string& time);

    bool guessGuardActive(TCompItem* record) const;

private:
    struct Guard {
        std::deque<qint64> refusals;
        qint64 blockedUntil = -1;
        bool announced = false;
    };

    // What the station sent with its code, read under the lock.
    struct TypedCode {
        QString name, pin, mac;
    };
    // False (and told, when the table is the cause) when the code cannot be
    // checked: the station is gone or the table is closed.
    bool readTypedCode(TCompItem* record, TypedCode& typed);
    // The balance of a code that is not in use; nullopt for an unknown,
    // used-up or bound code. Moves t to the code's row.
    static std::optional<qint64> liveBalance(xbase::TableEngine& t, const QString& pin);
    // Binds the code at t's row to the station and grants its balance.
    void grantCode(xbase::TableEngine& t, TCompItem* record, const TypedCode& typed,
                   qint64 balance);
    void refuseCode(TCompItem* record, const QString& pin, bool guarded);
    void console(TCompItem* record, const QString& text);
    void generalError(const QString& text);
    void refreshGrid();
    bool repairing() const;
    bool tableOpen(xbase::TableEngine* t) const;
    // Charges `used` minutes to the current row of t: lowers the balance or
    // retires the code.
    void ChargeRow(xbase::TableEngine& t, qint64 used);
    void noteRefusal(TCompItem* record);
    bool blocked(TCompItem* record);

    ServerContext& ctx_;
    PinTables tables_;
    Hooks hooks_;
    QHash<TCompItem*, Guard> guards_;
    // The oldest waiting code as last seen, and since when.
    QString assignHeadCode_;
    TCompItem* assignHeadRecord_ = nullptr;
    qint64 assignHeadSince_ = 0;
};

} // namespace tarvina::server
