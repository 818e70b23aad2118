#pragma once

#include "platform/fake/FakeClock.h"
#include "platform/fake/MemoryRegistry.h"
#include "server/net/StationConnection.h"
#include "server/shell/ServerCore.h"
#include "support/TempDir.h"

#include <QList>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvina::test {

// A server core whose stations are records bound to one end of a socket
// pair each; the test reads what a station was sent from the other end.
class ComputersFixture : public ::testing::Test {
protected:
    ComputersFixture() : core(clock, reg, dir.path(), dir.path()) {}
    ~ComputersFixture() override {
        for (int fd : peers)
            ::close(fd);
    }

    server::TCompItem* station(const QString& name, int state, const QString& mac) {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        auto conn = std::make_shared<server::StationConnection>(fds[0]);
        server::ServerContext& ctx = core.context();
        server::TCompItem* r = nullptr;
        {
            server::ComputersGuard g(ctx.registry.lock());
            const QString address = QStringLiteral("10.0.1.%1").arg(records.size() + 1);
            r = ctx.registry.addRecord(address, mac);
            r->address = address;
            r->mac = mac;
            r->name = name;
            r->connection = conn;
            conn->record = r;
            r->state = static_cast<quint8>(state);
            r->versionText = QStringLiteral("V 3.0 (B 0.0)");
            r->versionNumber = 3 << 24;
        }
        ctx.handoff.post({server::UiEvent::Kind::RowAdded, r});
        core.drainHandOff();
        peers.append(fds[1]);
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
        const int i = static_cast<int>(records.indexOf(r));
        if (i < 0)
            return {};
        QByteArray out(65536, '\0');
        const ssize_t n = ::recv(peers[i], out.data(), out.size(), MSG_DONTWAIT);
        out.resize(n > 0 ? n : 0);
        return out;
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
    server::ServerCore core;
    QList<int> peers;
    QList<server::TCompItem*> records;
};

} // namespace tarvina::test
