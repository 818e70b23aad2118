#pragma once

#include "platform/Stream.h"

#include <QIODevice>

namespace tarvina::platform {

// A QIODevice over a stream, for a thread that reads with blocking waits
// (a line reader). It does not own the stream.
//
// The end of the stream and failures make read() return -1, which a line
// reader takes as a closed connection; after that nothing is waited for.
// Writes go through the stream's writeAll with writeTimeoutMs.
class StreamDevice final : public QIODevice {
public:
    explicit StreamDevice(Stream& stream, int writeTimeoutMs = 2000);

    bool isSequential() const override { return true; }
    bool waitForReadyRead(int msecs) override;
    bool waitForBytesWritten(int) override { return true; }
    qint64 bytesAvailable() const override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    Stream& stream_;
    int writeTimeoutMs_;
    bool ended_ = false;
};

} // namespace tarvina::platform
