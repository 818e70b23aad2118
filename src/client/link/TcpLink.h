#pragma once

#include "platform/Network.h"
#include "platform/Stream.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace tarvina::client {

// One connection to the server with blocking, bounded operations: the
// connect thread opens it, the receive thread reads lines and blocks from it,
// and the main and receive threads both send on it. Sends are serialised so
// that each line (and a block written right after its line) goes out whole.
// The stream is closed only when the last user lets go of the object, so a
// receive thread that is still winding down never reads a newer connection.
class TcpConnection {
public:
    explicit TcpConnection(std::unique_ptr<platform::Stream> stream);
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    bool isUp() const { return up_.load(); }
    // Writes all bytes or fails; a failure marks the connection down.
    bool send(QByteArrayView bytes, int timeoutMs);
    // Several pieces as one uninterrupted write (a line and its block).
    bool sendParts(std::initializer_list<QByteArrayView> parts, int timeoutMs);
    // Wakes a blocked reader and marks the connection down.
    void shutdown();
    // Wakes a reader blocked in readLine without touching the connection:
    // its readLine returns Nothing.
    void wakeReader();

    // Reader side (one thread only).
    enum class ReadStatus { Line, Nothing, TooLong, Closed };
    // A line without its CR LF. Waits at most waitMs for data (a negative
    // waitMs waits until data, the end or wakeReader). A line longer
    // than maxLine is dropped up to its line feed and reported once.
    ReadStatus readLine(QByteArray& line, int waitMs, qsizetype maxLine);
    // Exactly n bytes; false when the connection fails or no byte comes for
    // idleTimeoutMs; stop() lets a waiting read give up.
    bool readExact(qsizetype n, QByteArray& out, int idleTimeoutMs,
                   const std::function<bool()>& stop = {});

private:
    // Waits for readable data and appends what came; false on close/failure.
    enum class Fill { Data, Timeout, Closed };
    Fill fill(int waitMs);

    const std::unique_ptr<platform::Stream> stream_;
    std::atomic<bool> up_{true};
    std::mutex sendMutex_;
    QByteArray buffer_;
    bool discarding_ = false;
};

class TcpLink {
public:
    explicit TcpLink(platform::Network& network) : network_(network) {}

    // Blocking connect with a time-out; stop() is polled so a thread that is
    // told to stop does not wait the whole time-out. On success the new
    // connection replaces the previous one.
    // localAddress (an IPv4 text, empty for any) binds the local end first,
    // so that several stations can run from one machine. The new stream is
    // started (its handshake, if it has one) within the same time-out.
    bool connectTo(const QString& host, quint16 port, int timeoutMs, QString* error,
                   const std::function<bool()>& stop = {}, const QString& localAddress = {});
    std::shared_ptr<TcpConnection> connection() const;
    bool isConnected() const;
    bool send(QByteArrayView bytes);
    bool sendParts(std::initializer_list<QByteArrayView> parts);
    void disconnect();
    void setWriteTimeout(int ms) { writeTimeoutMs_ = ms; }
    // The protection of the next connections (the current one keeps its own).
    void setSecurity(const platform::LinkSecurity& security) { network_.setSecurity(security); }
    // Whether the last connect failed because the server holds another key.
    bool lastFailedOnKey() const { return failedOnKey_.load(); }

private:
    platform::Network& network_;
    mutable std::mutex mutex_;
    std::shared_ptr<TcpConnection> current_;
    std::atomic<int> writeTimeoutMs_{10000};
    std::atomic<bool> failedOnKey_{false};
};

} // namespace tarvina::client
