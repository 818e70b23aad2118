#pragma once

#include "platform/Pinger.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>

class QThread;

namespace tarvina::server {

// "Probar conexión de red...": four echo requests to a host, one after the
// other, each waiting at most a second. They run on a thread of their own so
// that the window never waits on the network; each result comes back as a
// console line on the thread that owns this object.
class NetworkTest : public QObject {
    Q_OBJECT
public:
    static constexpr int kRequests = 4;
    static constexpr int kTimeoutMs = 1000;

    explicit NetworkTest(platform::Pinger& pinger, QObject* parent = nullptr);
    ~NetworkTest() override; // stops after the request under way and waits for it

    // False (and nothing starts) while a test runs, until finished() has
    // been delivered.
    bool start(const QString& host);
    bool running() const;

    // "%d bytes de %s: icmp_seq=%d ttl=%d time%s%d ms"; a 0 ms reply reads
    // "time<1 ms".
    static QString ReplyLine(const platform::EchoReply& reply);
    static QString FailureLine(const QString& host);

Q_SIGNALS:
    void line(const QString& text);
    void finished();

private:
    platform::Pinger& pinger_;
    QThread* thread_ = nullptr;
    std::atomic<bool> stop_{false};
    bool running_ = false; // this object's thread only
};

} // namespace tarvina::server
