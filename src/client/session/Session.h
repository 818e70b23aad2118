#pragma once

#include "client/station/StationContext.h"
#include "common/DateTime.h"

#include <QObject>
#include <QString>
#include <optional>

namespace tarvina::client {

class LockEnforcer;
class PinEntry;
class StationLink;

// The customer's session: the state, the grant and its welcome dialog, the
// countdown and the alarm, extra time, the end of use, a pending shutdown
// action and the session file that carries all of it over a restart. It
// lives on the main thread.
class Session : public QObject {
    Q_OBJECT
public:
    Session(StationContext& ctx, StationLink& link, LockEnforcer& lock, PinEntry& pin,
            QObject* parent = nullptr);

    void SetClientState(ClientState s);
    ClientState state() const { return state_; }
    void StartGrant(const Grant& g);
    void TestGrant(int minutes); // "5 minutos" / "2 minutos"
    void EndPasswordRequest();
    void LockStation();
    // The one-second tick: clock, countdown, alarm, end of time, banners and
    // a due shutdown action.
    void RelojVisualTick();
    void SaveSession();
    void RestoreSession();
    void EndOfUse();
    void ApplyExtraTime(const QByteArray& text, bool silent);
    void RequestMoreTime(const QString& minutesText);
    void ActClockMode();
    void ActAlarmMode();
    void SetAlarmMinutes(int minutes);
    void ScheduleShutdown(int seconds, QChar letter);
    void SendStatusReport();
    // The menus that follow the connection and the state.
    void UpdateMenusForConnection();
    void TimeRequestMode(const QString& mode, const QString& list);
    void SetTag(const QString& tag) { tag_ = tag; }
    void SetBlockMessageMode(bool on);
    // The pending save of a close or an end of use, with the clock's hint.
    void SaveSessionPosted();
    // "Disponible" or "Transcurrido", after the count mode or the texts.
    void UpdateDispCaption();
    // While held, a grant waits (the last one kept) and the lock stays up;
    // the release starts the waiting grant.
    void HoldGrants(bool on);
    bool grantsHeld() const { return holdGrants_; }

    common::DateTime sessionStart() const { return start_; }
    common::DateTime sessionEnd() const { return end_; }
    common::DateTime alarmTime() const { return alarmTime_; }
    QString minutes() const { return minutes_; }
    QString user() const { return user_; }
    QString sessionTag() const { return tag_; }
    bool blinking() const { return blinking_; }
    QChar pendingShutdown() const { return shutdownLetter_; }
    QString sessionFilePath() const;

Q_SIGNALS:
    // The customer's use ended (by the server or by the customer), after
    // the session was saved: the drives are checked for a forgotten disc.
    void useEnded();
    // The lock that follows a use (by time, by the cashier or by the
    // customer) is up.
    void lockedAfterUse();

private:
    template <typename F> void post(F&& f) {
        QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::QueuedConnection);
    }
    void ExtraTimeGranted(int add, bool silent);
    void SetAlarmTimeFromMinutes();
    // The welcome dialog of a grant, with the lock kept on top under it.
    WelcomeDialog::Setup PrepareWelcome(const Grant& g);
    // The grant accepted: the use starts, is saved and told.
    void BeginUse(const Grant& g);

    StationContext& ctx_;
    StationLink& link_;
    LockEnforcer& lock_;
    PinEntry& pin_;
    // Offline until the start locks the station.
    ClientState state_ = ClientState::Offline;
    QString user_;
    QString minutes_;
    common::DateTime start_, end_, alarmTime_;
    QString tag_;
    bool blinking_ = false;
    int lastMinuteSeen_ = -1;
    bool tasksRecorded_ = false;
    QChar shutdownLetter_ = u'N';
    common::DateTime shutdownDue_;
    bool holdGrants_ = false;
    std::optional<Grant> heldGrant_;
};

} // namespace tarvina::client
