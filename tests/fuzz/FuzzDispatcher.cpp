// Feeds arbitrary lines to the station's dispatcher and checks that every
// decoded command stays within the bounds the station relies on: no crash,
// no unbounded text, exactly one call per line at most.

#include "client/commands/Dispatcher.h"
#include "client/commands/StationCommands.h"
#include "client/station/StationContext.h"

#include <cstdlib>

using namespace tarvina::client;

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

class Bounds final : public StationCommands {
public:
    int calls = 0;
    void call() { Check(++calls == 1); }

    void Hello() override { call(); }
    void StatusQuery() override { call(); }
    void ScheduleShutdown(int s, QChar) override {
        call();
        Check(s >= 0 && s <= 366 * 86400);
    }
    void GrantAccess(const Grant& g) override {
        call();
        Check(g.minutes.size() <= 32 && g.user.size() <= 255);
    }
    void AddTime(const QByteArray& m, bool) override {
        call();
        Check(m.size() <= 256);
    }
    void SyncTime(double) override { call(); }
    void Lock() override { call(); }
    void TimeRequestMode(const QString& m, const QString& l) override {
        call();
        Check(m.size() + l.size() <= 255);
    }
    void MachineCommand(int, const QByteArray&) override { call(); }
    void MachineFile(int, const QByteArray&) override { call(); }
    void MachinePosted(int) override { call(); }
    void SetAccountTag(const QString& t) override {
        call();
        Check(t.size() <= 255);
    }
    void WithdrawAccess() override { call(); }
    void Notice(const QString& t) override {
        call();
        Check(t.size() <= 1024);
    }
    void ClockHint(const QString& h) override {
        call();
        Check(h.size() <= 1024);
    }
    void SetServicePassword(const QByteArray& p) override {
        call();
        Check(p.size() <= 1024);
    }
    void CdListQuery() override { call(); }
    void CdTray(QChar l, bool) override {
        call();
        Check(l >= u'A' && l <= u'Z');
    }
    void SetVolume(quint16, quint16) override { call(); }
    void VolumeQuery() override { call(); }
    void OpenRemote(const QString& a) override {
        call();
        Check(a.size() <= 1024);
    }
    void PinVerdict(const QByteArray& p) override {
        call();
        Check(p.size() <= 1024);
    }
    void ServiceMode(int) override { call(); }
    void PinQuery() override { call(); }
    void SetTransparency(int a) override {
        call();
        Check(a >= 0 && a <= 255);
    }
    void TransparencyQuery() override { call(); }
    void SoftReinit() override { call(); }
    void BlockMessageMode(bool) override { call(); }
    void MacQuery() override { call(); }
    void AssignPin(const QByteArray& p) override {
        call();
        Check(p.size() <= 6);
    }
    void LogQuery() override { call(); }
    void MemberId(qint64) override { call(); }
    void ShowAdPage() override { call(); }
    void PriceList() override { call(); }
    void AccountState(qint64, const QString&) override { call(); }
    void Unknown() override { call(); }
    void Refused(const QString&, const QString& why) override {
        call();
        Check(why.size() <= 1024);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bounds commands;
    Dispatcher dispatcher(commands);
    dispatcher.Dispatch(
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    Check(commands.calls <= 1);
    return 0;
}
