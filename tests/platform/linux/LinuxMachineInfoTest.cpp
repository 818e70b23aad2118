#include "platform/linux/LinuxMachineInfo.h"

#include "platform/MachineIdentity.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace tarvina::platform;

TEST(LinuxMachineInfo, ParsesReleaseUuidAndMountTable) {
    const OsVersion v = LinuxMachineInfo::VersionFromRelease("Linux", "6.1.0-18-amd64");
    EXPECT_EQ(v.platformId, 2);
    EXPECT_EQ(v.major, 6);
    EXPECT_EQ(v.minor, 1);
    EXPECT_EQ(v.build, 0);
    EXPECT_EQ(v.servicePack, "Linux 6.1.0-18-amd64");
    EXPECT_EQ(LinuxMachineInfo::VersionFromRelease("Linux", "5.10").build, 0);
    EXPECT_EQ(LinuxMachineInfo::VersionFromRelease("Linux", "junk").major, 0);

    EXPECT_EQ(LinuxMachineInfo::SerialFromUuid("ABCD-1234"), 0xABCD1234u);
    EXPECT_EQ(LinuxMachineInfo::SerialFromUuid("1b2c3d4e-5f60-4a1b-9c2d-0123456789ab"),
              0x1b2c3d4eu);
    EXPECT_EQ(LinuxMachineInfo::SerialFromUuid("12-34"), std::nullopt);
    EXPECT_EQ(LinuxMachineInfo::SerialFromUuid("zzzzzzzz"), std::nullopt);

    const QByteArray mountinfo = "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
                                 "23 22 0:5 / /dev rw - devtmpfs udev rw\n"
                                 "99 1 0:42 / / rw - overlay overlay rw\n"
                                 "garbage\n";
    const auto dev = LinuxMachineInfo::RootDeviceFromMountInfo(mountinfo);
    ASSERT_TRUE(dev.has_value());
    EXPECT_EQ(dev->first, 0u); // the last mount on "/" is the visible one
    EXPECT_EQ(dev->second, 42u);
    EXPECT_EQ(LinuxMachineInfo::RootDeviceFromMountInfo("nothing here"), std::nullopt);
}

