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
    return running_;
}

bool NetworkTest::start(const QString& host) {
    if (running_)
        return false;
    if (thread_) {
        thread_->wait(); // it has ended: its finished() came through
        delete thread_;
    }
    running_ = true;
    stop_ = false;
    thread_ = QThread::create([this, host] {
        for (int seq = 1; seq <= kRequests && !stop_; ++seq) {
            const auto reply = pinger_.echo(host, seq, kTimeoutMs);
            // Handed to this object's thread, in order: every receiver gets
            // the lines there.
            const QString text = reply ? ReplyLine(*reply) : FailureLine(host);
            QMetaObject::invokeMethod(
                this, [this, text] { Q_EMIT line(text); }, Qt::QueuedConnection);
        }
    });
    // Delivered on this object's thread after the last line: a new test may
    // start from then on.
    connect(thread_, &QThread::finished, this, [this] {
        running_ = false;
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
