// Shut-down, restart and log-off against a stand-in logind, and the clock
// against a stand-in timedated (python3-dbusmock's templates) on a private
// bus: the calls the station makes, and refusals.
#include "platform/linux/LogindPower.h"

#include "platform/fake/FakePower.h"
#include "platform/linux/TimedateTime.h"
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

// A private session bus with one of dbusmock's templates on it; every call
// the template gets is written to its log.
class MockSystemService : public ::testing::Test {
protected:
    void startMock(const QString& templateName, const QString& service, const QString& path) {
        service_ = service;
        path_ = path;
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
                     QStringLiteral("-t"), templateName, QStringLiteral("-l"), log()});
        ASSERT_TRUE(mock_.waitForStarted(5000));
        connection_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address_, QStringLiteral("mock-test")));
        ASSERT_TRUE(connection_->isConnected());
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return connection_->interface()->isServiceRegistered(service_); }, 15000));
    }
    void TearDown() override {
        connection_.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("mock-test"));
        mock_.terminate();
        mock_.waitForFinished(5000);
        bus_.terminate();
        bus_.waitForFinished(5000);
    }
    QString log() const { return dir_.file(QStringLiteral("mock.log")); }
    QByteArray calls() const {
        QFile f(log());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool mockCall(const QString& method, const QVariantList& args) {
        QDBusMessage m = QDBusMessage::createMethodCall(
            service_, path_, QStringLiteral("org.freedesktop.DBus.Mock"), method);
        m.setArguments(args);
        return connection_->call(m).type() == QDBusMessage::ReplyMessage;
    }
    // The method refuses from now on, as polkit or the service would.
    bool refuse(const QString& interface, const QString& method, const QString& signature,
                const QString& errorName) {
        return mockCall(QStringLiteral("AddMethod"),
                        {interface, method, signature, QString(),
                         QStringLiteral("raise dbus.exceptions.DBusException('no', name='") +
                             errorName + QStringLiteral("')")});
    }

    tarvina::test::TempDir dir_;
    QProcess bus_, mock_;
    QString address_, service_, path_;
    std::unique_ptr<QDBusConnection> connection_;
};

class MockLogind : public MockSystemService {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(startMock(QStringLiteral("logind"),
                                          QStringLiteral("org.freedesktop.login1"),
                                          QStringLiteral("/org/freedesktop/login1")));
        ASSERT_TRUE(
            mockCall(QStringLiteral("AddSession"), {QStringLiteral("c7"), QStringLiteral("seat0"),
                                                    1000u, QStringLiteral("ana"), true}));
    }
    bool refuse(const QString& method) {
        return MockSystemService::refuse(QStringLiteral("org.freedesktop.login1.Manager"), method,
                                         QStringLiteral("b"),
                                         QStringLiteral("org.freedesktop.login1.NotPermitted"));
    }
};

class MockTimedated : public MockSystemService {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(startMock(QStringLiteral("timedated"),
                                          QStringLiteral("org.freedesktop.timedate1"),
                                          QStringLiteral("/org/freedesktop/timedate1")));
    }
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

TEST_F(MockTimedated, TheServersTimeReachesTimedatedAsUtcAndARefusalSaysWhy) {
    tarvina::platform::TimedateTime clock(*connection_);
    const auto when = tarvina::common::DateTime::FromParts(2024, 3, 4, 10, 30, 0);
    QString error;
    ASSERT_TRUE(clock.setLocalTime(when, &error)) << error.toStdString();
    const QByteArray usec = QByteArray::number(when.toQDateTime().toMSecsSinceEpoch() * 1000);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return calls().contains("SetTime " + usec + " False False"); }, 5000))
        << calls().toStdString();

    ASSERT_TRUE(refuse(QStringLiteral("org.freedesktop.timedate1"), QStringLiteral("SetTime"),
                       QStringLiteral("xbb"),
                       QStringLiteral("org.freedesktop.timedate1.AutomaticTimeSyncEnabled")));
    EXPECT_FALSE(clock.setLocalTime(when, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("AutomaticTimeSyncEnabled"))) << error.toStdString();

    tarvina::platform::TimedateTime none(QDBusConnection(QStringLiteral("never-connected")), 1000);
    EXPECT_FALSE(none.setLocalTime(when, &error));
    EXPECT_FALSE(error.isEmpty());
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
