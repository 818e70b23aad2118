#pragma once

#include "platform/Drives.h"
#include "platform/Pinger.h"

#include <QList>
#include <QPair>
#include <QString>

namespace tarvina::platform {

// ICMP echo: an unprivileged datagram socket where the system allows it, a
// raw socket otherwise; any failure is a failed ping.
class IcmpPinger final : public Pinger {
public:
    bool ping(const QString& host, int timeoutMs) override;
    std::optional<EchoReply> echo(const QString& host, int sequence, int timeoutMs) override;
};

// Optical and removable block devices from sysfs, lettered "D" onwards;
// trays through the CD-ROM ioctls. A device keeps its letter: each letter
// given is remembered with the device's identity (vendor, model and serial
// number as sysfs tells them), in lettersFile when one is given, so a stick
// plugged in never moves the CD drive's letter and comes back under its own.
// New devices take the first letter nobody remembered; when none is left,
// the letter of a device not seen the longest.
class SysfsDrives final : public Drives {
public:
    explicit SysfsDrives(QString sysBlock = QStringLiteral("/sys/block"),
                         QString dev = QStringLiteral("/dev"), QString lettersFile = {})
        : sysBlock_(std::move(sysBlock)), dev_(std::move(dev)),
          lettersFile_(std::move(lettersFile)) {}
    QString cdDriveLetters() override;
    QString lettersWithMedia() override;
    bool setTray(QChar letter, bool open, QString* error) override;
    // "C" is the system's own disk; the lettered devices are CD drives or
    // removable disks.
    Kind kindOf(QChar letter) override;
    // The kernel name ("sdb") of the device under a letter; empty when none.
    QString deviceOf(QChar letter) const;

private:
    struct Drive {
        QChar letter;
        QString device;
        bool optical = false;
    };
    QList<Drive> drives() const;
    QString identity(const QString& name) const;
    void loadLetters() const;
    void saveLetters() const;
    QString sysBlock_;
    QString dev_;
    QString lettersFile_;
    // Letter and identity, the most recently given last.
    mutable QList<QPair<QChar, QString>> remembered_;
    mutable bool loaded_ = false;
};

} // namespace tarvina::platform
