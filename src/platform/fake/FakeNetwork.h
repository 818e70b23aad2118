#pragma once

#include "platform/Network.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace tarvina::platform {

// Streams in memory: a connect reaches the fake listener on that port (any
// host), and the two ends exchange bytes through buffers without limit. The
// accepting end's peer address is the connect's local address (127.0.0.1
// when none), so tests choose where a connection comes from. Tests set
// startFailure to give the accepted streams a handshake that fails.
class FakeNetwork final : public Network {
    // The two directions of one connection.
    struct Pipe {
        std::mutex mutex;
        std::condition_variable changed;
        QByteArray bytes[2]; // bytes[i]: waiting to be read by end i
        bool shut = false;   // either end shut the connection down
        bool woken[2] = {false, false};
    };

public:
    class End final : public Stream {
    public:
        End(std::shared_ptr<Pipe> pipe, int side, QString peer, std::optional<QString> startFailure)
            : pipe_(std::move(pipe)), side_(side), peer_(std::move(peer)),
              startFailure_(std::move(startFailure)) {}
        ~End() override { shutdown(); }

        std::optional<QString> start(int) override { return startFailure_; }
        bool waitReadable(int msecs) override {
            std::unique_lock lock(pipe_->mutex);
            const QDeadlineTimer deadline =
                msecs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(msecs);
            for (;;) {
                if (!pipe_->bytes[side_].isEmpty() || pipe_->shut)
                    return true;
                if (pipe_->woken[side_]) {
                    pipe_->woken[side_] = false;
                    return false;
                }
                if (deadline.hasExpired())
                    return false;
                if (deadline.isForever())
                    pipe_->changed.wait(lock);
                else
                    pipe_->changed.wait_for(lock, std::chrono::milliseconds(std::max<qint64>(
                                                      1, deadline.remainingTime())));
            }
        }
        Read read(char* data, qint64 maxSize, int waitMs) override {
            Read r;
            if (waitMs != 0 && !waitReadable(waitMs))
                return r;
            std::lock_guard lock(pipe_->mutex);
            QByteArray& in = pipe_->bytes[side_];
            if (!in.isEmpty()) {
                r.status = Read::Status::Data;
                r.bytes = std::min<qint64>(maxSize, in.size());
                std::memcpy(data, in.constData(), static_cast<size_t>(r.bytes));
                in.remove(0, r.bytes);
            } else if (pipe_->shut) {
                r.status = Read::Status::Ended;
                r.error = QStringLiteral("Conexión cerrada por el otro extremo");
            }
            return r;
        }
        qint64 bytesReadable() const override {
            std::lock_guard lock(pipe_->mutex);
            return pipe_->bytes[side_].size();
        }
        std::optional<QString> writeAll(const char* data, qint64 size, int) override {
            std::lock_guard lock(pipe_->mutex);
            if (pipe_->shut)
                return QStringLiteral("Conexión cerrada");
            pipe_->bytes[1 - side_].append(data, size);
            pipe_->changed.notify_all();
            return std::nullopt;
        }
        void shutdown() override {
            std::lock_guard lock(pipe_->mutex);
            pipe_->shut = true;
            pipe_->changed.notify_all();
        }
        void wake() override {
            std::lock_guard lock(pipe_->mutex);
            pipe_->woken[side_] = true;
            pipe_->changed.notify_all();
        }
        QString peerAddress() const override { return peer_; }

    private:
        std::shared_ptr<Pipe> pipe_;
        int side_;
        QString peer_;
        std::optional<QString> startFailure_;
    };

    // What each accepted stream's start() answers; nullopt: it starts.
    std::optional<QString> startFailure;

    std::unique_ptr<Listener> makeListener() override {
        return std::make_unique<FakeListener>(*this);
    }

    std::unique_ptr<Stream> connect(const QString&, quint16 port, int, QString* error,
                                    const std::function<bool()>&,
                                    const QString& localAddress) override {
        std::lock_guard lock(mutex_);
        const auto it = listeners_.find(port);
        if (it == listeners_.end()) {
            if (error)
                *error = QStringLiteral("Conexión rehusada");
            return nullptr;
        }
        auto pipe = std::make_shared<Pipe>();
        const QString from = localAddress.isEmpty() ? QStringLiteral("127.0.0.1") : localAddress;
        auto accepted = std::make_shared<std::unique_ptr<Stream>>(
            std::make_unique<End>(pipe, 0, from, startFailure));
        FakeListener* listener = it->second;
        // Accepted on the listener's own thread, by its event loop.
        QMetaObject::invokeMethod(
            &listener->context_,
            [listener, accepted] {
                if (listener->isListening() && listener->onAccept_)
                    listener->onAccept_(std::move(*accepted));
            },
            Qt::QueuedConnection);
        return std::make_unique<End>(pipe, 1, QStringLiteral("127.0.0.1"), std::nullopt);
    }

private:
    class FakeListener final : public Listener {
    public:
        explicit FakeListener(FakeNetwork& network) : network_(network) {}
        ~FakeListener() override { close(); }

        bool listen(quint16 port, int, Accepted onAccept) override {
            std::lock_guard lock(network_.mutex_);
            if (port == 0)
                port = network_.nextPort_++;
            if (network_.listeners_.count(port) != 0) {
                error_ = QStringLiteral("El puerto ya está en uso");
                return false;
            }
            onAccept_ = std::move(onAccept);
            network_.listeners_[port] = this;
            port_ = port;
            return true;
        }
        void close() override {
            std::lock_guard lock(network_.mutex_);
            if (port_ != 0)
                network_.listeners_.erase(port_);
            port_ = 0;
        }
        bool isListening() const override { return port_ != 0; }
        quint16 port() const override { return port_; }
        QString errorString() const override { return error_; }

        QObject context_;
        Accepted onAccept_;

    private:
        FakeNetwork& network_;
        quint16 port_ = 0;
        QString error_;
    };

    std::mutex mutex_;
    std::map<quint16, FakeListener*> listeners_;
    quint16 nextPort_ = 40000;
};

} // namespace tarvina::platform
