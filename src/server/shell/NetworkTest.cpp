#include "server/shell/NetworkTest.h"

#include <QThread>

namespace tarvina::server {

NetworkTest::NetworkTest(platform::Pinger& pinger, QObject* parent)
    : QObject(parent), pinger_(pinger) {}

NetworkTest::~NetworkTest() {
    stop_ = true;
    if (thread_) {
        thread_->wait();
        delete thread_;
    }
}

bool NetworkTest::running() const {
    return thread_ != nullptr && !thread_->isFinished();
}

bool NetworkTest::start(const QString& host) {
    if (running())
        return false;
    delete thread_;
    stop_ = false;
    thread_ = QThread::create([this, host] {
        for (int seq = 1; seq <= kRequests && !stop_; ++seq) {
            const auto reply = pinger_.echo(host, seq, kTimeoutMs);
            // Emitted from this thread: receivers on the window's thread get
            // the lines queued, in order.
            Q_EMIT line(reply ? ReplyLine(*reply) : FailureLine(host));
        }
        Q_EMIT finished();
    });
    thread_->start();
    return true;
}

QString NetworkTest::ReplyLine(const platform::EchoReply& r) {
    const bool zero = r.timeMs <= 0;
    // One pass over the markers: an address never adds markers of its own.
    return QStringLiteral("%1 bytes de %2: icmp_seq=%3 ttl=%4 time%5%6 ms")
        .arg(QString::number(r.bytes), r.from, QString::number(r.sequence), QString::number(r.ttl),
             zero ? QStringLiteral("<") : QStringLiteral("="),
             QString::number(zero ? 1 : r.timeMs));
}

QString NetworkTest::FailureLine(const QString& host) {
    return QStringLiteral("falla ->") + host;
}

} // namespace tarvina::server
