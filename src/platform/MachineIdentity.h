#pragma once

#include "common/LastCommand.h"
#include "platform/MachineInfo.h"
#include "platform/Registry.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

namespace tarvina::platform {

// Which program asks: the two try the MAC methods in different orders and
// word the NT platform differently.
enum class Program { Taquilla, Puesto };

inline constexpr char kMacNotFound[] = "mac not found";

// Receives the error texts the station logs ("GetMACAddressGUID ..." etc.).
using IdentityErrorLog = std::function<void(const QString&)>;

// The three MAC methods, each giving a MAC text or "mac not found".
// First adapter (the NetBIOS adapter-status method of the original).
QString MacFromFirstAdapter(const MachineInfo& info);
// The station's own card: the first physical adapter that is up and holds a
// global address, else the first physical one that is up, else the first
// physical one (a card whose cable is out keeps its address, so the station
// keeps its record on the server across restarts). Bridges, tunnels and
// container links never count.
QString MacFromPhysicalAdapter(const MachineInfo& info);
// Last six bytes of a new time-based identifier.
QString MacFromIdentifier(MachineInfo& info, const IdentityErrorLog& log = {});
// The address-listing command's output.
QString MacFromCommandOutput(MachineInfo& info, const IdentityErrorLog& log = {});
// The label search over a command output (exposed for tests): "link/ether"
// of "ip link", or the labels of the Windows console output.
QString MacFromCommandText(const QByteArray& output);

// Six bytes as "00-0C-29-AB-CD-EF".
QString FormatMac(const QByteArray& sixBytes);

// The MAC address text with each program's order of methods.
QString GetMacAddress(MachineInfo& info, Program program, const IdentityErrorLog& log = {});

struct WindowsVersion {
    QString text;
    int major = 0;
    int minor = 0;
    int build = 0;
};
// "Windows NT/2000 Versión 6.1.0 Service Pack 1" and the like on Windows; on
// another system its own description ("Debian GNU/Linux 12 (bookworm) Linux
// 6.1.0-18-amd64"), the numbers being those of its kernel.
WindowsVersion GetWindowsVersion(const MachineInfo& info, Program program);

// "ABCD-1234", or "Sin serial (o sin \"C\")".
QString GetDiskSerial(const MachineInfo& info);

// The station's computer name: the registry value Computername under
// \System\CurrentControlSet\Control\Computername\Computername of the machine
// root, else the host name (at most 15 characters). A registry error sets the
// last step to "NameOfComputer" and gives nullopt.
std::optional<QString> GetComputerName(const Registry& registry, const MachineInfo& info,
                                       common::LastCommand* lastCommand = nullptr);

} // namespace tarvina::platform
