#pragma once

#include "platform/Stream.h"
#include "platform/StreamDevice.h"
#include "protocol/LineReader.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

namespace tarvina::server {

struct TCompItem;

// One station's connection. The connection thread alone reads from it
// (through reader()); any thread may write.
//
// Writes: a line, or a line and its block, is written whole under the
// connection's write mutex, straight from the calling thread, with a bounded
// wait: the kernel's send buffer takes a command line at once, so the UI
// thread is held only when a station stops reading; after kWriteTimeoutMs
// without progress the write fails with its error text and the connection
// is shut down, which ends its thread's read and runs its disconnect. A
// failed write therefore reports synchronously, with the sender's own text.
class StationConnection {
public:
    static constexpr int kWriteTimeoutMs = 2000;

    // The stream is not started yet: the connection's thread does that.
    explicit StationConnection(std::unique_ptr<platform::Stream> stream);
    ~StationConnection();
    StationConnection(const StationConnection&) = delete;
    StationConnection& operator=(const StationConnection&) = delete;

    const QString& peerAddress() const { return peer_; }
    // False once the peer closed, a read or write failed, or shutdown() ran.
    bool isUp() const { return up_.load(); }

    // `line` without CR LF; error text on failure.
    std::optional<QString> sendLine(QByteArrayView line);
    std::optional<QString> sendLineWithBlock(QByteArrayView line, QByteArrayView block);
    // Bytes as they are (a line already ended, counted lines...).
    std::optional<QString> sendRaw(QByteArrayView bytes);

    // Whatever the stream needs before its first byte, on the connection
    // thread, waiting at most timeoutMs; the error text on failure.
    std::optional<QString> start(int timeoutMs) {
        auto failed = stream_->start(timeoutMs);
        encrypted_.store(stream_->encrypted());
        return failed;
    }
    platform::Stream::StartFailure startFailure() const { return stream_->startFailure(); }
    // Whether the stream is encrypted (known once started); any thread.
    bool encrypted() const { return encrypted_.load(); }
    // A plain station let in beside encrypted ones (the operator is shown
    // which are still to be given the key); any thread once started.
    bool plainBesideEncrypted() const { return offersEncryption && !encrypted_.load(); }
    // Set before the thread starts: encryption was on offer at accept.
    bool offersEncryption = false;

    // Ends the connection from any thread: the reader sees it closed.
    void shutdown();
    // Called by the connection thread when its read found the end.
    void markDown() { up_.store(false); }

    // Connection thread only.
    protocol::LineReader& reader() { return reader_; }
    QString readError() const { return device_.errorString(); }

    // The bound record; guarded by ComputersLock.
    TCompItem* record = nullptr;

private:
    std::unique_ptr<platform::Stream> stream_;
    QString peer_;
    std::atomic<bool> up_{true};
    std::atomic<bool> encrypted_{false};
    std::mutex writeMutex_;
    platform::StreamDevice device_;
    protocol::LineReader reader_;
};

} // namespace tarvina::server
