#pragma once

#include "support/Wait.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>

namespace tarvina::test {

// The cashier's end of a station's connection, played by a test on loopback:
// lines out; lines and blocks (a 4-byte length in network order, then the
// bytes) back. A wait without a limit of its own takes waitMs.
class FakeCashier {
public:
    explicit FakeCashier(int waitMs = kWaitMs) : waitMs_(waitMs) {
        server_.listen(QHostAddress::LocalHost, 0);
    }
    quint16 port() const { return server_.serverPort(); }
    // The next station that connects is the one spoken to from then on.
    bool accept(int ms = -1) {
        if (!WaitUntil([&] { return server_.hasPendingConnections(); }, limit(ms)))
            return false;
        socket_ = server_.nextPendingConnection();
        buffer_.clear();
        return true;
    }
    void send(const QByteArray& line) { write(line + "\r\n"); }
    void write(const QByteArray& bytes) {
        socket_->write(bytes);
        socket_->flush();
    }
    // The next line that starts with prefix, without its line end; the lines
    // before it go by. Null when none came in time.
    QByteArray line(const QByteArray& prefix, int ms = -1) {
        QByteArray found;
        readUntil(
            [&] {
                for (qsizetype lf; found.isNull() && (lf = buffer_.indexOf('\n')) >= 0;) {
                    QByteArray l = buffer_.left(lf);
                    buffer_.remove(0, lf + 1);
                    if (l.endsWith('\r'))
                        l.chop(1);
                    if (l.startsWith(prefix))
                        found = l;
                }
                return !found.isNull();
            },
            ms);
        return found;
    }
    // The next n bytes, or as many as came in time.
    QByteArray raw(qsizetype n, int ms = -1) {
        readUntil([&] { return buffer_.size() >= n; }, ms);
        const QByteArray out = buffer_.left(n);
        buffer_.remove(0, out.size());
        return out;
    }
    // The block after the line just read; empty when it did not come.
    QByteArray block(int ms = -1) {
        const QByteArray size = raw(4, ms);
        return size.size() < 4 ? QByteArray() : raw(qFromBigEndian<quint32>(size.constData()), ms);
    }

private:
    int limit(int ms) const { return ms < 0 ? waitMs_ : ms; }
    template <typename Done> void readUntil(Done&& done, int ms) {
        WaitUntil(
            [&] {
                buffer_ += socket_->readAll();
                return done();
            },
            limit(ms));
    }

    QTcpServer server_;
    QTcpSocket* socket_ = nullptr;
    QByteArray buffer_;
    int waitMs_;
};

} // namespace tarvina::test
