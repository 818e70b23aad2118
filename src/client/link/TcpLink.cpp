#include "client/link/TcpLink.h"

#include "protocol/LineReader.h"

#include <QElapsedTimer>
#include <algorithm>

namespace tarvina::client {

namespace {

// Largest single read from the stream.
constexpr int kChunk = 64 * 1024;

} // namespace

TcpConnection::TcpConnection(std::unique_ptr<platform::Stream> stream)
    : stream_(std::move(stream)) {}

void TcpConnection::wakeReader() {
    stream_->wake();
}

bool TcpConnection::send(QByteArrayView bytes, int timeoutMs) {
    return sendParts({bytes}, timeoutMs);
}

bool TcpConnection::sendParts(std::initializer_list<QByteArrayView> parts, int timeoutMs) {
    std::lock_guard lock(sendMutex_);
    if (!up_.load())
        return false;
    for (QByteArrayView part : parts) {
        if (stream_->writeAll(part.data(), part.size(), timeoutMs > 0 ? timeoutMs : -1)) {
            up_.store(false);
            stream_->shutdown();
            return false;
        }
    }
    return true;
}

void TcpConnection::shutdown() {
    up_.store(false);
    stream_->shutdown();
}

TcpConnection::Fill TcpConnection::fill(int waitMs) {
    char chunk[kChunk];
    const platform::Stream::Read got = stream_->read(chunk, sizeof chunk, waitMs);
    switch (got.status) {
    case platform::Stream::Read::Status::Data:
        buffer_.append(chunk, got.bytes);
        return Fill::Data;
    case platform::Stream::Read::Status::Nothing:
        return Fill::Timeout;
    case platform::Stream::Read::Status::Ended:
    case platform::Stream::Read::Status::Failed:
        break;
    }
    up_.store(false);
    return Fill::Closed;
}

TcpConnection::ReadStatus TcpConnection::readLine(QByteArray& line, int waitMs, qsizetype maxLine) {
    bool waited = false;
    for (;;) {
        switch (protocol::TakeLine(buffer_, discarding_, maxLine, line)) {
        case protocol::TakeLineResult::Line:
            return ReadStatus::Line;
        case protocol::TakeLineResult::TooLong:
            return ReadStatus::TooLong;
        case protocol::TakeLineResult::NeedMore:
            break;
        }
        if (waited)
            return ReadStatus::Nothing;
        switch (fill(waitMs)) {
        case Fill::Data:
            break;
        case Fill::Timeout:
            waited = true;
            break;
        case Fill::Closed:
            return ReadStatus::Closed;
        }
    }
}

bool TcpConnection::readExact(qsizetype n, QByteArray& out, int idleTimeoutMs,
                              const std::function<bool()>& stop) {
    out.clear();
    if (n < 0)
        return false;
    QElapsedTimer idle;
    idle.start();
    while (buffer_.size() < n) {
        if (stop && stop())
            return false;
        const qsizetype before = buffer_.size();
        if (fill(50) == Fill::Closed)
            return false;
        if (buffer_.size() != before)
            idle.restart();
        else if (idle.elapsed() > idleTimeoutMs)
            return false;
    }
    out = buffer_.left(n);
    buffer_.remove(0, n);
    return true;
}

bool TcpLink::connectTo(const QString& host, quint16 port, int timeoutMs, QString* error,
                        const std::function<bool()>& stop, const QString& localAddress) {
    QElapsedTimer t;
    t.start();
    std::unique_ptr<platform::Stream> stream =
        network_.connect(host, port, timeoutMs, error, stop, localAddress);
    if (!stream)
        return false;
    // What is left of the time-out, never nothing, for a stream that shakes
    // hands before its first byte.
    const int left =
        timeoutMs > 0 ? std::max<int>(1, timeoutMs - static_cast<int>(t.elapsed())) : -1;
    const auto failed = stream->start(left);
    failedOnKey_.store(failed &&
                       stream->startFailure() == platform::Stream::StartFailure::WrongKey);
    if (failed) {
        if (error)
            *error = *failed;
        return false;
    }
    auto conn = std::make_shared<TcpConnection>(std::move(stream));
    std::lock_guard lock(mutex_);
    if (current_)
        current_->shutdown();
    current_ = std::move(conn);
    return true;
}

std::shared_ptr<TcpConnection> TcpLink::connection() const {
    std::lock_guard lock(mutex_);
    return current_;
}

bool TcpLink::isConnected() const {
    const auto c = connection();
    return c && c->isUp();
}

bool TcpLink::send(QByteArrayView bytes) {
    const auto c = connection();
    return c && c->send(bytes, writeTimeoutMs_.load());
}

bool TcpLink::sendParts(std::initializer_list<QByteArrayView> parts) {
    const auto c = connection();
    return c && c->sendParts(parts, writeTimeoutMs_.load());
}

void TcpLink::disconnect() {
    if (const auto c = connection())
        c->shutdown();
}

} // namespace tarvina::client
