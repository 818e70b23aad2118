// Shut-down, restart and log-off against a stand-in logind (python3-dbusmock's
// template) on a private bus: the calls the station makes, and refusals.
#include "platform/linux/LogindPower.h"

#include "platform/fake/FakePower.h"
#include "support/TempDir.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

using tarvina::platform::CarryOutShutdown;
using tarvina::platform::FakePower;
using tarvina::platform::LogindPower;

namespace {

// A private session bus with the logind template on it; every call the
// template gets is written to its log.
class MockLogind : public ::testing::Test {
protected:
    void SetUp() override {
        bus_.setProcessChannelMode(QProcess::SeparateChannels);
        bus_.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"),
                    QStringLiteral("--print-address=1")});
        ASSERT_TRUE(bus_.waitForStarted(5000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return bus_.canReadLine(); }, 5000));
        address_ = QString::fromLocal8Bit(bus_.readLine()).trimmed();
        ASSERT_FALSE(address_.isEmpty());

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
        mock_.setProcessEnvironment(env);
        mock_.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--session"),
                     QStringLiteral("-t"), QStringLiteral("logind"), QStringLiteral("-l"), log()});
        ASSERT_TRUE(mock_.waitForStarted(5000));
        connection_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address_, QStringLiteral("logind-test")));
        ASSERT_TRUE(connection_->isConnected());
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return connection_->interface()->isServiceRegistered(
                    QStringLiteral("org.freedesktop.login1"));
            },
            15000));
        ASSERT_TRUE(
            mockCall(QStringLiteral("AddSession"), {QStringLiteral("c7"), QStringLiteral("seat0"),
                                                    1000u, QStringLiteral("ana"), true}));
    }
    void TearDown() override {
        connection_.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("logind-test"));
        mock_.terminate();
        mock_.waitForFinished(5000);
        bus_.terminate();
        bus_.waitForFinished(5000);
    }
    QString log() const { return dir_.file(QStringLiteral("logind.log")); }
    QByteArray calls() const {
        QFile f(log());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool mockCall(const QString& method, const QVariantList& args) {
        QDBusMessage m = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.DBus.Mock"), method);
        m.setArguments(args);
        return connection_->call(m).type() == QDBusMessage::ReplyMessage;
    }
    // The manager's method refuses from now on, as polkit would.
    bool refuse(const QString& method) {
        return mockCall(QStringLiteral("AddMethod"),
                        {QStringLiteral("org.freedesktop.login1.Manager"), method,
                         QStringLiteral("b"), QString(),
                         QStringLiteral("raise dbus.exceptions.DBusException('no', "
                                        "name='org.freedesktop.login1.NotPermitted')")});
    }

    tarvina::test::TempDir dir_;
    QProcess bus_, mock_;
    QString address_;
    std::unique_ptr<QDBusConnection> connection_;
};

} // namespace

TEST_F(MockLogind, ShutdownLettersReachLogindAsTheirCalls) {
    LogindPower power(*connection_, QStringLiteral("c7"));
    EXPECT_TRUE(CarryOutShutdown(power, u'S'));
    EXPECT_TRUE(QTest::qWaitFor([&] { return calls().contains("PowerOff False"); }, 5000));
    EXPECT_TRUE(CarryOutShutdown(power, u'r'));
    EXPECT_TRUE(QTest::qWaitFor([&] { return calls().contains("Reboot False"); }, 5000));
    EXPECT_TRUE(CarryOutShutdown(power, u'L'));
    EXPECT_TRUE(QTest::qWaitFor([&] { return calls().contains("Terminate"); }, 5000));
    EXPECT_TRUE(calls().contains("GetSession \"c7\""));
}

TEST_F(MockLogind, RefusalsAndUnknownSessionsAreFailuresNotSuccesses) {
    ASSERT_TRUE(refuse(QStringLiteral("PowerOff")));
    LogindPower power(*connection_, QStringLiteral("c7"));
    EXPECT_FALSE(power.powerOff());
    EXPECT_TRUE(power.lastError().contains(QStringLiteral("NotPermitted")));
    EXPECT_TRUE(power.reboot()); // only the refused one fails

    // A session logind does not know: nothing is terminated.
    LogindPower stranger(*connection_, QStringLiteral("nadie"));
    EXPECT_FALSE(stranger.logOff());
    EXPECT_FALSE(calls().contains("Terminate"));
}

TEST(LogindPower, NoLogindOnTheBusFailsQuickly) {
    LogindPower none(QDBusConnection(QStringLiteral("never-connected")), QStringLiteral("c1"),
                     1000);
    EXPECT_FALSE(none.powerOff());
    EXPECT_FALSE(none.reboot());
    EXPECT_FALSE(none.logOff());
    EXPECT_FALSE(none.lastError().isEmpty());
}

TEST(CarryOutShutdown, EveryLetterHasItsAction) {
    FakePower p;
    for (QChar c : {u'C', u'F', u'S', u's', u'A', u'R', u'L', u'X', u' '})
        CarryOutShutdown(p, c);
    EXPECT_EQ(p.calls, QStringList({"PowerOff", "PowerOff", "PowerOff", "PowerOff", "PowerOff",
                                    "Reboot", "LogOff", "LogOff", "LogOff"}));
    p.refuse = true;
    EXPECT_FALSE(CarryOutShutdown(p, u'R'));
}
