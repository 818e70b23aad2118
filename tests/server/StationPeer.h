#pragma once

// A station for the server's tests without a network: its connection is one
// end of a socket pair, and the test reads from the other end what the
// server sent it.

#include "platform/linux/SocketStream.h"
#include "server/computers/ComputerRegistry.h"
#include "server/net/StationConnection.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <gtest/gtest.h>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvina::test {

class StationPeer {
public:
    StationPeer() {
        int fds[2] = {-1, -1};
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        connection = std::make_shared<server::StationConnection>(
            std::make_unique<platform::SocketStream>(fds[0], false));
        peer_ = fds[1];
    }
    ~StationPeer() {
        if (peer_ >= 0) {
            ::close(peer_);
        }
    }
    StationPeer(const StationPeer&) = delete;
    StationPeer& operator=(const StationPeer&) = delete;

    // Everything sent to the station since the last read, without waiting.
    QByteArray received() {
        QByteArray out;
        char buf[4096];
        for (;;) {
            const ssize_t n = ::recv(peer_, buf, sizeof buf, MSG_DONTWAIT);
            if (n <= 0) {
                break;
            }
            out.append(buf, n);
        }
        return out;
    }

    // Every complete line received so far, without CR LF; the start of a
    // line waits for its end.
    QList<QByteArray> lines() {
        pending_.append(received());
        QList<QByteArray> out;
        qsizetype at;
        while ((at = pending_.indexOf("\r\n")) >= 0) {
            out << pending_.left(at);
            pending_.remove(0, at + 2);
        }
        return out;
    }

    std::shared_ptr<server::StationConnection> connection;

private:
    int peer_ = -1;
    QByteArray pending_;
};

// A record for the station at `address`, bound to `peer`'s connection, as
// its first report leaves it.
inline server::TCompItem* AddStationRecord(server::ComputerRegistry& registry, StationPeer& peer,
                                           const QString& name, const QString& mac,
                                           const QString& address) {
    server::ComputersGuard guard(registry.lock());
    server::TCompItem* r = registry.addRecord(address, mac);
    r->address = address;
    r->name = name;
    r->mac = mac;
    r->connection = peer.connection;
    return r;
}

} // namespace tarvina::test
