#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>
#include <QtGlobal>

namespace tarvina::client {

struct Grant;

// What the server can ask of a station, one call per command, with the
// arguments already decoded and bounded. The dispatcher calls these on the
// receive thread; an implementation decides where the work runs.
class StationCommands {
public:
    virtual ~StationCommands() = default;

    virtual void Hello() = 0;                                                   // 01
    virtual void StatusQuery() = 0;                                             // 02
    virtual void ScheduleShutdown(int seconds, QChar letter) = 0;               // 03
    virtual void GrantAccess(const Grant& grant) = 0;                           // 04
    virtual void AddTime(const QByteArray& minutes, bool silent) = 0;           // 06, 50
    virtual void SyncTime(double days) = 0;                                     // 07
    virtual void Lock() = 0;                                                    // 08
    virtual void TimeRequestMode(const QString& mode, const QString& list) = 0; // 0A
    // Machine control on the receive thread: 09, 10, 25 to 29, 31, 32, and
    // the file items 22 to 24 when they clear (no block follows).
    virtual void MachineCommand(int code, const QByteArray& payload) = 0;
    // The file items 22 to 24 and 30: a block follows the line.
    virtual void MachineFile(int code, const QByteArray& payload) = 0;
    // Machine control on the main thread: 12, 15, 21.
    virtual void MachinePosted(int code) = 0;
    virtual void SetAccountTag(const QString& tag) = 0;               // 11
    virtual void WithdrawAccess() = 0;                                // 13
    virtual void Notice(const QString& text) = 0;                     // 14
    virtual void ClockHint(const QString& hint) = 0;                  // 16
    virtual void SetServicePassword(const QByteArray& scrambled) = 0; // 20
    virtual void CdListQuery() = 0;                                   // 33
    virtual void CdTray(QChar letter, bool open) = 0;                 // 34
    virtual void SetVolume(quint16 left, quint16 right) = 0;          // 35
    virtual void VolumeQuery() = 0;                                   // 36
    virtual void OpenRemote(const QString& address) = 0;              // 37
    virtual void PinVerdict(const QByteArray& payload) = 0;           // 39
    virtual void ServiceMode(int mode) = 0;                           // 40
    virtual void PinQuery() = 0;                                      // 41
    virtual void SetTransparency(int alpha) = 0;                      // 42
    virtual void TransparencyQuery() = 0;                             // 43
    virtual void SoftReinit() = 0;                                    // 44
    virtual void BlockMessageMode(bool on) = 0;                       // 46
    virtual void MacQuery() = 0;                                      // 48
    virtual void AssignPin(const QByteArray& pin) = 0;                // 49
    virtual void LogQuery() = 0;                                      // 51
    virtual void MemberId(qint64 id) = 0;                             // 53
    virtual void ShowAdPage() = 0;                                    // 54
    // The café's price list: a block follows the line.
    virtual void PriceList() = 0;                                         // 55
    virtual void AccountState(qint64 minutes, const QString& amount) = 0; // 56
    // A line without a known code.
    virtual void Unknown() = 0;
    // A line that could not be carried out: the step it was at (may be
    // empty) and what went wrong, for the exception log.
    virtual void Refused(const QString& step, const QString& why) = 0;
};

} // namespace tarvina::client
