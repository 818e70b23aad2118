// The real station logic against the real cashier over loopback, both on one
// fake clock.
#include "ServerProbe.h"
#include "client/ClientFakes.h"
#include "protocol/DateTimeText.h"
#include "server/net/Senders.h"
#include "server/net/StationServer.h"
#include "server/session/ComputersModel.h"
#include "server/session/TimeAssignment.h"
#include "server/shell/ServerCore.h"

#include <QTest>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::client;
using namespace tarvina::client::test;
using server::TCompItem;

namespace {

constexpr int kWait = 8000;

class ClientServer : public ::testing::Test {
protected:
    void SetUp() override {
        startServer(0);
        a = makeStation("PC1", "00-11-22-33-44-A1");
    }
    void TearDown() override {
        stations.clear();
        core.reset();
    }

    void startServer(quint16 fixedPort) {
        core = std::make_unique<server::ServerCore>(clock(), store, env.home(), env.home());
        core->setPort(fixedPort);
        core->startUp();
        core->firstShow();
        ASSERT_TRUE(core->server().isListening());
        port = core->server().serverPort();
    }

    platform::FakeClock& clock() { return sharedClock; }

    Station* makeStation(const QString& name, const QString& mac) {
        auto st = std::make_unique<Station>(&sharedClock);
        st->clock.set(sharedClock.now());
        ClientEnvironment e = st->env();
        e.port = port;
        e.computerName = name;
        e.macText = mac;
        // Each station from its own loopback address, as from its own computer.
        e.localAddress = QStringLiteral("127.0.0.%1").arg(20 + stations.size());
        st->make(e);
        st->core->Create();
        st->core->setAutoConnect(false);
        st->core->Show();
        st->core->link().StartConnectThread();
        stations.push_back(std::move(st));
        Station* p = stations.back().get();
        EXPECT_TRUE(waitUntil([&] {
            TCompItem* r = record(name);
            server::ComputersGuard g(core->registry().lock());
            return r && r->state == 1 && r->versionText == QStringLiteral("V 3.0 (B 0.0)");
        }));
        return p;
    }

    bool waitUntil(const std::function<bool()>& pred, int ms = kWait) {
        return server::test::WaitDrained(*core, pred, ms);
    }
    TCompItem* record(const QString& name) { return server::test::RecordNamed(*core, name); }
    int stateOf(const QString& name) {
        TCompItem* r = record(name);
        server::ComputersGuard g(core->registry().lock());
        return r ? r->state : -1;
    }
    double endOf(const QString& name) {
        TCompItem* r = record(name);
        server::ComputersGuard g(core->registry().lock());
        return r ? r->end : -1;
    }
    QString userOf(const QString& name) {
        TCompItem* r = record(name);
        server::ComputersGuard g(core->registry().lock());
        return r ? r->user : QString();
    }
    bool consoleHas(const QString& part) {
        for (const QString& t : core->console().texts())
            if (t.contains(part))
                return true;
        return false;
    }
    // Grants and lets the customer accept once the server sees "waiting".
    void grantAndAccept(Station* st, const QString& name, const QString& minutes,
                        const QString& user) {
        bool sawWaiting = false;
        st->welcome.answers << ScriptedWelcome::Answer{
            true, {}, [&] { sawWaiting = waitUntil([&] { return stateOf(name) == 4; }); }};
        server::GrantAccess(core->context(), record(name), minutes, user, {});
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return st->core->session().state() == ClientState::InUse; }, kWait));
        EXPECT_TRUE(sawWaiting);
        ASSERT_TRUE(waitUntil([&] { return stateOf(name) == 2; }));
        // The server's view keeps the end it took from the waiting report
        // until its tick drops it; the next keep-alive report brings the
        // real one.
        sharedClock.advanceSeconds(1);
        core->Tick();
        st->core->link().TimChkConTick();
        const double clientEnd = st->core->session().sessionEnd().days();
        ASSERT_TRUE(waitUntil([&] { return std::abs(endOf(name) - clientEnd) < 1.0 / 86400; }));
    }

    tarvina::test::ScopedTarvinaEnv env;
    platform::FakeClock sharedClock;
    platform::MemoryRegistry store;
    std::unique_ptr<server::ServerCore> core;
    std::vector<std::unique_ptr<Station>> stations;
    quint16 port = 0;
    Station* a = nullptr;
};

} // namespace

TEST_F(ClientServer, HandshakeBindsTheStation) {
    TCompItem* r = record("PC1");
    ASSERT_NE(r, nullptr);
    server::ComputersGuard g(core->registry().lock());
    EXPECT_EQ(r->mac, QStringLiteral("00-11-22-33-44-A1"));
    EXPECT_EQ(r->state, 1);
    EXPECT_EQ(a->core->display().statusText.isEmpty(), false);
}

