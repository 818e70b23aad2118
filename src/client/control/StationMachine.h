#pragma once

#include "common/DateTime.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace tarvina::client {

class StationLink;
struct StationContext;

// The machine services the server asks of a station: the system clock, the
// CD drives and their trays, the wave volume, opening an address, the
// advertising page, the check for a forgotten disc, and the machine-control
// work that runs on the main thread. Main thread only.
class StationMachine : public QObject {
    Q_OBJECT
public:
    StationMachine(StationContext& ctx, StationLink& link, QObject* parent = nullptr);
    // Waits for the tray threads still moving a tray.
    ~StationMachine() override;

    // The country of the advertising address, read from the registry at start.
    void setCountry(const QString& country) { country_ = country; }
    void SyncTime(double days);
    void CdList();
    // The tray may take seconds: it moves on its own thread, which this
    // object owns and joins.
    void CdTray(QChar letter, bool open);
    void SetVolume(quint16 left, quint16 right);
    void VolumeQuery();
    void OpenRemote(QString address);
    void ShowAdPage();
    // At most one check a minute.
    void MediaCheck();
    void Posted(int code);
    void SetMemberId(qint64 id) { memberId_ = id; }
    qint64 memberId() const { return memberId_; }
    // Tray threads still running (tests).
    int trayThreads() const { return static_cast<int>(trays_.size()); }

private:
    struct Tray {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    void ReapTrays(bool all);

    StationContext& ctx_;
    StationLink& link_;
    QString country_ = QStringLiteral("No%20definido");
    qint64 memberId_ = 0;
    common::DateTime mediaCheck_;
    std::vector<Tray> trays_;
};

} // namespace tarvina::client
