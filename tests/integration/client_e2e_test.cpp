// The real station logic against the real cashier over loopback, both on one
// fake clock.
#include "ServerProbe.h"
#include "client/ClientFakes.h"
#include "client/control/StationControl.h"
#include "platform/NetworkKey.h"
#include "platform/fake/FakeAutostart.h"
#include "platform/fake/FakeDisplayModes.h"
#include "platform/fake/FakeProcesses.h"
#include "platform/fake/FakeScreenGrabber.h"
#include "platform/linux/TcpNetwork.h"
#include "protocol/DateTimeText.h"
#include "protocol/Fields.h"
#include "server/computers/Senders.h"
#include "server/net/StationConnection.h"
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
        controls.clear();
        core.reset();
    }

    void startServer(quint16 fixedPort) {
        core =
            std::make_unique<server::ServerCore>(clock(), store, network, env.home(), env.home());
        core->setPort(fixedPort);
        core->startUp();
        core->firstShow();
        ASSERT_TRUE(core->server().isListening());
        port = core->server().serverPort();
    }

    platform::FakeClock& clock() { return sharedClock; }

    // withControl: the station's real machine control over its fakes. key:
    // the network key as the package's configuration writes it; bound: wait
    // until the server shows the station.
    Station* makeStation(const QString& name, const QString& mac, bool withControl = false,
                         const QString& key = {}, bool bound = true) {
        auto st = std::make_unique<Station>(&sharedClock);
        if (!key.isEmpty())
            client::keys::kClaveRed.write(st->registry, key);
        st->clock.set(sharedClock.now());
        ClientEnvironment e = st->env();
        e.port = port;
        e.computerName = name;
        e.macText = mac;
        // Each station from its own loopback address, as from its own computer.
        e.localAddress = QStringLiteral("127.0.0.%1").arg(20 + stations.size());
        MachineControl* control = nullptr;
        if (withControl) {
            controls.push_back(std::make_unique<Controls>(*st));
            control = &controls.back()->control;
        }
        st->make(e, control);
        st->core->Create();
        st->core->setAutoConnect(false);
        st->core->Show();
        st->core->link().StartConnectThread();
        stations.push_back(std::move(st));
        Station* p = stations.back().get();
        if (!bound)
            return p;
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
    platform::TcpNetwork network;
    std::unique_ptr<server::ServerCore> core;
    std::vector<std::unique_ptr<Station>> stations;
    struct Controls {
        explicit Controls(Station& st)
            : control({st.registry, st.windows, processes, st.desktop, autostart, grabber, modes,
                       st.own, st.home.path(), st.home.file(QStringLiteral("puesto"))}) {}
        platform::FakeProcesses processes;
        platform::FakeAutostart autostart;
        platform::FakeScreenGrabber grabber;
        platform::FakeDisplayModes modes;
        StationControl control;
    };
    std::vector<std::unique_ptr<Controls>> controls;
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

// The cashier's task, capture and configuration queries answered by the
// station's machine control and read by the server as it reads them.
TEST_F(ClientServer, TasksScreenAndConfigurationReachTheServer) {
    Station* b = makeStation("PC2", "00-11-22-33-44-B2", true);
    Controls& ctl = *controls.back();
    TCompItem* r = record("PC2");
    ASSERT_NE(r, nullptr);
    const auto none = [](const QString&, const QString& e) { return e; };

    b->windows.windows[7] = {QStringLiteral("x"), QStringLiteral("Hoja, de cálculo"), true, false};
    // What the idle pump hands to the process and configuration windows.
    std::optional<QByteArray> tasks;
    TCompItem* configured = nullptr;
    core->hooks().taskList = [&](TCompItem* rec, const QByteArray& payload) {
        EXPECT_EQ(rec, r);
        tasks = payload;
    };
    core->hooks().remoteConfig = [&](TCompItem* rec) { configured = rec; };
    server::SendToComputer(core->context(), r, "09", {}, none);
    ASSERT_TRUE(waitUntil([&] {
        core->IdlePump();
        return tasks.has_value();
    }));
    EXPECT_EQ(protocol::SplitCommaList(*tasks), QList<QByteArray>{"Hoja, de c\xe1lculo"});

    platform::ScreenImage img;
    img.width = 40;
    img.height = 30;
    img.pixels = QByteArray(40 * 30 * 4, '\x22');
    ctl.grabber.image = img;
    QByteArray picture;
    QObject::connect(core.get(), &server::ServerCore::screenshotReceived,
                     [&](TCompItem*, const QByteArray& image) { picture = image; });
    server::SendToComputer(core->context(), r, "12", {}, none);
    ASSERT_TRUE(waitUntil([&] { return !picture.isEmpty(); }));
    EXPECT_EQ(picture.size(), 54 + 40 * 3 * 30);
    EXPECT_TRUE(picture.startsWith("BM"));

    const QByteArray gif = "GIF89a-promo";
    server::SendToComputer(core->context(), r, "30-1,C:\\banners\\promo.gif", {}, none, &gif);
    server::SendToComputer(core->context(), r, "271", {}, none);
    server::SendToComputer(core->context(), r, "21", {}, none);
    ASSERT_TRUE(waitUntil([&] {
        core->IdlePump();
        return configured == r;
    }));
    server::ComputersGuard g(core->registry().lock());
    EXPECT_EQ(r->remoteBackground, QStringLiteral("zu26x.gif"));
    EXPECT_TRUE(r->remoteTaskBarHidden);
    EXPECT_FALSE(r->remoteAutoStart);
    ASSERT_TRUE(r->remoteBanners);
    ASSERT_EQ(r->remoteBanners->size(), 2);
    EXPECT_EQ(r->remoteBanners->at(1).name, QStringLiteral("promo.gif"));
    EXPECT_EQ(r->remoteBanners->at(1).number, 5);
}

TEST_F(ClientServer, TheWallpaperIsHeldAtEveryLockAndAFailureReachesTheConsole) {
    Station* b = makeStation("PC2", "00-11-22-33-44-B2", true);
    TCompItem* r = record("PC2");
    ASSERT_NE(r, nullptr);
    const auto none = [](const QString&, const QString& e) { return e; };
    const QString desktopKey = QStringLiteral("\\Control Panel\\Desktop");

    // Sent while the desktop cannot show it: kept, and the cashier told.
    b->desktop.wallpaperFails = true;
    const QByteArray bmp = "BM-fondo";
    server::SendToComputer(core->context(), r, "24C:\\fondos\\cafe.bmp", {}, none, &bmp);
    ASSERT_TRUE(
        waitUntil([&] { return consoleHas(QStringLiteral("Falla restauración de papel tapíz")); }));
    const QString path = b->home.file(QStringLiteral("cafe.bmp"));
    EXPECT_EQ(b->registry.readString(platform::Root::CurrentUser, desktopKey,
                                     QStringLiteral("Wallpaper")),
              path);

    // Shown again when the customer's time ends and the station locks.
    b->desktop.wallpaperFails = false;
    grantAndAccept(b, "PC2", "30", "Ana");
    const qsizetype shown = b->desktop.wallpapers.size();
    server::Lock(core->context(), r);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            b->core->RelojVisualTick();
            return b->core->session().state() == ClientState::Locked;
        },
        kWait));
    ASSERT_EQ(b->desktop.wallpapers.size(), shown + 1);
    EXPECT_EQ(b->desktop.wallpapers.last().path, path);
}