TEST(LinuxMachineInfo, NamesTheDistributionFromItsOsRelease) {
    const auto name = [](const QByteArray& text) {
        return LinuxMachineInfo::SystemNameFromOsRelease(text).toStdString();
    };
    EXPECT_EQ(name("PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\n"
                   "VERSION_ID=\"12\"\nVERSION=\"12 (bookworm)\"\nID=debian\n"),
              "Debian GNU/Linux 12 (bookworm)");
    // The shell's quoting; comments, CR LF, blanks and lines without "="
    // are skipped, and the last assignment wins.
    EXPECT_EQ(name("# PRETTY_NAME=\"comentario\"\r\nPRETTY_NAME=viejo\r\nbasura\r\n"
                   "  PRETTY_NAME = 'Mi \\\"Linux\\\"' \r\n"),
              "Mi \\\"Linux\\\"");
    EXPECT_EQ(name("PRETTY_NAME=\"Caf\\\"e\\\" \\\\ \\$HOME \\`x\\` \\n\""),
              "Caf\"e\" \\ $HOME `x` \\n");
    EXPECT_EQ(name("PRETTY_NAME=\"Fedora\"' Linux'\\ 40   \n"), "Fedora Linux 40");
    // Without PRETTY_NAME, NAME and VERSION; without either, nothing.
    EXPECT_EQ(name("NAME=\"Alpine Linux\"\nVERSION=3.19\n"), "Alpine Linux 3.19");
    EXPECT_EQ(name("PRETTY_NAME=\"\"\nNAME=Gentoo\n"), "Gentoo");
    EXPECT_EQ(name("ID=arch\n"), "");
    EXPECT_EQ(name(""), "");
    // Terminal controls, a direction override and an open quote are
    // harmless; a long name is cut between characters.
    EXPECT_EQ(name("PRETTY_NAME=\"\x1b]0;x\x07\x1b[2JDebian\xE2\x80\xAE\t12\xC3"),
              "]0;x[2JDebian 12\xEF\xBF\xBD");
    EXPECT_EQ(name("PRETTY_NAME=" + QByteArray(5000, 'A')).size(), 100u);
    EXPECT_EQ(name("PRETTY_NAME=" + QByteArray(99, 'A') + "\xF0\x9F\x98\x80" + "B"),
              std::string(99, 'A'));

    // The files: /etc's, else /usr/lib's; a pipe in /etc's place neither
    // blocks nor counts; of a huge file only the head is read; with none,
    // the kernel alone names the system.
    tarvina::test::TempDir dir;
    LinuxMachineInfo::Sources s;
    s.osRelease = {dir.file("etc-os-release"), dir.file("lib-os-release")};
    QFile lib(s.osRelease[1]);
    ASSERT_TRUE(lib.open(QIODevice::WriteOnly));
    lib.write("PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
    lib.close();
    ASSERT_EQ(::mkfifo(QFile::encodeName(s.osRelease[0]).constData(), 0600), 0);
    const OsVersion v = LinuxMachineInfo(s).osVersion();
    EXPECT_TRUE(v.servicePack.startsWith("Linux ")) << v.servicePack.toStdString();
    EXPECT_EQ(v.description, "Debian GNU/Linux 12 (bookworm) " + v.servicePack);
    ASSERT_TRUE(QFile::remove(s.osRelease[0]));
    QFile etc(s.osRelease[0]);
    ASSERT_TRUE(etc.open(QIODevice::WriteOnly));
    etc.write(QByteArray(LinuxMachineInfo::kMaxOsRelease, '#') + "\nPRETTY_NAME=Tarde\n");
    etc.close();
    EXPECT_EQ(LinuxMachineInfo(s).osVersion().description, v.servicePack);
    s.osRelease = {dir.file("none")};
    EXPECT_EQ(LinuxMachineInfo(s).osVersion().description, v.servicePack);
}

TEST(LinuxMachineInfo, AddressCommandIsReadWhole) {
    LinuxMachineInfo::Sources s;
    s.addressCommand = {"sh", "-c",
                        "printf '1: lo: <LOOPBACK>\\n    link/loopback 00:00:00:00:00:00\\n"
                        "2: eth0:\\n    link/ether 52:54:00:ab:cd:ef brd ff:ff:ff:ff:ff:ff\\n'"};
    LinuxMachineInfo info(s);
    const auto out = info.addressCommandOutput();
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(tarvina::platform::MacFromCommandText(*out), "52-54-00-AB-CD-EF");

    // An output far larger than a pipe's buffer neither stalls the command
    // nor grows without bound.
    s.addressCommand = {"sh", "-c", "head -c 3000000 /dev/zero"};
    const auto big = LinuxMachineInfo(s).addressCommandOutput();
    ASSERT_TRUE(big.has_value());
    EXPECT_EQ(big->size(), 1024 * 1024);

    s.addressCommand = {"/nonexistent/command"};
    EXPECT_EQ(LinuxMachineInfo(s).addressCommandOutput(), std::nullopt);
}

TEST(LinuxMachineInfo, SystemFactsAreSane) {
    LinuxMachineInfo info;
    EXPECT_FALSE(info.hostName().isEmpty());
    EXPECT_GT(info.osVersion().major, 0);
    for (const NetworkAdapter& a : info.adapters())
        EXPECT_TRUE(a.hardwareAddress.isEmpty() || a.hardwareAddress.size() == 6)
            << a.name.toStdString();
    // Time-based identifiers: version 1, RFC 4122 variant; the node is the
    // first adapter's address when there is one, so two of them agree on it.
    const auto a = info.newTimeBasedIdentifier();
    const auto b = info.newTimeBasedIdentifier();
    ASSERT_TRUE(a && b);
    ASSERT_EQ(a->size(), 16);
    EXPECT_EQ(uchar(a->at(6)) >> 4, 1);
    EXPECT_EQ(uchar(a->at(8)) & 0xC0, 0x80);
    const QString first = tarvina::platform::MacFromFirstAdapter(info);
    if (first != "mac not found") {
        EXPECT_EQ(tarvina::platform::FormatMac(a->right(6)), first);
        EXPECT_EQ(a->right(6), b->right(6));
    } else {
        EXPECT_NE(a->right(6), b->right(6)); // random nodes differ
    }
    EXPECT_NE(*a, *b);
}

TEST(LinuxMachineInfo, RootVolumeSerialFromTheUuidLinks) {
    // Any block device of this machine stands in for the root volume.
    QString device;
    struct stat st {};
    for (const QString& name : QDir("/dev").entryList(QDir::System | QDir::Files)) {
        const QString path = "/dev/" + name;
        if (::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISBLK(st.st_mode)) {
            device = path;
            break;
        }
    }
    tarvina::test::TempDir dir;
    LinuxMachineInfo::Sources s;
    s.mountInfo = dir.file("mountinfo");
    s.byUuid = dir.file("by-uuid");
    QDir().mkpath(s.byUuid);
    // No mount table: statfs's file-system id, or a clean "none".
    const auto fallback = LinuxMachineInfo(s).rootVolumeSerial();
    if (fallback) {
        EXPECT_NE(*fallback, 0u);
    }
    if (device.isEmpty())
        GTEST_SKIP() << "no block device to stand in for the root volume";
    QFile mi(s.mountInfo);
    ASSERT_TRUE(mi.open(QIODevice::WriteOnly));
    mi.write(QString("1 0 %1:%2 / / rw - ext4 %3 rw\n")
                 .arg(::major(st.st_rdev))
                 .arg(::minor(st.st_rdev))
                 .arg(device)
                 .toUtf8());
    mi.close();
    ASSERT_TRUE(QFile::link("/dev/null", s.byUuid + "/0000-0001")); // not a block device
    ASSERT_TRUE(QFile::link(device, s.byUuid + "/C0FF-EE42"));
    EXPECT_EQ(LinuxMachineInfo(s).rootVolumeSerial(), 0xC0FFEE42u);
}
