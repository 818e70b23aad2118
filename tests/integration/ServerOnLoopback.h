#pragma once
// A real station server core listening on a loopback port the system
// chooses, with simulated stations connecting from 127.0.0.x addresses of
// their own. The settings live in memory, the folders in a private home.
#include "ServerProbe.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/MemoryRegistry.h"
#include "platform/linux/TcpNetwork.h"
#include "server/shell/ServerCore.h"
#include "simulator/StationSim.h"
#include "support/TempDir.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace tarvina::server::test {

class ServerOnLoopback : public ::testing::Test {
protected:
    void TearDown() override {
        sims.clear();
        core.reset();
    }
    // The core started as taquilla starts it; `beforeShow` runs between the
    // start-up and the first show, where the program starts its code tables.
    void startServer(const std::function<void()>& beforeShow = {}) {
        core = std::make_unique<ServerCore>(clock, store, network, env.home(), env.home());
        core->setPort(0);
        core->startUp();
        if (beforeShow)
            beforeShow();
        core->firstShow();
        ASSERT_TRUE(core->server().isListening());
        port = core->server().serverPort();
    }

    static sim::StationSim::Config Station(const QByteArray& name, const QByteArray& mac,
                                           const QString& from) {
        sim::StationSim::Config c;
        c.name = name;
        c.mac = mac;
        c.localAddress = from;
        return c;
    }
    // A station connected with its whole configuration (the session it
    // reports) set before, so that its first report already carries it.
    sim::StationSim* station(const sim::StationSim::Config& c) {
        sims.push_back(std::make_unique<sim::StationSim>(c));
        sim::StationSim* s = sims.back().get();
        s->connectTo(QStringLiteral("127.0.0.1"), port);
        EXPECT_TRUE(s->waitConnected(waitMs));
        return s;
    }
    // A station that has finished its handshake (its first status report
    // was answered), what the server posted meanwhile applied.
    sim::StationSim* bound(const QByteArray& name, const QByteArray& mac, const QString& from) {
        sim::StationSim* s = station(Station(name, mac, from));
        EXPECT_TRUE(s->waitForLine("0A", waitMs));
        settle();
        return s;
    }
    // Lets the UI thread apply everything posted so far.
    void settle() {
        waitUntil([] { return false; }, 50);
    }

    // Waits until pred holds, applying what the connection threads posted
    // before each look (and running the idle pass where the fixture asks).
    bool waitUntil(const std::function<bool()>& pred, int ms = -1) {
        return WaitDrained(
            *core,
            [&] {
                if (pumpIdle)
                    core->IdlePump();
                return pred();
            },
            ms < 0 ? waitMs : ms);
    }
    bool waitConsole(const QString& text) {
        return waitUntil([&] { return core->console().texts().contains(text); });
    }
    TCompItem* record(const QString& name) { return RecordNamed(*core, name); }

    // How long a wait of the fixture lasts, and whether the idle pass runs
    // in it (the codes and the remote windows are served there).
    int waitMs = 5000;
    bool pumpIdle = false;

    tarvina::test::ScopedTarvinaEnv env;
    platform::FakeClock clock;
    platform::MemoryRegistry store;
    platform::TcpNetwork network;
    std::unique_ptr<ServerCore> core;
    std::vector<std::unique_ptr<sim::StationSim>> sims;
    quint16 port = 0;
};

} // namespace tarvina::server::test
