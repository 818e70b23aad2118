#pragma once

#include <QIODevice>
#include <QString>

namespace tarvina::platform {

// A QIODevice over a connected TCP socket descriptor, for a thread that reads
// with blocking waits (waitForReadyRead polls the descriptor). Reading happens
// on one thread only; it does not own the descriptor.
//
// End of stream and errors make read() return -1, which a line reader takes
// as a closed connection. Another thread interrupts a waiting reader by
// shutting the socket down. Writes wait at most writeTimeoutMs for each bit
// of progress, so a peer that stops reading cannot hold the writer forever.
class SocketDevice final : public QIODevice {
public:
    explicit SocketDevice(int fd, int writeTimeoutMs = 2000);

    bool isSequential() const override { return true; }
    bool waitForReadyRead(int msecs) override;
    bool waitForBytesWritten(int) override { return true; }
    qint64 bytesAvailable() const override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    int fd_;
    int writeTimeoutMs_;
    bool ended_ = false;
};

// The peer's IP address as text ("192.168.0.15"; IPv4 addresses mapped into
// IPv6 are given in their IPv4 form); empty when unknown.
QString PeerAddressOf(int fd);

} // namespace tarvina::platform
