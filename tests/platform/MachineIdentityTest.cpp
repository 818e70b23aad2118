#include "platform/MachineIdentity.h"

#include "platform/fake/FakeMachineInfo.h"
#include "platform/fake/MemoryRegistry.h"

#include <gtest/gtest.h>

using namespace tarvina::platform;

namespace {
const QByteArray kMac("\x00\x0C\x29\xAB\xCD\xEF", 6);
const QByteArray kIpLink("1: lo: <LOOPBACK,UP> mtu 65536\n    link/loopback 00:00:00:00:00:00 brd "
                         "00:00:00:00:00:00\n2: eth0: <BROADCAST> mtu 1500\n    link/ether "
                         "52:54:00:12:34:56 brd ff:ff:ff:ff:ff:ff\n");
QByteArray Identifier(const QByteArray& node) {
    return QByteArray("\x11\x22\x33\x44\x55\x66\x10\x77\x88\x99", 10) + node;
}
} // namespace

TEST(MachineIdentity, CashierTriesTheAdapterThenTheCommand) {
    FakeMachineInfo m;
    m.adapterList = {{"lo", QByteArray(6, '\0'), true, true}, {"eth0", kMac, false, true}};
    m.commandOutput = kIpLink;
    EXPECT_EQ(GetMacAddress(m, Program::Taquilla), "00-0C-29-AB-CD-EF");
    EXPECT_EQ(m.callOrder, "A");

    m.adapterList = {{"lo", QByteArray(6, '\0'), true, true}};
    m.callOrder.clear();
    EXPECT_EQ(GetMacAddress(m, Program::Taquilla), "52-54-00-12-34-56");
    EXPECT_EQ(m.callOrder, "AC");

    m.commandOutput.reset();
    EXPECT_EQ(GetMacAddress(m, Program::Taquilla), "mac not found");
}

TEST(MachineIdentity, StationOnNewSystemsTriesTheCommandFirst) {
    FakeMachineInfo m;
    m.version.platformId = 2;
    m.version.major = 6;
    m.adapterList = {{"eth0", kMac, false, true}};
    m.commandOutput = kIpLink;
    // No adapter is a physical card: the looks for one ("A") come first.
    EXPECT_EQ(GetMacAddress(m, Program::Puesto), "52-54-00-12-34-56");
    EXPECT_EQ(m.callOrder, "AC");
    m.commandOutput = QByteArray("nothing useful");
    m.callOrder.clear();
    EXPECT_EQ(GetMacAddress(m, Program::Puesto), "00-0C-29-AB-CD-EF");
    EXPECT_EQ(m.callOrder, "ACA");
    // NT 4 is not "above 4": the old order applies.
    m.version.major = 4;
    m.callOrder.clear();
    EXPECT_EQ(GetMacAddress(m, Program::Puesto), "00-0C-29-AB-CD-EF");
    EXPECT_EQ(m.callOrder, "AA");
    // Linux is a new system whatever its kernel's number.
    m.version.description = "Debian GNU/Linux 9 (stretch) Linux 4.9.0-19-amd64";
    m.callOrder.clear();
    GetMacAddress(m, Program::Puesto);
    EXPECT_EQ(m.callOrder, "ACA");
}

TEST(MachineIdentity, StationOnOldSystemsChecksTheIdentifierTwice) {
    FakeMachineInfo m;
    m.version.platformId = 1;
    m.commandOutput = kIpLink;
    QStringList logged;
    auto log = [&](const QString& s) { logged << s; };

    // Identifiers that carry the adapter repeat it.
    m.identifiers = {Identifier(kMac), Identifier(kMac)};
    EXPECT_EQ(GetMacAddress(m, Program::Puesto, log), "00-0C-29-AB-CD-EF");
    EXPECT_EQ(m.callOrder, "AAII");

    // Random identifiers disagree: the command output is used.
    m.identifiers.clear();
    m.identifierCalls = 0;
    m.randomIdentifiers = true;
    m.callOrder.clear();
    EXPECT_EQ(GetMacAddress(m, Program::Puesto, log), "52-54-00-12-34-56");
    EXPECT_EQ(m.callOrder, "AAIIC");

    // No identifier at all: logged, then the command.
    m.randomIdentifiers = false;
    m.callOrder.clear();
    EXPECT_EQ(GetMacAddress(m, Program::Puesto, log), "52-54-00-12-34-56");
    EXPECT_EQ(m.callOrder, "AAIC");
    ASSERT_FALSE(logged.isEmpty());
    EXPECT_TRUE(logged.last().startsWith("GetMACAddressGUID "));

    // Nothing anywhere.
    m.commandOutput.reset();
    EXPECT_EQ(GetMacAddress(m, Program::Puesto, log), "mac not found");
    EXPECT_TRUE(logged.last().startsWith("GetMACAddressIPCONFIG "));
}

TEST(MachineIdentity, CommandTextLabels) {
    EXPECT_EQ(MacFromCommandText(kIpLink), "52-54-00-12-34-56");
    EXPECT_EQ(MacFromCommandText("Ethernet adapter:\r\n        Physical Address. . . . . . . . . "
                                 ": 00-0C-29-AB-CD-EF\r\n        DHCP Enabled. . . : No\r\n"),
              "00-0C-29-AB-CD-EF");
    EXPECT_EQ(MacFromCommandText("        Direcci\xA2n f\xA1sica. . . . . . . . . : "
                                 "00-0C-29-AB-CD-EF\r\n"),
              "00-0C-29-AB-CD-EF");
    // The 22 characters after the colon (its blank included), trimmed.
    EXPECT_EQ(MacFromCommandText("Physical Address. . . . . . . . . : 0123456789012345678901234"),
              "012345678901234567890");
    EXPECT_EQ(MacFromCommandText("Physical Address"), "mac not found");
    EXPECT_EQ(MacFromCommandText(""), "mac not found");
}