TEST_F(ClientServer, AStationWithTheNetworkKeyIsServedEncryptedAndAWrongKeyIsShownOnBothSides) {
    const QString key = QStringLiteral("K7QF-M2XD-9HPT-4WNA-C3RJ-E8VB");
    server::ServerSettings s = core->settings();
    s.claveRed = platform::netkey::Scrambled(*platform::netkey::Normalise(key));
    s.redSegura = 2;
    core->applySettings(s);

    makeStation("PC2", "00-11-22-33-44-A2", false, key);
    {
        TCompItem* r = record("PC2");
        server::ComputersGuard g(core->registry().lock());
        ASSERT_TRUE(r && r->connection);
        EXPECT_TRUE(r->connection->encrypted());
    }
    grantAndAccept(stations.back().get(), "PC2", QStringLiteral("30"), QStringLiteral("Ana"));

    Station* wrong = makeStation("PC3", "00-11-22-33-44-A3", false,
                                 QStringLiteral("A2B3C4D5E6F7G8H9JKLMNPQR"), false);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return wrong->core->display().statusText == QStringLiteral("Clave de red incorrecta");
        },
        kWait));
    EXPECT_TRUE(
        waitUntil([&] { return consoleHas(QStringLiteral("Clave de red incorrecta desde ")); }));
    EXPECT_EQ(record("PC3"), nullptr);
}
