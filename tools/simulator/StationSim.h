#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSslSocket>
#include <QString>
#include <functional>

namespace tarvina::sim {

// A customer station on the client side of the protocol, event-driven on the
// thread it lives in (many of them share one thread). It connects, answers
// MacQuery, Hello, StatusQuery and PinQuery from its configuration, reports
// its state, sends scripted lines and blocks, and keeps every line it gets.
// With a key it is connected once its TLS handshake is done; a handshake
// the server refuses leaves it disconnected with handshakeFailed().
class StationSim : public QObject {
    Q_OBJECT
public:
    struct Config {
        QByteArray name = "PC1";
        QByteArray mac = "00-11-22-33-44-55";
        int state = 1;
        QByteArray user;
        QByteArray timeLeft = "0";
        QByteArray start = "0";
        QByteArray tag = "-1";
        QByteArray version = "V 3.0 (B 0.0)";
        QByteArray pin;
        // Source address to connect from ("127.0.0.7"); empty: any.
        QString localAddress;
        // Answer 48 and 01 on their own (the 100 ms pause of a real station
        // is left out unless identifyDelayMs says otherwise).
        bool answerHandshake = true;
        bool answerStatusQuery = true;
        bool answerPinQuery = true;
        int identifyDelayMs = 0;
        // The network key's pre-shared key: with one the station speaks TLS
        // (as puesto with a key does), without one plain.
        QByteArray psk;
    };

    struct Received {
        QByteArray line;
        qint64 atMs; // on the simulator's steady clock
    };

    explicit StationSim(Config config, QObject* parent = nullptr);

    Config& config() { return config_; }
    void connectTo(const QString& host, quint16 port);
    void disconnectFromServer();
    void abort();
    bool isConnected() const;
    bool handshakeFailed() const { return handshakeFailed_; }

    // A line (CR LF added), raw bytes, a block (length and bytes).
    void sendLine(const QByteArray& line);
    void sendRaw(const QByteArray& bytes);
    void sendBlock(const QByteArray& content);
    void sendStatusReport();
    QByteArray statusReportLine() const;

    const QList<Received>& received() const { return received_; }
    QList<QByteArray> lines() const;
    void clearReceived() { received_.clear(); }
    // Lines received that start with prefix.
    int count(const QByteArray& prefix) const;
    qint64 nowMs() const { return clock_.elapsed(); }

    // Runs the event loop until pred holds or the time runs out.
    static bool WaitFor(const std::function<bool()>& pred, int timeoutMs);
    bool waitForLine(const QByteArray& prefix, int timeoutMs, int atLeast = 1);
    bool waitConnected(int timeoutMs);
    bool waitDisconnected(int timeoutMs);

    // When set, every received line is printed to standard output.
    void setEcho(bool on) { echo_ = on; }

Q_SIGNALS:
    void lineReceived(const QByteArray& line);
    void connected();
    void disconnected();

private:
    void onReadyRead();
    void answer(const QByteArray& line);

    Config config_;
    QSslSocket socket_;
    QByteArray buffer_;
    QList<Received> received_;
    QElapsedTimer clock_;
    bool echo_ = false;
    bool wasConnected_ = false;
    bool handshakeFailed_ = false;
};

} // namespace tarvina::sim
