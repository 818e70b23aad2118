#include "server/net/StationServer.h"

#include "server/net/StationConnection.h"

#include <QThread>

namespace tarvina::server {

StationServer::StationServer(ListenerHost host, QObject* parent)
    : QObject(parent), host_(std::move(host)), listener_(host_.network.makeListener()) {
    sweepTimer_.setInterval(1000);
    connect(&sweepTimer_, &QTimer::timeout, this, &StationServer::Sweep);
}

StationServer::~StationServer() {
    stop();
}

bool StationServer::listen(quint16 port) {
    if (listener_->isListening())
        return true;
    Q_EMIT listenerStateChanged(ListenerState::Connecting);
    // Many stations start at once after a power cut: a short accept queue
    // would drop their handshakes and leave them waiting on TCP back-off.
    constexpr int kBacklog = 1024;
    const bool ok = listener_->listen(
        port, kBacklog, [this](std::unique_ptr<platform::Stream> s) { accept(std::move(s)); });
    if (ok)
        sweepTimer_.start();
    Q_EMIT listenerStateChanged(ok ? ListenerState::Connected : ListenerState::Disconnected);
    return ok;
}

bool StationServer::isListening() const {
    return listener_->isListening();
}
quint16 StationServer::serverPort() const {
    return listener_->port();
}
QString StationServer::errorString() const {
    return listener_->errorString();
}

QString StationServer::ListenerStatusText(ListenerState state) {
    switch (state) {
    case ListenerState::Resolving:
        return QStringLiteral("Resolviendo");
    case ListenerState::Connecting:
        return QStringLiteral("Conectando");
    case ListenerState::Connected:
        return QStringLiteral("Conectado");
    case ListenerState::Disconnecting:
        return QStringLiteral("Desconectando");
    case ListenerState::Disconnected:
        return QStringLiteral("Desconectado");
    }
    return {};
}

bool StationServer::makeRoom() {
    const int count = static_cast<int>(threads_.size());
    if (count < maxConnections_)
        return true;
    // Closed connections keep their entry until their thread has ended; a
    // few of them may wait for that, not more.
    constexpr int kEndingAtMost = 64;
    if (count >= maxConnections_ + kEndingAtMost)
        return false;
    const qint64 now = host_.clock.steadyMs();
    ComputersGuard guard(host_.lock);
    // Entries are in the order they were accepted: the oldest come first.
    for (auto& [id, entry] : threads_) {
        if (now - entry.acceptedMs < kEvictAfterMs)
            break;
        if (entry.conn->isUp() && entry.conn->record == nullptr) {
            entry.conn->shutdown();
            ++evicted_;
            return true;
        }
    }
    return false;
}

void StationServer::accept(std::unique_ptr<platform::Stream> stream) {
    // A refused stream is dropped (closed) on return.
    const QString peer = stream->peerAddress();
    const auto fromPeer = perAddress_.find(peer);
    if (fromPeer != perAddress_.end() && fromPeer->second >= kMaxPerAddress) {
        ++refusedByAddress_[peer];
        return;
    }
    if (!makeRoom()) {
        ++refusedOverTotal_;
        return;
    }
    ++perAddress_[peer];
    auto conn = std::make_shared<StationConnection>(std::move(stream));
    conn->offersEncryption =
        security_.encrypts() && security_.mode == platform::LinkSecurity::Mode::Both;
    const quint64 id = nextId_++;
    QThread* thread = QThread::create([this, conn, id] {
        platform::Stream::StartFailure failure = platform::Stream::StartFailure::None;
        if (!conn->start(kStartTimeoutMs)) {
            host_.serve(conn);
        } else {
            failure = conn->startFailure();
            conn->markDown();
        }
        QMetaObject::invokeMethod(
            this,
            [this, id, failure, peer = conn->peerAddress()] {
                refused(failure, peer);
                finished(id);
            },
            Qt::QueuedConnection);
    });
    // Handlers need little stack; a thousand stations should not reserve
    // gigabytes of address space.
    thread->setStackSize(512 * 1024);
    threads_[id] = Entry{conn, thread, peer, host_.clock.steadyMs()};
    thread->start();
}

void StationServer::join(Entry& entry) {
    if (entry.thread != nullptr) {
        entry.thread->wait();
        delete entry.thread;
        entry.thread = nullptr;
    }
}

void StationServer::setSecurity(const platform::LinkSecurity& security) {
    security_ = security;
    host_.network.setSecurity(security);
}

void StationServer::refused(platform::Stream::StartFailure why, const QString& peer) {
    if (const auto line = refusals_.admit(why, peer, host_.clock.steadyMs()))
        host_.console(*line);
}

void StationServer::finished(quint64 id) {
    const auto it = threads_.find(id);
    if (it == threads_.end())
        return;
    join(it->second);
    const auto peer = perAddress_.find(it->second.peer);
    if (peer != perAddress_.end() && --peer->second <= 0)
        perAddress_.erase(peer);
    threads_.erase(it);
}

void StationServer::Sweep() {
    const qint64 now = host_.clock.steadyMs();
    int closed = 0;
    {
        ComputersGuard guard(host_.lock);
        for (auto& [id, entry] : threads_) {
            if (entry.conn->record == nullptr && entry.conn->isUp() &&
                now - entry.acceptedMs >= kIdentifyTimeoutMs) {
                entry.conn->shutdown();
                ++closed;
            }
        }
    }
    // One line a sweep for each kind, however many there were.
    const auto connections = [](int n) {
        return n == 1 ? QStringLiteral("1 conexión") : QStringLiteral("%1 conexiones").arg(n);
    };
    if (closed > 0)
        host_.console(
            connections(closed) +
            (closed == 1 ? QStringLiteral(" cerrada") : QStringLiteral(" cerradas")) +
            QStringLiteral(" por no identificarse en %1 segundos").arg(kIdentifyTimeoutMs / 1000));
    for (const auto& [peer, n] : refusedByAddress_)
        host_.console(
            connections(n) + QStringLiteral(" de ") + peer +
            (n == 1 ? QStringLiteral(" rechazada") : QStringLiteral(" rechazadas")) +
            QStringLiteral(" (más de %1 abiertas desde esa dirección)").arg(kMaxPerAddress));
    refusedByAddress_.clear();
    if (refusedOverTotal_ > 0)
        host_.console(connections(refusedOverTotal_) +
                      (refusedOverTotal_ == 1 ? QStringLiteral(" rechazada")
                                              : QStringLiteral(" rechazadas")) +
                      QStringLiteral(" (límite de %1 abiertas)").arg(maxConnections_));
    refusedOverTotal_ = 0;
    if (evicted_ > 0)
        host_.console(
            connections(evicted_) +
            (evicted_ == 1 ? QStringLiteral(" sin identificar cerrada")
                           : QStringLiteral(" sin identificar cerradas")) +
            QStringLiteral(" para dar lugar a otras (límite de %1 abiertas)").arg(maxConnections_));
    evicted_ = 0;
}

bool StationServer::stop() {
    sweepTimer_.stop();
    bool closed = true;
    if (listener_->isListening()) {
        Q_EMIT listenerStateChanged(ListenerState::Disconnecting);
        listener_->close();
        closed = !listener_->isListening();
        Q_EMIT listenerStateChanged(ListenerState::Disconnected);
    }
    for (auto& [id, entry] : threads_)
        entry.conn->shutdown();
    for (auto& [id, entry] : threads_)
        join(entry);
    threads_.clear();
    perAddress_.clear();
    return closed;
}

} // namespace tarvina::server