TEST(MachineIdentity, VersionAndDiskSerialTexts) {
    FakeMachineInfo m;
    m.version = {2, 6, 1, 0, "Linux 6.1.0-18-amd64", ""};
    EXPECT_EQ(GetWindowsVersion(m, Program::Taquilla).text,
              QString::fromUtf8("Windows NT/2000 Versión 6.1.0 Linux 6.1.0-18-amd64"));
    const WindowsVersion pv = GetWindowsVersion(m, Program::Puesto);
    EXPECT_EQ(pv.text, QString::fromUtf8("Windows XP/NT/2000 Versión 6.1.0 Linux 6.1.0-18-amd64"));
    EXPECT_EQ(pv.major, 6);
    // The 95 family keeps the low 16 bits of the build; an empty service
    // pack leaves a trailing space.
    m.version = {1, 4, 10, 0x040A08AE, "", ""};
    EXPECT_EQ(GetWindowsVersion(m, Program::Puesto).text,
              QString::fromUtf8("Windows 95/98 Versión 4.10.2222 "));
    m.version = {0, 3, 11, 0, "x", ""};
    EXPECT_EQ(GetWindowsVersion(m, Program::Taquilla).text,
              QString::fromUtf8("Windows 3.x Versión 3.11.0 x"));
    // A system that names itself is shown by that name alone, in both programs.
    m.version = {
        2, 6, 1, 0, "Linux 6.1.0-18-amd64", "Debian GNU/Linux 12 (bookworm) Linux 6.1.0-18-amd64"};
    EXPECT_EQ(GetWindowsVersion(m, Program::Taquilla).text,
              "Debian GNU/Linux 12 (bookworm) Linux 6.1.0-18-amd64");
    EXPECT_EQ(GetWindowsVersion(m, Program::Puesto).text,
              "Debian GNU/Linux 12 (bookworm) Linux 6.1.0-18-amd64");

    m.volumeSerial = 0xABCD1234u;
    EXPECT_EQ(GetDiskSerial(m), "ABCD-1234");
    m.volumeSerial = 0x12u;
    EXPECT_EQ(GetDiskSerial(m), "0000-0012");
    m.volumeSerial.reset();
    EXPECT_EQ(GetDiskSerial(m), "Sin serial (o sin \"C\")");
}

TEST(MachineIdentity, ComputerNameFromRegistryThenHost) {
    using tarvina::platform::Root;
    tarvina::platform::MemoryRegistry reg;
    FakeMachineInfo m;
    m.host = "a-rather-long-host-name.example";
    tarvina::common::LastCommand last;
    EXPECT_EQ(GetComputerName(reg, m, &last), QString("a-rather-long-h"));
    const QString key = "\\System\\CurrentControlSet\\Control\\Computername\\Computername";
    reg.writeString(Root::LocalMachine, key, "Computername", "CAJA2");
    EXPECT_EQ(GetComputerName(reg, m, &last), QString("CAJA2"));
    EXPECT_EQ(last.get(), "iniciando");
    // A value of the wrong kind is a registry error: reported, not guessed.
    reg.writeInteger(Root::LocalMachine, key, "ComputerName", 7);
    EXPECT_EQ(GetComputerName(reg, m, &last), std::nullopt);
    EXPECT_EQ(last.get(), "NameOfComputer");
}

TEST(MachineIdentity, StationTakesItsOwnCardBeforeBridgesAndContainerLinks) {
    FakeMachineInfo m;
    m.version.major = 6;
    // "ip link" lists a bridge that is down first: it is not the station's.
    m.commandOutput = QByteArray("3: docker0: <NO-CARRIER,BROADCAST> state DOWN\n"
                                 "    link/ether 02:42:ac:11:00:02 brd ff:ff:ff:ff:ff:ff\n");
    const QByteArray wifi = QByteArray::fromHex("a0b1c2d3e4f5");
    const QByteArray wired = QByteArray::fromHex("001122334455");
    NetworkAdapter bridge{"docker0", QByteArray::fromHex("0242ac110002"), false, false};
    NetworkAdapter veth{"veth1", QByteArray::fromHex("4a4b4c4d4e4f"), false, true};
    veth.globalAddress = true;
    NetworkAdapter w1{"wlp2s0", wifi, false, true, true, false};
    NetworkAdapter e1{"enp3s0", wired, false, true, true, true};
    m.adapterList = {bridge, veth, w1, e1};
    EXPECT_EQ(GetMacAddress(m, Program::Puesto), "00-11-22-33-44-55");
    // No global address anywhere (no DHCP answer yet): the first card up.
    m.adapterList[3].globalAddress = false;
    EXPECT_EQ(GetMacAddress(m, Program::Puesto), "A0-B1-C2-D3-E4-F5");
    // Every card down (cable out): still the first card, not the bridge.
    m.adapterList[2].up = m.adapterList[3].up = false;
    EXPECT_EQ(GetMacAddress(m, Program::Puesto), "A0-B1-C2-D3-E4-F5");
    // No card at all: the listed methods as before.
    m.adapterList = {bridge, veth};
    EXPECT_EQ(GetMacAddress(m, Program::Puesto), "02-42-AC-11-00-02");
}
