#pragma once

#include "client/link/TcpLink.h"
#include "client/station/StationTimer.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace tarvina::client {

struct StationContext;
class StationLog;

// The station's connection to the server: the connect thread, the receive
// thread, the two reconnect timers and every send.
//
// Threads: the connect thread opens the connection and ends; the receive
// thread reads lines and hands each one to the line handler, one at a time,
// in arrival order; it is the only thread that dispatches, so dispatching
// needs no lock of its own. The main thread owns the timers and the thread
// objects; the receive thread reaches the main thread only through queued
// calls. A thread told to stop is joined before the connection it used is
// dropped or replaced.
class StationLink : public QObject {
    Q_OBJECT
public:
    using LineHandler = std::function<void(const QByteArray& line)>;

    explicit StationLink(StationContext& ctx, QObject* parent = nullptr);
    ~StationLink() override;

    // Runs on the receive thread for every non-empty line.
    void setLineHandler(LineHandler handler) { onLine_ = std::move(handler); }
    // The keep-alive report, sent by TimChkConTick while connected.
    void setStatusReporter(std::function<void()> report) { statusReport_ = std::move(report); }
    void setTimersDriven(bool on);

    // --- sending (any thread) ----------------------------------------------
    bool SendLine(const QByteArray& line);
    // The line, then its body, as one write; a failure drops and re-arms.
    bool SendLineAndBody(const QByteArray& line, const QByteArray& body);
    // "R14" + the text as a block.
    bool SendFreeMessage(const QByteArray& text);
    // A reply: sent only while connected; a failure drops and re-arms.
    bool SendReply(const QByteArray& line);
    // As SendReply, and a failure also shows "falla de conexión".
    bool SendReport(const QByteArray& line);
    void SendClientMessage(const QString& text);
    void ScheduleReconnect(bool retry, bool drop = false);
    // The block that follows a line, read on the receive thread inside the
    // line's dispatch. A refused or broken block leaves the stream out of
    // step: the connection is dropped and the timers reconnect.
    bool ReadBlock(QByteArray& out);

    // --- connection (main thread) ---------------------------------------------
    void TimChkConTick();
    void TimChkNewConnTick();
    void StartConnectThread();
    // Stops both threads, drops the connection and connects again.
    void Restart();
    // Stops both threads and drops the connection, for good.
    void Stop();
    void setKeepAliveEnabled(bool on) { timChkCon_.setEnabled(on); }
    void stopTimers();
    // The host connected to stays the one in force now, whatever the
    // settings say, until the program starts again.
    void KeepHostUntilRestart();
    // The host the next connect thread tries.
    QString hostInForce() const;
    void SetHost(const QString& host);
    // The intervals and the time-out of the settings take effect (a
    // negative value keeps the one in force).
    void ApplySettings();

    bool connected() const { return link_.isConnected(); }
    // Inside Restart or Stop (their wait runs the main thread's events).
    bool stopping() const { return stopping_; }
    bool connectThreadRunning() const { return connectThread_ != nullptr; }
    bool receiveThreadRunning() const { return receiveThread_ != nullptr; }
    int timChkConInterval() const { return timChkCon_.interval(); }
    bool timChkNewConnEnabled() const { return timChkNewConn_.enabled(); }

Q_SIGNALS:
    // The connection came up or went down (menus follow it).
    void connectionChanged();

private:
    QString keptHost_; // empty: the settings' host
    template <typename F> void post(F&& f) {
        QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::QueuedConnection);
    }
    void ConnectThreadBody(std::shared_ptr<std::atomic<bool>> stop, QString host);
    void ReceiveThreadBody(std::shared_ptr<TcpConnection> conn,
                           std::shared_ptr<std::atomic<bool>> stop);
    void Connected();
    void ResetTryingConn();
    void ReceiveThreadEnded();
    void StatusConnected();
    void StatusDisconnected();
    void StopThreads(bool atExit);

    StationContext& ctx_;
    LineHandler onLine_;
    std::function<void()> statusReport_;
    TcpLink link_;
    std::unique_ptr<std::thread> connectThread_;
    std::shared_ptr<std::atomic<bool>> connectStop_;
    std::atomic<bool> connectDone_{false};
    std::unique_ptr<std::thread> receiveThread_;
    std::shared_ptr<std::atomic<bool>> receiveStop_;
    std::shared_ptr<TcpConnection> receiveConn_;
    std::atomic<bool> receiveDone_{false};
    // Set while StopThreads runs: its wait pumps the main thread's events,
    // and the calls queued by the threads being stopped must not act then.
    bool stopping_ = false;
    bool wasConnected_ = false;
    StationTimer timChkCon_, timChkNewConn_;
    // The read time-out, read by the receive thread.
    std::atomic<int> readTimeout_{0};
};

// The drives could not be kept from the customer: the log, the console's
// line with the reason and the cashier's notice.
void ReportHiddenDrivesFailure(StationLink& link, StationLog& log, const QString& why);

} // namespace tarvina::client
