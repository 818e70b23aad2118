#include "simulator/StationSim.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSslConfiguration>
#include <QSslPreSharedKeyAuthenticator>
#include <QTimer>
#include <QtEndian>
#include <cstdio>

namespace tarvina::sim {

StationSim::StationSim(Config config, QObject* parent)
    : QObject(parent), config_(std::move(config)) {
    clock_.start();
    connect(&socket_, &QTcpSocket::readyRead, this, &StationSim::onReadyRead);
    connect(&socket_, &QTcpSocket::connected, this, [this] {
        if (!config_.psk.isEmpty())
            return; // connected once encrypted
        wasConnected_ = true;
        Q_EMIT connected();
    });
    connect(&socket_, &QSslSocket::encrypted, this, [this] {
        wasConnected_ = true;
        Q_EMIT connected();
    });
    connect(&socket_, &QSslSocket::preSharedKeyAuthenticationRequired, this,
            [this](QSslPreSharedKeyAuthenticator* auth) {
                auth->setIdentity("tarvina");
                auth->setPreSharedKey(config_.psk);
            });
    connect(&socket_, &QSslSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (!config_.psk.isEmpty() && !wasConnected_ && e != QAbstractSocket::RemoteHostClosedError)
            handshakeFailed_ = true;
    });
    connect(&socket_, &QTcpSocket::disconnected, this, &StationSim::disconnected);
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

void StationSim::connectTo(const QString& host, quint16 port) {
    if (!config_.localAddress.isEmpty())
        socket_.bind(QHostAddress(config_.localAddress), 0);
    handshakeFailed_ = false;
    if (config_.psk.isEmpty()) {
        socket_.connectToHost(host, port);
        return;
    }
    QSslConfiguration tls = socket_.sslConfiguration();
    // The toolkit's socket offers a pre-shared key in TLS 1.2 only (puesto's
    // own stream uses TLS 1.3), and leaves the key-only suites out of its
    // defaults.
    tls.setProtocol(QSsl::TlsV1_2);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    tls.setCiphers(QStringLiteral("ECDHE-PSK-CHACHA20-POLY1305"));
    socket_.setSslConfiguration(tls);
    socket_.connectToHostEncrypted(host, port);
}

void StationSim::disconnectFromServer() {
    socket_.disconnectFromHost();
}
void StationSim::abort() {
    socket_.abort();
}

bool StationSim::isConnected() const {
    return socket_.state() == QAbstractSocket::ConnectedState &&
           (config_.psk.isEmpty() || socket_.isEncrypted());
}

void StationSim::sendLine(const QByteArray& line) {
    sendRaw(line + "\r\n");
}

void StationSim::sendRaw(const QByteArray& bytes) {
    socket_.write(bytes);
    socket_.flush();
}

void StationSim::sendBlock(const QByteArray& content) {
    char len[4];
    qToBigEndian(static_cast<qint32>(content.size()), len);
    sendRaw(QByteArray(len, 4) + content);
}

QByteArray StationSim::statusReportLine() const {
    return "R02" + QByteArray::number(config_.state) + "," + config_.user + "," + config_.timeLeft +
           "," + config_.start + "," + config_.tag + "," + config_.name + "," + config_.version;
}

void StationSim::sendStatusReport() {
    sendLine(statusReportLine());
}

QList<QByteArray> StationSim::lines() const {
    QList<QByteArray> out;
    for (const Received& r : received_)
        out.append(r.line);
    return out;
}

int StationSim::count(const QByteArray& prefix) const {
    int n = 0;
    for (const Received& r : received_)
        if (r.line.startsWith(prefix))
            ++n;
    return n;
}

bool StationSim::WaitFor(const std::function<bool()>& pred, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    // Sleeps in the event loop until something happens, instead of spinning
    // a core that the programs under test need: what arrives is handled (and
    // pred looked at) at once; the beat wakes the loop for conditions that
    // come with no event of this thread (a file, another process).
    QTimer beat;
    beat.start(5);
    while (!pred()) {
        if (deadline.hasExpired())
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents();
    }
    return true;
}

bool StationSim::waitForLine(const QByteArray& prefix, int timeoutMs, int atLeast) {
    return WaitFor([&] { return count(prefix) >= atLeast; }, timeoutMs);
}

bool StationSim::waitConnected(int timeoutMs) {
    return WaitFor([&] { return isConnected(); }, timeoutMs);
}

bool StationSim::waitDisconnected(int timeoutMs) {
    return WaitFor(
        [&] { return wasConnected_ && socket_.state() == QAbstractSocket::UnconnectedState; },
        timeoutMs);
}

void StationSim::onReadyRead() {
    buffer_ += socket_.readAll();
    for (;;) {
        const qsizetype lf = buffer_.indexOf('\n');
        if (lf < 0)
            break;
        QByteArray line = buffer_.left(lf);
        buffer_.remove(0, lf + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        received_.append({line, clock_.elapsed()});
        if (echo_) {
            std::printf("< %s\n", line.constData());
            std::fflush(stdout);
        }
        Q_EMIT lineReceived(line);
        answer(line);
    }
    // A server never sends more than a line's worth without a line feed.
    if (buffer_.size() > 1 << 20)
        buffer_.clear();
}

void StationSim::answer(const QByteArray& line) {
    const QByteArray code = line.left(2);
    if (code == "48" && config_.answerHandshake) {
        sendLine("R48" + config_.mac);
    } else if (code == "01" && config_.answerHandshake) {
        if (config_.identifyDelayMs > 0)
            QTimer::singleShot(config_.identifyDelayMs, this,
                               [this] { sendLine("R01" + config_.name); });
        else
            sendLine("R01" + config_.name);
    } else if (code == "02" && config_.answerStatusQuery) {
        sendStatusReport();
    } else if (code == "41" && config_.answerPinQuery) {
        sendLine("R41" + config_.pin);
    }
}

} // namespace tarvina::sim
