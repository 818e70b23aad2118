#pragma once

#include "platform/MachineInfo.h"

#include <QStringList>

namespace tarvina::platform {

// Machine facts on Linux: adapters from getifaddrs (sysfs as a fallback),
// a time-based identifier built here (its node is the first adapter's
// address), "ip link" as the address command, gethostname, uname, and the
// root volume's id from the mount table and /dev/disk/by-uuid (statfs's
// file-system id when the volume has no UUID), the distribution's name from
// os-release.
class LinuxMachineInfo final : public MachineInfo {
public:
    struct Sources {
        QStringList addressCommand{QStringLiteral("ip"), QStringLiteral("link")};
        QString mountInfo = QStringLiteral("/proc/self/mountinfo");
        QString byUuid = QStringLiteral("/dev/disk/by-uuid");
        QString sysClassNet = QStringLiteral("/sys/class/net");
        // The first of these that is a regular file with some text names
        // the distribution (a pipe or an emptied file gives way to the next).
        QStringList osRelease{QStringLiteral("/etc/os-release"),
                              QStringLiteral("/usr/lib/os-release")};
        int commandTimeoutMs = 5000;
    };
    LinuxMachineInfo() = default;
    explicit LinuxMachineInfo(Sources sources) : sources_(std::move(sources)) {}

    QList<NetworkAdapter> adapters() const override;
    std::optional<QByteArray> newTimeBasedIdentifier() override;
    std::optional<QByteArray> addressCommandOutput() override;
    QString hostName() const override;
    OsVersion osVersion() const override;
    std::optional<quint32> rootVolumeSerial() const override;

    // "1b2c3d4e-..." or "ABCD-1234" -> the first 32 bits of the id.
    static std::optional<quint32> SerialFromUuid(const QString& uuid);
    // "major:minor" of the device mounted at "/" in a mountinfo text.
    static std::optional<QPair<unsigned, unsigned>> RootDeviceFromMountInfo(const QByteArray& text);
    // "6.1.0-18-amd64" -> 6, 1, 0.
    static OsVersion VersionFromRelease(const QString& sysname, const QString& release);
    // The distribution's name and version from an os-release text: its
    // PRETTY_NAME, else NAME and VERSION; empty when it gives none. Values
    // are unquoted and unescaped as the shell does, lose control and
    // formatting characters and are cut to kMaxSystemName characters.
    static QString SystemNameFromOsRelease(QByteArrayView text);
    static constexpr qsizetype kMaxSystemName = 100;
    // Only this much of an os-release file is read.
    static constexpr qint64 kMaxOsRelease = 16 * 1024;

private:
    Sources sources_;
};

} // namespace tarvina::platform
