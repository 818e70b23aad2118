#pragma once

#include "platform/Stream.h"

namespace tarvina::platform {

// A stream over a connected socket descriptor, which it owns and closes.
// Reads never block inside recv: they wait in poll with the time given.
//
// wakeable gives it an eventfd the reader waits on beside the socket, so
// that wake() interrupts a wait (the station's link needs that; the server's
// connections, a thousand of them, do without the extra descriptor). When
// the eventfd cannot be had, a wait without limit wakes every few
// milliseconds instead.
class SocketStream final : public Stream {
public:
    SocketStream(int fd, bool wakeable);
    ~SocketStream() override;
    SocketStream(const SocketStream&) = delete;
    SocketStream& operator=(const SocketStream&) = delete;

    std::optional<QString> start(int) override { return std::nullopt; }
    bool waitReadable(int msecs) override;
    Read read(char* data, qint64 maxSize, int waitMs) override;
    qint64 bytesReadable() const override;
    std::optional<QString> writeAll(const char* data, qint64 size, int timeoutMs) override;
    void shutdown() override;
    void wake() override;
    QString peerAddress() const override;

    int fd() const { return fd_; }

private:
    const int fd_;
    const bool wakeable_;
    const int wakeFd_;
};

} // namespace tarvina::platform
