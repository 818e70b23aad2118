#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

namespace tarvina::platform {

// A connected byte stream to one peer, as the station server's connections
// and the station's link use it: plain TCP or TLS with the café's network
// key, and nothing above this interface knows which.
//
// One thread reads; any thread may write (callers serialise their writes),
// shut the stream down or wake the reader.
class Stream {
public:
    // What one read gave.
    struct Read {
        enum class Status {
            Data,    // `bytes` bytes (more than 0) were read
            Nothing, // nothing came in the time given (or the reader was woken)
            Ended,   // the peer closed its end
            Failed   // the stream broke; `error` says how
        };
        Status status = Status::Nothing;
        qint64 bytes = 0;
        QString error;
    };

    // Why start() failed, for the few failures the operator is told about.
    enum class StartFailure {
        None,
        WrongKey,    // the peer's network key is not ours
        Unencrypted, // a plain peer where only encrypted ones are let in
        Other        // anything else (the peer left, stalled, sent garbage)
    };

    virtual ~Stream() = default;

    // What must happen before the first byte (an encrypted stream's
    // handshake), on the thread that will read, waiting at most timeoutMs.
    // A plain stream has nothing to do. The error text on failure.
    virtual std::optional<QString> start(int timeoutMs) = 0;
    // After a failed start(): which kind of failure it was.
    virtual StartFailure startFailure() const { return StartFailure::None; }
    // True once start() set up encryption (shown to the operator, never
    // acted on by the session).
    virtual bool encrypted() const { return false; }

    // Waits at most msecs (negative: no limit) for something to read. True
    // when there is data or the end (the next read tells which), false when
    // the time ran out or wake() was called.
    virtual bool waitReadable(int msecs) = 0;
    // Waits like waitReadable (0: not at all) and reads at most maxSize bytes
    // of what came.
    virtual Read read(char* data, qint64 maxSize, int waitMs) = 0;
    // Bytes a read would give at once.
    virtual qint64 bytesReadable() const = 0;

    // Writes all of `data`, waiting at most timeoutMs (negative: no limit)
    // for each bit of progress, so that a peer that stops reading cannot hold
    // the writer forever. The error text on failure.
    virtual std::optional<QString> writeAll(const char* data, qint64 size, int timeoutMs) = 0;

    // Ends the stream both ways from any thread: a waiting reader sees the
    // end, later writes fail.
    virtual void shutdown() = 0;
    // Makes a waiting reader's wait return false without touching the
    // stream.
    virtual void wake() = 0;

    // The peer's IP address as text ("192.168.0.15"; IPv4 addresses mapped
    // into IPv6 in their IPv4 form); empty when unknown.
    virtual QString peerAddress() const = 0;
};

} // namespace tarvina::platform
