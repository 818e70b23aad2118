#pragma once

#include "server/net/ServerContext.h"

#include <QObject>
#include <QString>
#include <QTcpServer>
#include <map>
#include <memory>

class QThread;

namespace tarvina::server {

class StationConnection;

// The TCP listener on all local addresses and one thread per connection.
// Lives on the UI thread: the listener accepts there, hands the descriptor
// to a new connection thread and forgets it; a finished thread tells the UI
// thread, which joins it (it is already on its way out) and drops it.
class StationServer : public QObject {
    Q_OBJECT
public:
    // Connections beyond this are closed at once: each costs a thread.
    static constexpr int kMaxConnections = 4096;

    enum class ListenerState { Resolving, Connecting, Connected, Disconnecting, Disconnected };

    explicit StationServer(ServerContext& ctx, QObject* parent = nullptr);
    ~StationServer() override;

    // Starts listening; false with errorString() when the port cannot be had.
    bool listen(quint16 port);
    bool isListening() const;
    quint16 serverPort() const;
    QString errorString() const;

    // Stops listening, ends every connection and joins every thread.
    void stop();

    // Connection threads that have not been joined yet.
    int threadCount() const { return static_cast<int>(threads_.size()); }

    static QString ListenerStatusText(ListenerState state);

Q_SIGNALS:
    void listenerStateChanged(tarvina::server::StationServer::ListenerState state);

private:
    class Listener;
    struct Entry {
        std::shared_ptr<StationConnection> conn;
        QThread* thread = nullptr;
    };

    void accept(qintptr fd);
    void finished(quint64 id);
    void join(Entry& entry);

    ServerContext& ctx_;
    Listener* listener_;
    std::map<quint64, Entry> threads_;
    quint64 nextId_ = 1;
};

} // namespace tarvina::server
