#pragma once

#include "client/commands/StationCommands.h"

#include <QObject>
#include <functional>

namespace tarvina::client {

class LockEnforcer;
class PinEntry;
class Session;
class StationLink;
class StationMachine;
struct StationContext;

// Where each command of the server is carried out. Called on the receive
// thread: the replies that need no session state are sent from there; every
// command that changes the session, the lock or the windows is posted to the
// main thread as one call, so that they run there in arrival order.
class CommandHandler final : public QObject, public StationCommands {
    Q_OBJECT
public:
    struct Parts {
        StationContext& ctx;
        StationLink& link;
        Session& session;
        LockEnforcer& lock;
        PinEntry& pin;
        StationMachine& machine;
        std::function<void()> softReinit;
    };
    explicit CommandHandler(Parts parts, QObject* parent = nullptr);

    void Hello() override;
    void StatusQuery() override;
    void ScheduleShutdown(int seconds, QChar letter) override;
    void GrantAccess(const Grant& grant) override;
    void AddTime(const QByteArray& minutes, bool silent) override;
    void SyncTime(double days) override;
    void Lock() override;
    void TimeRequestMode(const QString& mode, const QString& list) override;
    void MachineCommand(int code, const QByteArray& payload) override;
    void MachineFile(int code, const QByteArray& payload) override;
    void MachinePosted(int code) override;
    void SetAccountTag(const QString& tag) override;
    void WithdrawAccess() override;
    void Notice(const QString& text) override;
    void ClockHint(const QString& hint) override;
    void SetServicePassword(const QByteArray& scrambled) override;
    void CdListQuery() override;
    void CdTray(QChar letter, bool open) override;
    void SetVolume(quint16 left, quint16 right) override;
    void VolumeQuery() override;
    void OpenRemote(const QString& address) override;
    void PinVerdict(const QByteArray& payload) override;
    void ServiceMode(int mode) override;
    void PinQuery() override;
    void SetTransparency(int alpha) override;
    void TransparencyQuery() override;
    void SoftReinit() override;
    void BlockMessageMode(bool on) override;
    void MacQuery() override;
    void AssignPin(const QByteArray& pin) override;
    void LogQuery() override;
    void MemberId(qint64 id) override;
    void ShowAdPage() override;
    void PriceList() override;
    void AccountState(qint64 minutes, const QString& amount) override;
    void Unknown() override;
    void Refused(const QString& step, const QString& why) override;

private:
    template <typename F> void post(F&& f) {
        QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::QueuedConnection);
    }

    Parts p_;
};

} // namespace tarvina::client
