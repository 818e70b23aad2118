#pragma once

#include "platform/fake/FakeClock.h"
#include "platform/fake/MemoryRegistry.h"
#include "platform/linux/TcpNetwork.h"
#include "server/StationPeer.h"
#include "server/shell/ServerCore.h"
#include "support/TempDir.h"

#include <QList>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace tarvina::test {

// A server core whose stations are records bound to one end of a socket
// pair each; the test reads what a station was sent from the other end.
class ComputersFixture : public ::testing::Test {
protected:
    ComputersFixture() : core(clock, reg, network, dir.path(), dir.path()) {}

    server::TCompItem* station(const QString& name, int state, const QString& mac) {
        auto& peer = *peers.emplace_back(std::make_unique<StationPeer>());
        server::ServerContext& ctx = core.context();
        server::TCompItem* r = nullptr;
        {
            server::ComputersGuard g(ctx.registry.lock());
            r = AddStationRecord(ctx.registry, peer, name, mac,
                                 QStringLiteral("10.0.1.%1").arg(records.size() + 1));
            peer.connection->record = r;
            r->state = static_cast<quint8>(state);
            r->versionText = QStringLiteral("V 3.0 (B 0.0)");
            r->versionNumber = 3 << 24;
        }
        ctx.handoff.post({server::UiEvent::Kind::RowAdded, r});
        core.drainHandOff();
        records.append(r);
        read(r);
        return r;
    }
    // A record that has a row but no connection.
    server::TCompItem* offline(const QString& name) {
        server::ServerContext& ctx = core.context();
        server::TCompItem* r = nullptr;
        {
            server::ComputersGuard g(ctx.registry.lock());
            r = ctx.registry.addRecord(QStringLiteral("10.0.0.%1").arg(records.size() + 1),
                                       QString());
            r->name = name;
        }
        ctx.handoff.post({server::UiEvent::Kind::RowAdded, r});
        core.drainHandOff();
        return r;
    }
    // What the station of `r` was sent since the last read.
    QByteArray read(server::TCompItem* r) {
        const qsizetype i = records.indexOf(r);
        return i < 0 ? QByteArray() : peers[std::size_t(i)]->received();
    }
    void set(server::TCompItem* r, const std::function<void(server::TCompItem&)>& change) {
        {
            server::ComputersGuard g(core.registry().lock());
            change(*r);
        }
        core.computers().updateRow(r);
    }

    TempDir dir;
    platform::FakeClock clock;
    platform::MemoryRegistry reg;
    platform::TcpNetwork network;
    server::ServerCore core;
    std::vector<std::unique_ptr<StationPeer>> peers;
    QList<server::TCompItem*> records;
};

} // namespace tarvina::test