TEST_F(ClientServer, GrantAcceptedAddTimeAndOperatorLock) {
    grantAndAccept(a, "PC1", "30", "Ana");
    EXPECT_TRUE(waitUntil([&] { return consoleHas(QStringLiteral("Ana está en PC1")); }));
    EXPECT_EQ(userOf("PC1"), QStringLiteral("Ana"));
    const double clientEnd = a->core->session().sessionEnd().days();
    EXPECT_NEAR(clientEnd - sharedClock.now().days(), 30 / 1440.0 - 1 / 86400.0, 1e-6);
    core->Tick();
    {
        TCompItem* r = record("PC1");
        EXPECT_EQ(core->computers().cell(r->row, server::ComputersModel::Left),
                  QStringLiteral("00:29:59"));
    }

    // Add time, told and silent: the station's end and the server's follow.
    server::AddMinutes(core->context(), record("PC1"), QStringLiteral("15"), false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return a->notice.notices.size() == 1; }, kWait));
    EXPECT_EQ(a->notice.notices[0], QStringLiteral("Se le han otorgando 15 minutos adicionales"));
    EXPECT_TRUE(
        waitUntil([&] { return std::abs(endOf("PC1") - (clientEnd + 15 / 1440.0)) < 1e-5; }));
    server::AddMinutes(core->context(), record("PC1"), QStringLiteral("10"), true);
    EXPECT_TRUE(
        waitUntil([&] { return std::abs(endOf("PC1") - (clientEnd + 25 / 1440.0)) < 1e-5; }));
    EXPECT_EQ(a->notice.notices.size(), 1);

    // The operator locks: the station locks at its next tick and reports it.
    server::Lock(core->context(), record("PC1"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            a->core->RelojVisualTick();
            return a->core->session().state() == ClientState::Locked;
        },
        kWait));
    EXPECT_TRUE(waitUntil([&] { return stateOf("PC1") == 1; }));
    EXPECT_TRUE(a->core->display().lockVisible);
}

TEST_F(ClientServer, TheStationLocksOnTimeWhileTheServerIsAway) {
    grantAndAccept(a, "PC1", "2", "Ana");
    core.reset(); // the cashier goes away
    ASSERT_TRUE(QTest::qWaitFor([&] { return !a->core->link().connected(); }, kWait));
    sharedClock.advanceSeconds(118); // one second went by in grantAndAccept
    a->core->RelojVisualTick();
    EXPECT_EQ(a->core->session().state(), ClientState::InUse);
    sharedClock.advanceSeconds(1);
    a->core->RelojVisualTick();
    EXPECT_EQ(a->core->session().state(), ClientState::Locked);
}

TEST_F(ClientServer, ServerComesBackAndTheStationReconnects) {
    const quint16 oldPort = port;
    core.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !a->core->link().connected(); }, kWait));
    startServer(oldPort);
    // The keep-alive notices the loss and arms the retry; the retry connects.
    a->core->link().TimChkConTick();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            if (!a->core->link().connectThreadRunning())
                a->core->link().TimChkNewConnTick();
            core->drainHandOff();
            return a->core->link().connected();
        },
        kWait));
    EXPECT_TRUE(waitUntil([&] { return stateOf("PC1") == 1; }));
}

TEST_F(ClientServer, WithdrawWhileWaitingLeavesTheStationLocked) {
    a->welcome.answers << ScriptedWelcome::Answer{
        true, {}, [&] {
            EXPECT_TRUE(waitUntil([&] { return stateOf("PC1") == 4; }));
            server::WithdrawAccess(core->context(), record("PC1"));
            EXPECT_TRUE(QTest::qWaitFor([&] { return a->welcome.closedFromOutside; }, kWait));
        }};
    server::GrantAccess(core->context(), record("PC1"), QStringLiteral("30"), QStringLiteral("Ana"),
                        {});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return a->welcome.shown.size() == 1 && !a->welcome.isShowing(); }, kWait));
    EXPECT_EQ(a->core->session().state(), ClientState::Locked);
    EXPECT_TRUE(waitUntil([&] { return stateOf("PC1") == 1; }));
    EXPECT_TRUE(waitUntil([&] { return consoleHas(QStringLiteral("abandona intento")); }));
}

TEST_F(ClientServer, MoveUserToAnotherStation) {
    Station* b = makeStation("PC2", "00-11-22-33-44-B2");
    grantAndAccept(a, "PC1", "30", "Ana");
    sharedClock.advanceMinutes(10);
    b->welcome.answers << ScriptedWelcome::Answer{true, {}, {}};
    server::MoveUser(core->context(), record("PC1"), record("PC2"));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return b->core->session().state() == ClientState::InUse; }, kWait));
    EXPECT_EQ(b->core->session().user(), QStringLiteral("Ana"));
    const double left = b->core->session().sessionEnd().days() - sharedClock.now().days();
    EXPECT_NEAR(left, 20 / 1440.0, 1.5 / 1440);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            a->core->RelojVisualTick();
            return a->core->session().state() == ClientState::Locked;
        },
        kWait));
    EXPECT_TRUE(waitUntil([&] { return stateOf("PC2") == 2 && stateOf("PC1") == 1; }));
}

TEST_F(ClientServer, SoftReinitReconnects) {
    const int before = core->connectionCount();
    server::SoftReinit(core->context(), record("PC1"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            core->drainHandOff();
            return !a->core->link().connected() || a->core->link().connectThreadRunning();
        },
        kWait));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            core->drainHandOff();
            return a->core->link().connected() && a->core->link().receiveThreadRunning();
        },
        15000));
    EXPECT_TRUE(
        waitUntil([&] { return stateOf("PC1") == 1 && core->connectionCount() >= before; }));
}
