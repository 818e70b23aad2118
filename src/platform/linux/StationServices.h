#pragma once

#include "platform/Drives.h"
#include "platform/Pinger.h"

#include <QString>

namespace tarvina::platform {

// ICMP echo: an unprivileged datagram socket where the system allows it, a
// raw socket otherwise; any failure is a failed ping.
class IcmpPinger final : public Pinger {
public:
    bool ping(const QString& host, int timeoutMs) override;
    std::optional<EchoReply> echo(const QString& host, int sequence, int timeoutMs) override;
};

// Optical and removable block devices from sysfs, lettered "D" onwards in
// the order of their device names; trays through the CD-ROM ioctls.
class SysfsDrives final : public Drives {
public:
    explicit SysfsDrives(QString sysBlock = QStringLiteral("/sys/block"),
                         QString dev = QStringLiteral("/dev"))
        : sysBlock_(std::move(sysBlock)), dev_(std::move(dev)) {}
    QString cdDriveLetters() override;
    QString lettersWithMedia() override;
    bool setTray(QChar letter, bool open, QString* error) override;
    // The kernel name ("sdb") of the device under a letter; empty when none.
    QString deviceOf(QChar letter) const;

private:
    struct Drive {
        QChar letter;
        QString device;
        bool optical = false;
    };
    QList<Drive> drives() const;
    QString sysBlock_;
    QString dev_;
};

} // namespace tarvina::platform
