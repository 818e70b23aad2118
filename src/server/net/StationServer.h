#pragma once

#include "platform/Clock.h"
#include "platform/Network.h"
#include "server/net/ComputersLock.h"
#include "server/net/LinkRefusals.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>

class QThread;

namespace tarvina::server {

class StationConnection;

// What the listener needs from the server it serves: the network it listens
// on, the clock, the lock that
// guards each connection's bound record, where its summaries go, and what a
// connection's thread runs until the connection ends.
struct ListenerHost {
    platform::Network& network;
    platform::Clock& clock;
    ComputersLock& lock;
    std::function<void(const QString&)> console;
    std::function<void(std::shared_ptr<StationConnection>)> serve;
};

// The listener on all local addresses and one thread per connection.
// Lives on the UI thread: the listener accepts there, hands the stream to a
// new connection thread (which starts it before serving) and forgets it; a finished thread tells
// the UI thread, which joins it (it is already on its way out) and drops it.
//
// A connection costs a thread, so they are rationed: at most kMaxConnections
// in all and kMaxPerAddress from one address (a refused one is closed at
// accept and never gets a thread), and one that has not said who it is
// within kIdentifyTimeoutMs is closed by the once-a-second sweep. When all
// places are taken, a new connection takes the place of the oldest one that
// has not identified in kEvictAfterMs (a station identifies at once), so a
// crowd of silent connections cannot keep the café's stations out.
class StationServer : public QObject {
    Q_OBJECT
public:
    // Connections beyond this are closed at once: each costs a thread.
    static constexpr int kMaxConnections = 4096;
    // A station has one connection, two while it reconnects.
    static constexpr int kMaxPerAddress = 8;
    static constexpr qint64 kIdentifyTimeoutMs = 30000;
    static constexpr qint64 kEvictAfterMs = 2000;
    // A stream that needs a handshake before its first byte gets longer than
    // a silent connection lives: the sweep closes a stalled handshake as it
    // closes a silent connection (and makeRoom evicts it alike); the limit
    // only stands in when no sweep runs.
    static constexpr int kStartTimeoutMs = kIdentifyTimeoutMs + 5000;

    enum class ListenerState { Resolving, Connecting, Connected, Disconnecting, Disconnected };

    explicit StationServer(ListenerHost host, QObject* parent = nullptr);
    ~StationServer() override;

    // Starts listening; false with errorString() when the port cannot be had.
    bool listen(quint16 port);
    bool isListening() const;
    quint16 serverPort() const;
    QString errorString() const;

    // The protection of the connections accepted from now on (the network
    // key and the mode); connections already up keep theirs, so a new key
    // shuts out only the stations that connect with the old one.
    void setSecurity(const platform::LinkSecurity& security);

    // Stops listening, ends every connection and joins every thread.
    // False, with errorString(), when the listener would not close; the
    // connections end either way.
    bool stop();

    // Connection threads that have not been joined yet.
    int threadCount() const { return static_cast<int>(threads_.size()); }
    // Tests lower the limit instead of opening thousands of connections.
    void setMaxConnections(int n) { maxConnections_ = n; }

    // The sweep (a one-second timer calls it while listening): closes the
    // connections that have not identified in time, and reports on the
    // console what was closed and refused since the last one.
    void Sweep();

    static QString ListenerStatusText(ListenerState state);

Q_SIGNALS:
    void listenerStateChanged(tarvina::server::StationServer::ListenerState state);

private:
    struct Entry {
        std::shared_ptr<StationConnection> conn;
        QThread* thread = nullptr;
        QString peer;
        qint64 acceptedMs = 0;
    };

    void accept(std::unique_ptr<platform::Stream> stream);
    // True when a new connection may have a thread, after closing the
    // oldest unidentified connection if all places are taken.
    bool makeRoom();
    void finished(quint64 id);
    void refused(platform::Stream::StartFailure why, const QString& peer);
    void join(Entry& entry);

    ListenerHost host_;
    std::unique_ptr<platform::Listener> listener_;
    std::map<quint64, Entry> threads_;
    quint64 nextId_ = 1;
    std::map<QString, int> perAddress_;
    // Refused at accept since the last sweep: by address, and for the total.
    std::map<QString, int> refusedByAddress_;
    int refusedOverTotal_ = 0;
    int evicted_ = 0;
    LinkRefusals refusals_;
    platform::LinkSecurity security_;
    int maxConnections_ = kMaxConnections;
    QTimer sweepTimer_;
};

} // namespace tarvina::server
