#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace tarvina::platform {

// One network adapter as the system lists it.
struct NetworkAdapter {
    QString name;
    QByteArray hardwareAddress; // 6 bytes when the adapter has one, else empty
    bool loopback = false;
    bool up = false;
    // A real network card (not a bridge, tunnel, container or virtual link).
    bool physical = false;
    // Holds an address that reaches beyond the link (not 127/8, 169.254/16,
    // fe80::/10 or ::1).
    bool globalAddress = false;
};

// The operating system's version, in the shape the identity texts need.
struct OsVersion {
    int platformId = 2; // 0 Win32s, 1 Windows 95 family, 2 NT family (every POSIX system)
    int major = 0;
    int minor = 0;
    int build = 0;
    QString servicePack; // free text shown after the numbers
    // How a system other than Windows names itself and its version, which is
    // then the whole version text: on Linux the distribution's and the
    // kernel's ("Debian GNU/Linux 12 (bookworm) Linux 6.1.0-18-amd64").
    // Empty on Windows, whose text is made of the numbers above.
    QString description;
};

// What the machine-identity functions ask of the system. Pure interface so
// that the common library can use it without linking the platform library.
class MachineInfo {
public:
    virtual ~MachineInfo() = default;

    // Adapters in the system's order. The "first adapter" method of the MAC
    // search takes the first non-loopback adapter with a hardware address.
    virtual QList<NetworkAdapter> adapters() const = 0;

    // A new time-based identifier (16 bytes, RFC 4122 byte order). Its last
    // six bytes carry an adapter address when the system has one, else random
    // bytes that differ from call to call. nullopt when none can be made.
    virtual std::optional<QByteArray> newTimeBasedIdentifier() = 0;

    // The text output of the system's address-listing command ("ip link"),
    // read completely; nullopt when the command cannot be run.
    virtual std::optional<QByteArray> addressCommandOutput() = 0;

    // The host name as the system reports it (may be empty on failure).
    virtual QString hostName() const = 0;

    virtual OsVersion osVersion() const = 0;

    // A 32-bit serial of the volume holding the root folder; nullopt when it
    // cannot be read.
    virtual std::optional<quint32> rootVolumeSerial() const = 0;
};

} // namespace tarvina::platform
