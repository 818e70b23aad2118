// The station's session services: start with the session, the guardian unit
// through systemctl, and the café's servers found through Avahi.
#include "platform/fake/MemoryRegistry.h"
#include "platform/linux/AvahiAnnouncer.h"
#include "platform/linux/AvahiBrowser.h"
#include "platform/linux/StationServices.h"
#include "platform/linux/SystemdServiceControl.h"
#include "platform/linux/XdgAutostart.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <csignal>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::platform;

namespace {

QString WriteScript(const test::TempDir& dir, const QString& name, const QByteArray& body) {
    const QString path = dir.file(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("#!/bin/sh\n" + body);
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(XdgAutostart, OnWritesTheValueAndTheEntryOffRemovesBoth) {
    test::TempDir dir;
    MemoryRegistry registry;
    XdgAutostart autostart(registry, QStringLiteral("/usr/bin/puesto"), dir.file("autostart"));
    EXPECT_FALSE(autostart.isEnabled());
    QString error;
    ASSERT_TRUE(autostart.setEnabled(true, &error)) << error.toStdString();
    EXPECT_TRUE(autostart.isEnabled());
    EXPECT_EQ(registry.readString(Root::LocalMachine, QString::fromLatin1(Autostart::kRunKey),
                                  QStringLiteral("puesto")),
              QStringLiteral("/usr/bin/puesto"));
    const QByteArray entry = ReadAll(autostart.entryPath());
    EXPECT_TRUE(entry.contains("\nExec=/usr/bin/puesto\n")) << entry.constData();
    EXPECT_TRUE(entry.startsWith("[Desktop Entry]\nType=Application\n"));

    const QString validator =
        QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (!validator.isEmpty()) {
        QProcess p;
        p.start(validator, {autostart.entryPath()});
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAll().constData();
    }

    ASSERT_TRUE(autostart.setEnabled(false, &error));
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_FALSE(QFile::exists(autostart.entryPath()));
    EXPECT_FALSE(registry.valueExists(Root::LocalMachine, QString::fromLatin1(Autostart::kRunKey),
                                      QStringLiteral("Puesto")));
    // Off again is not an error.
    EXPECT_TRUE(autostart.setEnabled(false, &error));
}

TEST(XdgAutostart, PathsWithBlanksAreQuotedAndFailuresAreReported) {
    EXPECT_TRUE(XdgAutostart::EntryText(QStringLiteral("/opt/mi puesto/puesto"))
                    .contains("\nExec=\"/opt/mi puesto/puesto\"\n"));
    EXPECT_TRUE(XdgAutostart::EntryText(QStringLiteral("/opt/a$b c/puesto"))
                    .contains("Exec=\"/opt/a\\\\$b c/puesto\"\n"));
    EXPECT_TRUE(XdgAutostart::EntryText(QStringLiteral("/opt/100%/puesto")).contains("100%%"));

    test::TempDir dir;
    QFile blocker(dir.file("file"));
    blocker.open(QIODevice::WriteOnly);
    blocker.close();
    MemoryRegistry registry;
    // A folder below a plain file cannot be made, even by root.
    XdgAutostart autostart(registry, QStringLiteral("/usr/bin/puesto"), dir.file("file/autostart"));
    QString error;
    EXPECT_FALSE(autostart.setEnabled(true, &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("no se pudo escribir"))) << error.toStdString();
}

TEST(AvahiBrowser, ParsesResolvedEntriesOfTheCafesPort) {
    const QByteArray out =
        "+;eth0;IPv4;Tarvina\\032caja;_tarvina._tcp;local\n"
        "=;eth0;IPv4;Tarvina\\032caja;_tarvina._tcp;local;caja.local;192.168.1.10;6046;\n"
        "=;eth0;IPv6;Tarvina\\032caja;_tarvina._tcp;local;caja.local;fe80::1;6046;\n"
        "=;wlan0;IPv4;Tarvina\\032caja;_tarvina._tcp;local;caja.local;192.168.1.10;6046;\n"
        "=;eth0;IPv4;Otra;_tarvina._tcp;local;otra.local;192.168.1.11;16046;\n"
        "=;eth0;IPv4;Rota;_tarvina._tcp;local;rota.local;no-address;6046;\n"
        "=;eth0;IPv4;Corta\n"
        "=;eth0;IPv4;Caja2;_tarvina._tcp;local;caja2.local;10.0.0.7;6046;\"txt\"\n";
    EXPECT_EQ(AvahiBrowser::ParseBrowseOutput(out, 6046),
              (QStringList{QStringLiteral("192.168.1.10"), QStringLiteral("10.0.0.7")}));
    EXPECT_EQ(AvahiBrowser::ParseBrowseOutput(out, 16046),
              QStringList{QStringLiteral("192.168.1.11")});
    QByteArray many;
    for (int i = 0; i < 400; ++i)
        many += "=;e;IPv4;n;_tarvina._tcp;local;h;10.0." + QByteArray::number(i / 250) + "." +
                QByteArray::number(i % 250) + ";6046;\n";
    EXPECT_EQ(AvahiBrowser::ParseBrowseOutput(many, 6046).size(), NetworkBrowser::kMaxComputers);
}

TEST(AvahiBrowser, AMissingOrHangingBrowserGivesAnEmptyListInTime) {
    test::TempDir dir;
    EXPECT_TRUE(AvahiBrowser(6046, dir.file("no-such-command")).computers(1000).isEmpty());

    const QString hanging =
        WriteScript(dir, "hang",
                    "echo \"$@\" > \"$(dirname \"$0\")/args\"\n"
                    "echo '=;eth0;IPv4;C;_tarvina._tcp;local;c.local;10.0.0.9;6046;'\n"
                    "exec sleep 30\n");
    QElapsedTimer t;
    t.start();
    const QStringList found = AvahiBrowser(6046, hanging).computers(700);
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_EQ(found, QStringList{QStringLiteral("10.0.0.9")});
    EXPECT_EQ(ReadAll(dir.file("args")).trimmed(), "-r -t -p _tarvina._tcp");
}

class SystemdServiceControlTest : public ::testing::Test {
protected:
    test::TempDir dir;
    QString log = dir.file("calls");
    // A systemctl that logs its arguments and answers "show" from files.
    QString fake(const QByteArray& loadState, const QByteArray& activeState, int exitCode = 0) {
        return WriteScript(dir, "systemctl",
                           "echo \"$@\" >> \"" + log.toUtf8() +
                               "\"\n"
                               "case \"$*\" in\n"
                               "  *LoadState*) echo " +
                               loadState +
                               ";;\n"
                               "  *ActiveState*) echo " +
                               activeState +
                               ";;\n"
                               "esac\n"
                               "exit " +
                               QByteArray::number(exitCode) + "\n");
    }
    QStringList calls() { return QString::fromUtf8(ReadAll(log)).split(u'\n', Qt::SkipEmptyParts); }
};

TEST_F(SystemdServiceControlTest, TheCompanionServiceIsTheGuardianUserUnit) {
    SystemdServiceControl service(fake("loaded", "active"));
    EXPECT_TRUE(service.isInstalled(QStringLiteral("ServiceZU")));
    EXPECT_TRUE(service.isRunning(QStringLiteral("ServiceZU")));
    QString error;
    EXPECT_TRUE(service.pause(QStringLiteral("ServiceZU"), &error));
    EXPECT_EQ(
        calls(),
        (QStringList{QStringLiteral("--user show -p LoadState --value tarvina-guardian.service"),
                     QStringLiteral("--user show -p ActiveState --value tarvina-guardian.service"),
                     QStringLiteral("--user stop tarvina-guardian.service")}));
}

TEST_F(SystemdServiceControlTest, ContinueHandsTheDisplayOverThenStarts) {
    SystemdServiceControl service(fake("loaded", "inactive"));
    EXPECT_FALSE(service.isRunning(QStringLiteral("ServiceZU")));
    qputenv("DISPLAY", ":57");
    QString error;
    EXPECT_TRUE(service.resume(QStringLiteral("ServiceZU"), &error));
    const QStringList c = calls();
    ASSERT_EQ(c.size(), 3);
    EXPECT_TRUE(c[1].startsWith(QStringLiteral("--user import-environment DISPLAY")));
    EXPECT_EQ(c[2], QStringLiteral("--user start tarvina-guardian.service"));
}

TEST_F(SystemdServiceControlTest, NoUnitNoUserInstanceOrNoSystemctlIsNotInstalled) {
    EXPECT_FALSE(SystemdServiceControl(fake("not-found", "inactive"))
                     .isInstalled(QStringLiteral("ServiceZU")));
    SystemdServiceControl failing(fake("", "", 1));
    EXPECT_FALSE(failing.isInstalled(QStringLiteral("ServiceZU")));
    EXPECT_FALSE(failing.isRunning(QStringLiteral("ServiceZU")));
    QString error;
    EXPECT_FALSE(failing.resume(QStringLiteral("ServiceZU"), &error));
    EXPECT_FALSE(error.isEmpty());
    SystemdServiceControl missing(dir.file("no-systemctl"));
    EXPECT_FALSE(missing.isInstalled(QStringLiteral("ServiceZU")));
    EXPECT_FALSE(missing.pause(QStringLiteral("ServiceZU"), &error));
    EXPECT_FALSE(error.isEmpty());
}

} // namespace

namespace {

TEST(AvahiAnnouncer, AnnouncesWhileItLivesAndQuietlyNothingWithoutAvahi) {
    test::TempDir dir;
    const QString publish =
        WriteScript(dir, "publish",
                    "cd \"$(dirname \"$0\")\"\n"
                    "echo $$ > pid\n"
                    // Whole or not at all: the test reads it as soon as it exists.
                    "echo \"$@\" > args.tmp && mv args.tmp args\n"
                    "exec sleep 30\n");
    pid_t first = 0;
    {
        AvahiAnnouncer announcer(publish);
        const QString name = QStringLiteral("Tarvina Caja en ") + QString(80, u'ñ');
        announcer.start(name, 16046);
        ASSERT_TRUE(test::WaitUntil([&] { return QFile::exists(dir.file("args")); }))
            << "avahi-publish was not started";
        EXPECT_TRUE(announcer.running());
        const QByteArray args = ReadAll(dir.file("args")).trimmed();
        EXPECT_TRUE(args.endsWith(" _tarvina._tcp 16046")) << args.constData();
        EXPECT_LE(args.size() - QByteArray(" _tarvina._tcp 16046").size(), 63);
        first = ReadAll(dir.file("pid")).trimmed().toInt();
        ASSERT_GT(first, 0);

        // The same port again: the running announcement stays.
        QFile::remove(dir.file("args"));
        announcer.start(name, 16046);
        EXPECT_EQ(::kill(first, 0), 0);
        // The listener came back on another port: that one is announced
        // instead, never both.
        announcer.start(name, 16047);
        EXPECT_NE(::kill(first, 0), 0);
        ASSERT_TRUE(test::WaitUntil([&] { return QFile::exists(dir.file("args")); }))
            << "the new port was not announced";
        EXPECT_TRUE(ReadAll(dir.file("args")).trimmed().endsWith(" _tarvina._tcp 16047"));
        // The script writes its pid before its arguments.
        EXPECT_NE(ReadAll(dir.file("pid")).trimmed().toInt(), first);
    }
    // Gone with the object: the announcing process was ended and reaped.
    const pid_t pid = ReadAll(dir.file("pid")).trimmed().toInt();
    ASSERT_GT(pid, 0);
    EXPECT_NE(::kill(pid, 0), 0);

    AvahiAnnouncer none(dir.file("no-avahi-publish"));
    none.start(QStringLiteral("Caja"), 6046);
    EXPECT_TRUE(test::WaitUntil([&] { return !none.running(); }))
        << "a missing avahi-publish still counts as running";
}

} // namespace

namespace {

// The single answer the station's start-up asks for and the numbered echoes
// of the network test come from the same exchange.
TEST(IcmpPingerTest, LoopbackAnswersAndNamesThatDoNotResolveDoNot) {
    IcmpPinger pinger;
    const auto reply = pinger.echo(QStringLiteral("127.0.0.1"), 3, 3000);
    if (!reply)
        GTEST_SKIP() << "this machine allows no ICMP socket";
    EXPECT_TRUE(pinger.ping(QStringLiteral("127.0.0.1"), 3000));
    EXPECT_FALSE(pinger.ping(QStringLiteral("no-such-host.invalid"), 1000));
    EXPECT_FALSE(pinger.ping(QString(), 1000));
}

} // namespace

TEST(SysfsDrives, ADeviceKeepsItsLetterAndAStickNeverMovesTheCdDrive) {
    test::TempDir dir;
    auto plug = [&](const QString& name, const QByteArray& removable, const QByteArray& model) {
        QDir().mkpath(dir.file("block/" + name + "/device"));
        auto put = [&](const QString& file, const QByteArray& text) {
            QFile f(dir.file("block/" + name + "/" + file));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(text + "\n");
        };
        put("removable", removable);
        put("device/model", model);
        put("size", "8");
    };
    const QString letters = dir.file("Data/unidades.dta");
    plug("sr0", "1", "DVD-RW");
    {
        SysfsDrives drives(dir.file("block"), dir.file("dev"), letters);
        EXPECT_EQ(drives.cdDriveLetters(), QStringLiteral("D"));
        // The stick's name sorts before the CD drive's: the CD keeps D.
        plug("sdb", "1", "Memoria USB");
        plug("sda", "0", "Disco"); // the system's own disk: no letter
        EXPECT_EQ(drives.cdDriveLetters(), QStringLiteral("D"));
        EXPECT_EQ(drives.deviceOf(u'E'), QStringLiteral("sdb"));
        EXPECT_EQ(drives.lettersWithMedia(), QStringLiteral("DE"));
        EXPECT_EQ(drives.kindOf(u'd'), Drives::Kind::CdRom);
        EXPECT_EQ(drives.kindOf(u'E'), Drives::Kind::Removable);
        EXPECT_EQ(drives.kindOf(u'C'), Drives::Kind::Fixed);
        EXPECT_EQ(drives.kindOf(u'F'), Drives::Kind::None);
    }
    // Next start, the CD drive gone: the stick is still E, and a new stick
    // takes neither remembered letter.
    QDir(dir.file("block/sr0")).removeRecursively();
    plug("sdc", "1", "Otra memoria");
    SysfsDrives again(dir.file("block"), dir.file("dev"), letters);
    EXPECT_EQ(again.deviceOf(u'E'), QStringLiteral("sdb"));
    EXPECT_EQ(again.deviceOf(u'F'), QStringLiteral("sdc"));
    EXPECT_TRUE(again.deviceOf(u'D').isEmpty());
}
