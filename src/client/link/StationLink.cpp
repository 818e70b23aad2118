#include "client/link/StationLink.h"

#include "client/station/StationContext.h"
#include "client/station/StationLog.h"
#include "client/station/StationView.h"
#include "common/Cp1252.h"
#include "protocol/Block.h"
#include "protocol/Line.h"
#include "protocol/StationLines.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <chrono>

namespace tarvina::client {

namespace {

void Pause(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Connect attempts give up after this long (the default of the socket layer
// the station was written against is of the same order).
constexpr int kConnectTimeoutMs = 5000;

// Files sent to a station are pictures, sounds and banners.
constexpr qint64 kMaxBlock = 64LL * 1024 * 1024;

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

StationLink::StationLink(StationContext& ctx, QObject* parent)
    : QObject(parent), ctx_(ctx), link_(ctx.platform.network),
      timChkCon_(this, [this] { TimChkConTick(); }),
      timChkNewConn_(this, [this] { TimChkNewConnTick(); }) {
    timChkCon_.setInterval(ctx_.settings.intDisconn);
    timChkNewConn_.setInterval(ctx_.settings.intNewConn);
}

StationLink::~StationLink() {
    Stop();
}

void StationLink::setTimersDriven(bool on) {
    timChkCon_.setDriven(on);
    timChkNewConn_.setDriven(on);
}

void StationLink::stopTimers() {
    timChkCon_.setEnabled(false);
    timChkNewConn_.setEnabled(false);
}

bool StationLink::SendLine(const QByteArray& line) {
    if (!link_.isConnected())
        return false;
    return link_.send(protocol::Terminate(line));
}

bool StationLink::SendLineAndBody(const QByteArray& line, const QByteArray& body) {
    if (!link_.isConnected())
        return false;
    if (link_.sendParts({protocol::Terminate(line), body}))
        return true;
    ctx_.view.setStatus(Txt::StrFailConn);
    ScheduleReconnect(true, true);
    return false;
}

bool StationLink::SendFreeMessage(const QByteArray& text) {
    if (!link_.isConnected())
        return false;
    const QByteArray head = protocol::Terminate(protocol::station::FreeMessageHead());
    const QByteArray block = protocol::EncodeBlock(text);
    if (link_.sendParts({head, block}))
        return true;
    ScheduleReconnect(true, true);
    return false;
}

bool StationLink::SendReply(const QByteArray& line) {
    if (!link_.isConnected())
        return false;
    if (SendLine(line))
        return true;
    ScheduleReconnect(true, true);
    return false;
}

bool StationLink::SendReport(const QByteArray& line) {
    if (!link_.isConnected())
        return false;
    if (SendLine(line))
        return true;
    ctx_.view.setStatus(Txt::StrFailConn);
    ScheduleReconnect(true, true);
    return false;
}

void StationLink::SendClientMessage(const QString& text) {
    SendReply(protocol::station::ClientMessage(common::ToCp1252(text)));
}

void StationLink::ScheduleReconnect(bool retry, bool drop) {
    if (QThread::currentThread() != thread()) {
        // The receive thread drops at once, so no further line is read from a
        // broken stream; the timers belong to the main thread.
        if (drop)
            link_.disconnect();
        post([this, retry] { ScheduleReconnect(retry, false); });
        return;
    }
    if (drop) {
        ctx_.log.lastCommand().set(QStringLiteral("Reintento"));
        link_.disconnect();
    }
    if (!link_.isConnected() && wasConnected_)
        StatusDisconnected();
    timChkNewConn_.setEnabled(retry);
}

bool StationLink::ReadBlock(QByteArray& out) {
    out.clear();
    const std::shared_ptr<TcpConnection> conn = link_.connection();
    const int idle = readTimeout_.load() > 0 ? readTimeout_.load() : 30000;
    const auto stop = receiveStop_;
    auto stopped = [stop, this] { return ctx_.closing.load() || (stop && stop->load()); };
    QByteArray head;
    if (conn && conn->readExact(4, head, idle, stopped)) {
        const qint32 len = protocol::DecodeInt32(head).value_or(-1);
        if (len >= 0 && len <= kMaxBlock && conn->readExact(len, out, idle, stopped))
            return true;
        // Nothing of a refused block is read: the stream is out of step.
        if (len < 0 || len > kMaxBlock)
            ctx_.log.LogException(QStringLiteral("Bloque rechazado (%1 bytes, máximo %2); se "
                                                 "cierra la conexión.")
                                      .arg(len)
                                      .arg(kMaxBlock));
    }
    out.clear();
    ScheduleReconnect(true, true);
    return false;
}

void StationLink::TimChkConTick() {
    if (ctx_.closing.load())
        return;
    if (link_.isConnected()) {
        if (statusReport_)
            statusReport_();
        if (timChkCon_.interval() != ctx_.settings.intConn)
            timChkCon_.setInterval(ctx_.settings.intConn);
    } else {
        if (timChkCon_.interval() != ctx_.settings.intDisconn)
            timChkCon_.setInterval(ctx_.settings.intDisconn);
        ScheduleReconnect(true);
    }
}

void StationLink::TimChkNewConnTick() {
    if (ctx_.closing.load() || connectThread_)
        return;
    timChkNewConn_.setEnabled(false);
    // A refused key stays in sight while the station keeps trying.
    if (!link_.lastFailedOnKey())
        ctx_.view.setStatus(ctx_.view.text(Txt::StrWithOutConn) + u'/' +
                            ctx_.view.text(Txt::StrRetry));
    StartConnectThread();
}

void StationLink::StartConnectThread() {
    if (connectThread_ || ctx_.closing.load())
        return;
    connectStop_ = std::make_shared<std::atomic<bool>>(false);
    connectDone_.store(false);
    auto stop = connectStop_;
    // The thread gets its own copy of the host: the settings belong to the
    // main thread.
    const QString host = hostInForce();
    connectThread_ =
        std::make_unique<std::thread>([this, stop, host] { ConnectThreadBody(stop, host); });
}

void StationLink::ConnectThreadBody(std::shared_ptr<std::atomic<bool>> stop, QString host) {
    if (!ctx_.closing.load() && !stop->load()) {
        if (!link_.lastFailedOnKey())
            ctx_.view.setStatus(Txt::StrConnecting);
        Pause(100);
        if (link_.isConnected()) {
            post([this] { Connected(); });
        } else if (!stop->load()) {
            QString error;
            if (link_.connectTo(
                    host, ctx_.env.port, kConnectTimeoutMs, &error, [stop] { return stop->load(); },
                    ctx_.env.localAddress)) {
                // The connection's own "connected" event: it settles, then
                // says so, before the receive thread starts.
                Pause(300);
                ctx_.view.setStatus(Txt::StrConnecting);
                Pause(50);
                post([this] { Connected(); });
            } else {
                if (link_.lastFailedOnKey())
                    ctx_.view.setStatus(QStringLiteral("Clave de red incorrecta"));
                Pause(200);
            }
        }
    }
    connectDone_.store(true);
    post([this] { ResetTryingConn(); });
}

void StationLink::ResetTryingConn() {
    if (stopping_)
        return; // StopThreads joins it itself
    if (connectThread_ && connectDone_.load()) {
        connectThread_->join();
        connectThread_.reset();
    }
}

void StationLink::Connected() {
    if (stopping_ || ctx_.closing.load() || !link_.isConnected())
        return;
    ctx_.view.setStatus(Txt::StrSuccessConn);
    ctx_.view.display().lblStsPin = ctx_.view.text(Txt::LblStsPin);
    if (!receiveThread_) {
        receiveStop_ = std::make_shared<std::atomic<bool>>(false);
        receiveConn_ = link_.connection();
        receiveDone_.store(false);
        auto stop = receiveStop_;
        auto conn = receiveConn_;
        receiveThread_ =
            std::make_unique<std::thread>([this, conn, stop] { ReceiveThreadBody(conn, stop); });
    }
    StatusConnected();
    ctx_.view.changed();
}

void StationLink::ReceiveThreadBody(std::shared_ptr<TcpConnection> conn,
                                    std::shared_ptr<std::atomic<bool>> stop) {
    Pause(100);
    while (conn && !stop->load()) {
        QByteArray line;
        // Blocks until data comes, the connection ends or StopThreads wakes it.
        const auto status = conn->readLine(line, -1, protocol::kMaxLineLength);
        if (status == TcpConnection::ReadStatus::Closed)
            break;
        if (status != TcpConnection::ReadStatus::Line || line.isEmpty())
            continue;
        if (stop->load())
            break;
        if (onLine_)
            onLine_(line);
    }
    receiveDone_.store(true);
    post([this] { ReceiveThreadEnded(); });
}

void StationLink::ReceiveThreadEnded() {
    if (stopping_)
        return;
    if (receiveThread_ && receiveDone_.load()) {
        receiveThread_->join();
        receiveThread_.reset();
        receiveConn_.reset();
    }
    if (!link_.isConnected() && wasConnected_)
        StatusDisconnected();
}

void StationLink::StatusConnected() {
    wasConnected_ = true;
    Q_EMIT connectionChanged();
    if (timChkCon_.interval() != ctx_.settings.intConn && ctx_.settings.intConn >= 0)
        timChkCon_.setInterval(ctx_.settings.intConn);
}

void StationLink::StatusDisconnected() {
    wasConnected_ = false;
    ctx_.view.setStatus(Txt::StrEndConn);
    ctx_.view.setStatus(Txt::StrWithOutConn);
    Q_EMIT connectionChanged();
    timChkNewConn_.setEnabled(true);
}

void StationLink::StopThreads(bool atExit) {
    stopping_ = true;
    // "Fin de conexión/09": the seconds a step may still take, shown while it
    // waits (the receive step once: it ends as soon as the thread is told).
    auto countdown = [this](Txt step, int seconds) {
        ctx_.view.setStatus(ctx_.view.text(step) + u'/' +
                            QStringLiteral("%1").arg(seconds, 2, 10, QLatin1Char('0')));
    };
    // Connect thread: told to stop, then joined (it polls the flag while it
    // connects, so this is quick).
    if (connectThread_) {
        connectStop_->store(true);
        if (!atExit)
            WaitWithCountdown([this] { return connectDone_.load(); },
                              [&](int s) { countdown(Txt::StrEndConn, s); }, 10);
        connectThread_->join();
        connectThread_.reset();
    }
    if (!atExit)
        ctx_.log.lastCommand().set(QStringLiteral("SoftReinit(2)"));
    ctx_.view.setStatus(Txt::StrCloseRecep);
    if (receiveThread_) {
        receiveStop_->store(true);
        if (receiveConn_)
            receiveConn_->wakeReader();
        if (!atExit)
            countdown(Txt::StrCloseRecep, 10);
        // The receive thread must have finished its line before anything it
        // uses (the connection, the handler's objects) is replaced.
        receiveThread_->join();
        receiveThread_.reset();
        receiveConn_.reset();
    }
    if (!atExit)
        ctx_.log.lastCommand().set(QStringLiteral("SoftReinit(3)"));
    ctx_.view.setStatus(Txt::StrDisconecting);
    if (link_.isConnected() && !atExit)
        countdown(Txt::StrDisconecting, 10);
    link_.disconnect();
    stopping_ = false;
    if (!atExit)
        StatusDisconnected();
}

void StationLink::Restart() {
    // A second restart queued behind the first finds the work done; one
    // arriving while the first waits is dropped (the first reconnects).
    if (stopping_)
        return;
    StopThreads(false);
    StartConnectThread();
}

void StationLink::Stop() {
    StopThreads(true);
}

QString StationLink::hostInForce() const {
    return keptHost_.isEmpty() ? ctx_.settings.host : keptHost_;
}

void StationLink::KeepHostUntilRestart() {
    if (keptHost_.isEmpty())
        keptHost_ = ctx_.settings.host;
}

void StationLink::SetHost(const QString& host) {
    keptHost_.clear();
    ctx_.settings.host = host.trimmed().isEmpty() ? QStringLiteral("127.0.0.1") : host.trimmed();
}

void StationLink::ApplySettings() {
    const ClientSettings& s = ctx_.settings;
    // Connected, the keep-alive runs at the connected interval; otherwise at
    // the disconnected one.
    const int keepAlive = connected() ? s.intConn : s.intDisconn;
    if (keepAlive >= 0 && timChkCon_.interval() != keepAlive)
        timChkCon_.setInterval(keepAlive);
    if (s.intNewConn >= 0)
        timChkNewConn_.setInterval(s.intNewConn);
    if (s.timeout >= 0) {
        readTimeout_.store(s.timeout);
        link_.setWriteTimeout(s.timeout > 0 ? s.timeout : 10000);
    }
    link_.setSecurity(SecurityOf(s));
}

void ReportHiddenDrivesFailure(StationLink& link, StationLog& log, const QString& why) {
    log.lastCommand().set(QStringLiteral("SetDiskState(2)"));
    log.LogException(QStringLiteral("SetDiskState ") + why);
    link.SendClientMessage(QStringLiteral("No fue posible ocultar las unidades de disco: ") + why);
    link.SendFreeMessage(
        common::ToCp1252(u"Falla al ocultar unidades de disco. Ver mensaje en consola."));
}

} // namespace tarvina::client
