// The connection side of ClientCore: the connect and receive threads, sends,
// the reconnect timers, the status handler and the soft re-initialisation.
#include "client/session/ClientCore.h"
#include "common/Cp1252.h"
#include "platform/Clock.h"
#include "protocol/Block.h"
#include "protocol/Codes.h"
#include "protocol/DateTimeText.h"
#include "protocol/Line.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <chrono>

namespace tarvina::client {

using common::DateTime;

namespace {

void Pause(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Connect attempts give up after this long (the default of the socket layer
// the station was written against is of the same order).
constexpr int kConnectTimeoutMs = 5000;

// Waits, processing the main thread's events, until done() or the deadline;
// shows the seconds left in the status bar.
template <typename Done, typename Show> void WaitWithCountdown(Done done, Show show, int seconds) {
    QDeadlineTimer deadline{std::chrono::seconds(seconds)};
    while (!done() && !deadline.hasExpired()) {
        show(static_cast<int>((deadline.remainingTime() + 999) / 1000));
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

} // namespace

bool ClientCore::SendLine(const QByteArray& line) {
    if (!link_.isConnected())
        return false;
    return link_.send(protocol::Terminate(line));
}

bool ClientCore::SendFreeMessage(const QByteArray& text) {
    if (!link_.isConnected())
        return false;
    const QByteArray head =
        protocol::Terminate(protocol::FormatToServer(protocol::ts::FreeMessage));
    const QByteArray block = protocol::EncodeBlock(text);
    if (link_.sendParts({head, block}))
        return true;
    ScheduleReconnect(true, true);
    return false;
}

// A reply: sent only while connected; a failure drops and re-arms.
bool ClientCore::sendOrReconnect(const QByteArray& line) {
    if (!link_.isConnected())
        return false;
    if (SendLine(line))
        return true;
    ScheduleReconnect(true, true);
    return false;
}

bool ClientCore::sendOrFailConn(const QByteArray& line) {
    if (!link_.isConnected())
        return false;
    if (SendLine(line))
        return true;
    setStatus(Txt::StrFailConn);
    ScheduleReconnect(true, true);
    return false;
}

void ClientCore::SendClientMessage(const QString& text) {
    sendOrReconnect("R13" + common::ToCp1252(text));
}

void ClientCore::ScheduleReconnect(bool retry, bool drop) {
    if (QThread::currentThread() != thread()) {
        // The receive thread drops at once, so no further line is read from a
        // broken stream; the timers belong to the main thread.
        if (drop)
            link_.disconnect();
        post([this, retry] { ScheduleReconnect(retry, false); });
        return;
    }
    if (drop) {
        link_.disconnect();
    }
    if (!link_.isConnected() && wasConnected_)
        ClientStatusDisconnected();
    setTimer(timChkNewConn_, retry);
}

void ClientCore::SendStatusReport() {
    const DateTime t = now();
    double remaining =
        end_.days() > 0 ? static_cast<double>(t.msecsTo(end_)) / DateTime::kMsPerDay : 0.0;
    if (remaining < 0)
        remaining = 0;
    if (!link_.isConnected())
        return;
    QByteArray line = "R02";
    line += QByteArray::number(static_cast<int>(state_));
    line += ',' + common::ToCp1252(user_);
    line += ',' + protocol::FormatDateTimeNumber(remaining);
    line += ',' + protocol::FormatDateTimeNumber(start_.days());
    line += ',' + common::ToCp1252(tag_);
    line += ',' + common::ToCp1252(env_.computerName);
    line += ',' + common::ToCp1252(env_.versionText);
    sendOrFailConn(line);
}

void ClientCore::TimChkConTick() {
    if (closing_.load())
        return;
    if (link_.isConnected()) {
        SendStatusReport();
        if (timChkCon_.interval != settings_.intConn)
            setInterval(timChkCon_, settings_.intConn);
    } else {
        if (timChkCon_.interval != settings_.intDisconn)
            setInterval(timChkCon_, settings_.intDisconn);
        ScheduleReconnect(true);
    }
}

void ClientCore::TimChkNewConnTick() {
    if (closing_.load() || connectThread_)
        return;
    setTimer(timChkNewConn_, false);
    setStatus(texts_.get(Txt::StrWithOutConn) + u'/' + texts_.get(Txt::StrRetry));
    StartConnectThread();
}

void ClientCore::StartConnectThread() {
    if (connectThread_ || closing_.load())
        return;
    connectStop_ = std::make_shared<std::atomic<bool>>(false);
    connectDone_.store(false);
    auto stop = connectStop_;
    // The thread gets its own copy of the host: the settings belong to the
    // main thread.
    const QString host = settings_.host;
    connectThread_ =
        std::make_unique<std::thread>([this, stop, host] { ConnectThreadBody(stop, host); });
}

void ClientCore::ConnectThreadBody(std::shared_ptr<std::atomic<bool>> stop, QString host) {
    if (!closing_.load() && !stop->load()) {
        setStatus(Txt::StrConnecting);
        Pause(100);
        if (link_.isConnected()) {
            post([this] { Connected(); });
        } else if (!stop->load()) {
            QString error;
            if (link_.connectTo(
                    host, env_.port, kConnectTimeoutMs, &error, [stop] { return stop->load(); },
                    env_.localAddress)) {
                Pause(50);
                post([this] { Connected(); });
            } else {
                Pause(200);
            }
        }
    }
    connectDone_.store(true);
    post([this] { ResetTryingConn(); });
}

void ClientCore::ResetTryingConn() {
    if (connectThread_ && connectDone_.load()) {
        connectThread_->join();
        connectThread_.reset();
    }
}

void ClientCore::Connected() {
    if (closing_.load() || !link_.isConnected())
        return;
    setStatus(Txt::StrSuccessConn);
    display_.lblStsPin = texts_.get(Txt::LblStsPin);
    if (!receiveThread_) {
        receiveStop_ = std::make_shared<std::atomic<bool>>(false);
        receiveDone_.store(false);
        auto stop = receiveStop_;
        receiveThread_ = std::make_unique<std::thread>([this, stop] { ReceiveThreadBody(stop); });
    }
    ClientStatusConnected();
    changed();
}

void ClientCore::ReceiveThreadBody(std::shared_ptr<std::atomic<bool>> stop) {
    Pause(100);
    const std::shared_ptr<TcpConnection> conn = link_.connection();
    QMutex* lock = dispatchLock_.get();
    while (conn && !stop->load()) {
        QByteArray line;
        const auto status = conn->readLine(line, 5, protocol::kMaxLineLength);
        if (status == TcpConnection::ReadStatus::Closed)
            break;
        if (status != TcpConnection::ReadStatus::Line || line.isEmpty())
            continue;
        QMutexLocker guard(lock);
        if (stop->load())
            break;
        Dispatch(line);
    }
    receiveDone_.store(true);
    post([this] { ReceiveThreadEnded(); });
}

void ClientCore::ReceiveThreadEnded() {
    if (receiveThread_ && receiveDone_.load()) {
        receiveThread_->join();
        receiveThread_.reset();
    }
    if (!link_.isConnected() && wasConnected_)
        ClientStatusDisconnected();
}

// The block that follows a line, read under the same dispatch. A refused or
// broken block leaves the stream out of step: the connection is dropped and
// the timers reconnect.
bool ClientCore::readBlockForDispatch(QByteArray& out) {
    // Files sent to a station are pictures, sounds and banners.
    constexpr qint64 kMaxBlock = 64LL * 1024 * 1024;
    out.clear();
    const std::shared_ptr<TcpConnection> conn = link_.connection();
    const int idle = readTimeout_.load() > 0 ? readTimeout_.load() : 30000;
    auto stop = receiveStop_;
    auto stopped = [stop, this] { return closing_.load() || (stop && stop->load()); };
    QByteArray head;
    if (conn && conn->readExact(4, head, idle, stopped)) {
        const qint32 len = protocol::DecodeInt32(head).value_or(-1);
        if (len >= 0 && len <= kMaxBlock && conn->readExact(len, out, idle, stopped))
            return true;
    }
    out.clear();
    ScheduleReconnect(true, true);
    return false;
}

void ClientCore::ClientStatusConnected() {
    wasConnected_ = true;
    UpdateMenusForConnection();
    if (timChkCon_.interval != settings_.intConn && settings_.intConn >= 0)
        setInterval(timChkCon_, settings_.intConn);
}

void ClientCore::ClientStatusDisconnected() {
    wasConnected_ = false;
    setStatus(Txt::StrWithOutConn);
    UpdateMenusForConnection();
    setTimer(timChkNewConn_, true);
}

void ClientCore::UpdateMenusForConnection() {
    const bool up = link_.isConnected();
    display_.masTiempoEnabled = up;
    display_.terminaUsoEnabled = state_ == ClientState::InUse && up;
    display_.mensajesEnabled = up && (settings_.msgAtBlock || state_ == ClientState::InUse);
    changed();
}

void ClientCore::StopThreads(bool atExit) {
    // Connect thread: told to stop, then joined (it polls the flag while it
    // connects, so this is quick).
    if (connectThread_) {
        connectStop_->store(true);
        if (!atExit) {
            WaitWithCountdown([this] { return connectDone_.load(); },
                              [this](int s) {
                                  setStatus(texts_.get(Txt::StrEndConn) + u'/' +
                                            QStringLiteral("%1").arg(s, 2, 10, QLatin1Char('0')));
                              },
                              10);
        }
        connectThread_->join();
        connectThread_.reset();
    }
    setStatus(Txt::StrCloseRecep);
    if (receiveThread_) {
        receiveStop_->store(true);
        // The receive thread must have finished its line before anything it
        // uses (DispatchLock, the connection) is replaced.
        receiveThread_->join();
        receiveThread_.reset();
    }
    setStatus(Txt::StrDisconecting);
    link_.disconnect();
    if (!atExit)
        ClientStatusDisconnected();
}

void ClientCore::SoftReinit() {
    for (TimerState* t : {&timChkCon_, &timChkNewConn_, &relojVisual_, &timTopForm_})
        setTimer(*t, false);
    setStatus(Txt::StrEndConn);
    StopThreads(false);
    // Safe now: the receive thread that used the old lock has been joined.
    dispatchLock_ = std::make_unique<QMutex>();
    StartConnectThread();
    setTimer(relojVisual_, true);
    setTimer(timChkCon_, true);
    setTimer(timTopForm_, true);
}

void ClientCore::ManifestSoftReinit() {
    lastCommand_.set(QStringLiteral("SoftReinit"));
    SoftReinit();
}

} // namespace tarvina::client
