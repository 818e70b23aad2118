#pragma once

#include <QString>
#include <optional>

// Reads that never wait and blocking-with-deadline writes on POSIX sockets,
// under the socket streams of the station server and of the station.
namespace tarvina::platform {

// Waits for `events` (poll flags) on fd for at most msecs (negative: no
// limit). True when ready or in error (the next read or write tells which),
// false when the time ran out.
bool WaitForSocket(int fd, short events, int msecs);

// Writes all of `data`, waiting at most timeoutMs (negative: no limit) for
// each bit of progress. Never raises SIGPIPE. Returns the error text on
// failure.
std::optional<QString> WriteAllToSocket(int fd, const char* data, qint64 size, int timeoutMs);

// What one read from a socket that never waits gave.
struct SocketRead {
    enum class Status {
        Data,       // `bytes` bytes (more than 0) were read
        WouldBlock, // nothing there yet
        Ended,      // the peer closed its end
        Failed      // the connection broke; `error` says how
    };
    Status status = Status::WouldBlock;
    qint64 bytes = 0;
    QString error;
};

// Reads at most maxSize bytes of what already arrived on fd, retrying when a
// signal interrupts the call.
SocketRead ReceiveFromSocket(int fd, char* data, qint64 maxSize);

// The peer's IP address as text ("192.168.0.15"; IPv4 addresses mapped into
// IPv6 are given in their IPv4 form); empty when unknown.
QString PeerAddressOf(int fd);

} // namespace tarvina::platform
