#include "server/net/StationServer.h"

#include "server/net/StationConnection.h"
#include "server/net/StationSession.h"

#include <QThread>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvina::server {

class StationServer::Listener final : public QTcpServer {
public:
    explicit Listener(StationServer* owner) : QTcpServer(owner), owner_(owner) {}

protected:
    void incomingConnection(qintptr fd) override { owner_->accept(fd); }

private:
    StationServer* owner_;
};

StationServer::StationServer(ServerContext& ctx, QObject* parent)
    : QObject(parent), ctx_(ctx), listener_(new Listener(this)) {
    // Many stations start at once after a power cut: a short accept queue
    // would drop their handshakes and leave them waiting on TCP back-off.
    listener_->setListenBacklogSize(1024);
}

StationServer::~StationServer() {
    stop();
}

bool StationServer::listen(quint16 port) {
    if (listener_->isListening())
        return true;
    Q_EMIT listenerStateChanged(ListenerState::Connecting);
    const bool ok = listener_->listen(QHostAddress::Any, port);
    Q_EMIT listenerStateChanged(ok ? ListenerState::Connected : ListenerState::Disconnected);
    return ok;
}

bool StationServer::isListening() const {
    return listener_->isListening();
}
quint16 StationServer::serverPort() const {
    return listener_->serverPort();
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

void StationServer::accept(qintptr fd) {
    if (static_cast<int>(threads_.size()) >= kMaxConnections) {
        ::close(static_cast<int>(fd));
        return;
    }
    // Every answer is one short line that the station waits for: holding it
    // back to coalesce with more (Nagle) only adds delay.
    const int one = 1;
    ::setsockopt(static_cast<int>(fd), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto conn = std::make_shared<StationConnection>(static_cast<int>(fd));
    const quint64 id = nextId_++;
    QThread* thread = QThread::create([this, conn, id] {
        {
            StationSession session(ctx_, conn);
            session.run();
        }
        QMetaObject::invokeMethod(
            this, [this, id] { finished(id); }, Qt::QueuedConnection);
    });
    // Handlers need little stack; a thousand stations should not reserve
    // gigabytes of address space.
    thread->setStackSize(512 * 1024);
    threads_[id] = Entry{conn, thread};
    thread->start();
}

void StationServer::join(Entry& entry) {
    if (entry.thread != nullptr) {
        entry.thread->wait();
        delete entry.thread;
        entry.thread = nullptr;
    }
}

void StationServer::finished(quint64 id) {
    const auto it = threads_.find(id);
    if (it == threads_.end())
        return;
    join(it->second);
    threads_.erase(it);
}

void StationServer::stop() {
    if (listener_->isListening()) {
        Q_EMIT listenerStateChanged(ListenerState::Disconnecting);
        listener_->close();
        Q_EMIT listenerStateChanged(ListenerState::Disconnected);
    }
    for (auto& [id, entry] : threads_)
        entry.conn->shutdown();
    for (auto& [id, entry] : threads_)
        join(entry);
    threads_.clear();
}

} // namespace tarvina::server
