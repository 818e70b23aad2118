#include "server/shell/ServerCore.h"

#include "common/Currency.h"
#include "common/Format.h"
#include "server/computers/RecordOps.h"
#include "server/computers/Senders.h"
#include "server/computers/StepFailure.h"
#include "server/net/StationConnection.h"
#include "server/session/StationSession.h"
#include "server/session/TimeAssignment.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

namespace tarvina::server {

using common::DateTime;

ServerCore::ServerCore(platform::Clock& clock, platform::Registry& registry,
                       platform::Network& network, QString programFolder, QString workFolder,
                       QObject* parent)
    : QObject(parent), StationFront(clock, std::move(programFolder), std::move(workFolder)),
      store_(registry),
      server_(ListenerHost{network, clock_, registry_.lock(),
                           [this](const QString& text) { ctx_.console(nullptr, text); },
                           [this](std::shared_ptr<StationConnection> conn) {
                               StationSession session(ctx_, std::move(conn));
                               session.run();
                           }}),
      activityLog_(workFolder_), port_(PortFromEnvironment()) {
    handoff_.setWake([this] {
        QMetaObject::invokeMethod(this, &ServerCore::drainHandOff, Qt::QueuedConnection);
    });
    connect(&server_, &StationServer::listenerStateChanged, this,
            [this](StationServer::ListenerState s) {
                if (!closing())
                    setStatus(0, StationServer::ListenerStatusText(s));
            });
    connect(&model_, &ComputersModel::stateLabelChanged, this, &ServerCore::actionsMayChange);
    statusTexts_[1] = QStringLiteral("localhost");
    showConnectionCount(0);
    addOwnSteps();
    addViewSteps();
}

void ServerCore::addOwnSteps() {
    using Step = IdlePass::Step;
    idlePass().add(Step::CloseRequest, [this] {
        if (!closeRequested_)
            return;
        closeRequested_ = false;
        ctx_.closing = true;
        if (hooks_.closeMainWindow)
            hooks_.closeMainWindow();
    });
    // The listener comes back unless an unclean close is pending.
    idlePass().add(Step::Listener, [this] {
        if (!closing() && listenerArmed_ && !server_.isListening() && !crashSuspected())
            startListener();
    });
    // Once; the listener waits for it.
    idlePass().add(Step::UncleanCloseNotice, [this] {
        if (!crashSuspected() || noticePosted_)
            return;
        noticePosted_ = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (hooks_.uncleanCloseNotice)
                    hooks_.uncleanCloseNotice();
                setCrashSuspected(false);
                listenerArmed_ = true;
                scheduleIdle();
            },
            Qt::QueuedConnection);
    });
    idlePass().add(Step::Tally, [this] { lowerTally(); });
}

// The steps that hand the views what they wait for.
void ServerCore::addViewSteps() {
    using Step = IdlePass::Step;
    idlePass().add(Step::FirstRun, [this] {
        if (!settings_.firstRun)
            return;
        settings_.firstRun = false;
        if (hooks_.firstRunJump)
            hooks_.firstRunJump();
    });
    idlePass().add(Step::TaskList, [this] {
        if (!taskListSlot_)
            return;
        const TaskListSlot slot = *taskListSlot_;
        taskListSlot_.reset();
        if (hooks_.taskList)
            hooks_.taskList(slot.record, slot.payload);
    });
    idlePass().add(Step::RemoteConfig, [this] {
        if (remoteConfigSlot_ == nullptr)
            return;
        TCompItem* r = remoteConfigSlot_;
        remoteConfigSlot_ = nullptr;
        QueryTransparency(ctx_, r);
        if (hooks_.remoteConfig)
            hooks_.remoteConfig(r);
    });
    idlePass().add(Step::Volume, [this] {
        if (!volumeSlot_)
            return;
        const VolumeSlot slot = *volumeSlot_;
        volumeSlot_.reset();
        if (hooks_.volume)
            hooks_.volume(slot.record, slot.left, slot.right);
    });
    idlePass().add(Step::Minimize, [this] {
        if (!minimizeRequested_)
            return;
        minimizeRequested_ = false;
        if (hooks_.minimize)
            hooks_.minimize();
    });
}

ServerCore::~ServerCore() {
    ctx_.closing = true;
    server_.stop();
    handoff_.setWake({});
}

quint16 ServerCore::PortFromEnvironment() {
    bool ok = false;
    const int p = qEnvironmentVariableIntValue("TARVINA_PORT", &ok);
    if (ok && p >= 0 && p < 65536)
        return static_cast<quint16>(p);
    return kDefaultPort;
}

QString ListeningText(quint16 port) {
    return QStringLiteral("Escuchando en el puerto ") + QString::number(port);
}

QString ServerCore::TrayHintText(int n) {
    const QString version = ProgramVersionText();
    if (n == 0)
        return QStringLiteral("ZU Tarvina sin conexiones\rEstándar ") + version;
    if (n == 1)
        return QStringLiteral("ZU Tarvina 1 conexión\rEstándar ") + version;
    return QStringLiteral("ZU Tarvina ") + QString::number(n) +
           QStringLiteral(" conexiones\rEstándar ") + version;
}

QString ServerCore::statusText(int panel) const {
    return panel >= 0 && panel < 4 ? statusTexts_[panel] : QString();
}

void ServerCore::setStatus(int panel, const QString& text) {
    statusTexts_[panel] = text;
    Q_EMIT statusTextChanged(panel, text);
}

void ServerCore::showConnectionCount(int n) {
    connectionCount_ = n;
    setStatus(2, QString::number(n));
    Q_EMIT trayHintChanged(TrayHintText(n));
}

void ServerCore::applySettings(const ServerSettings& s) {
    settings_ = s;
    // The business's currency is the one every amount of this process is
    // written in, from the start and from the moment the cashier changes it.
    common::SetCurrencySymbol(s.moneda);
    {
        ComputersGuard guard(registry_.lock());
        ClientParams& p = registry_.clientParams();
        p.serviceMode = s.serviceMode;
        p.clienteModo = s.clienteModo;
        p.clienteVal = s.clienteVal;
        p.clientInit = s.clientInit;
    }
    SetServiceMode(s.serviceMode);
    server_.setSecurity(SecurityOf(s));
}

void ServerCore::SetServiceMode(int mode) {
    settings_.serviceMode = mode;
    {
        ComputersGuard guard(registry_.lock());
        registry_.clientParams().serviceMode = mode;
    }
    Q_EMIT serviceModeChanged(mode);
}

void ServerCore::startUp(const std::function<bool(const QString&)>& logTooBig) {
    lastCommand_.set(QStringLiteral("TfrmZUCaja.FormCreate(Sender: TObject);"));
    // The tables' own start and close stamps.
    const auto lastIn = keys::kLastIn.readAs<platform::form::Raw>(store_);
    const auto lastOut = keys::kLastOut.readAs<platform::form::Raw>(store_);
    const auto in = lastIn ? platform::DecodeDateTimeValue(*lastIn) : std::nullopt;
    const auto out = lastOut ? platform::DecodeDateTimeValue(*lastOut) : std::nullopt;
    const double now = clock_.now().days();
    const double start = (in && out) ? *in : now;
    const double close = (in && out) ? *out : now - 1;
    if (!keys::kLastIn.write(store_, now))
        ShowRemoteMessage(nullptr, QStringLiteral("STACK 4364 ") +
                                       QStringLiteral("no se pudo escribir el registro"));
    // A first start has no previous run that could have ended badly: without
    // either stamp there is nothing to suspect, and the tables just created
    // at load keep their tags as made.
    setTablesClosedUncleanly((lastIn || lastOut) && close < start);

    applySettings(LoadSettings(store_));

    if (activityLog_.exceeds(settings_.limitBitacora) && logTooBig) {
        const QString question =
            QStringLiteral("El archivo de bitacora ha excedido el tamaño límite de ") +
            common::FormatSize(settings_.limitBitacora) +
            QStringLiteral(". ¿Procede su eliminación?");
        if (logTooBig(question))
            activityLog_.remove();
    }
    // A log that cannot be written is told on the console; the start goes on.
    if (!activityLog_.open() ||
        !activityLog_.write(QString::fromUtf16(ActivityLog::kStartText), clock_.now()))
        ShowRemoteMessage(nullptr, QStringLiteral("Falla al escribir en la bitácora ") +
                                       activityLog_.path());
    setStatus(1, QStringLiteral("localhost"));
}

void ServerCore::firstShow() {
    if (!readStartStamps())
        startListener();
}

void ServerCore::logActivity(const QString& text) {
    activityLog_.write(text, clock_.now());
}

bool ServerCore::readStartStamps() {
    const DateTime now = clock_.now();
    const double previousStart = keys::kEntrada.read(store_).value_or(now.days());
    keys::kEntrada.write(store_, now.days());
    const double previousClose = keys::kSalida.read(store_).value_or(now.days());
    setCrashSuspected(previousStart > previousClose);
    return crashSuspected();
}

bool ServerCore::startListener() {
    listenerArmed_ = true;
    if (server_.isListening())
        return true;
    if (server_.listen(port_)) {
        listenFailureShown_ = false;
        // Stations told of the port the system chose find it again after
        // the listener comes back.
        if (port_ == 0)
            port_ = server_.serverPort();
        Q_EMIT listening(server_.serverPort());
        return true;
    }
    if (!listenFailureShown_) {
        listenFailureShown_ = true;
        ShowRemoteMessage(nullptr,
                          QStringLiteral("Falla al activar servidor ") + server_.errorString());
    }
    return false;
}

void ServerCore::stopListener() {
    listenerArmed_ = false;
    if (!server_.stop())
        ShowRemoteMessage(nullptr,
                          QStringLiteral("Falla al desactivar servidor ") + server_.errorString());
}

void ServerCore::closeDown() {
    lastCommand_.set(QStringLiteral("FormCLose"));
    activityLog_.write(QString::fromUtf16(ActivityLog::kCloseText), clock_.now());
    activityLog_.close();
    if (hooks_.closeCodeTable)
        hooks_.closeCodeTable();
    setStatus(0, QStringLiteral("Espere un momento.. cerrando"));
    ctx_.closing = true;
    stopListener();
    if (hooks_.afterListenerStopped)
        hooks_.afterListenerStopped();
    // Every connection has ended: what they posted is finite and all of it
    // belongs in the console archive.
    for (bool any = false; applyPosted(any);) {
    }
    SaveSettings(store_, settings_, clock_.now().days());
    QString error;
    const QString archive =
        QDir(programFolder_)
            .filePath(QCoreApplication::applicationName().isEmpty()
                          ? QStringLiteral("taquilla.log")
                          : QCoreApplication::applicationName() + QStringLiteral(".log"));
    ConsoleModel::Archive(archive, console_.texts(), &error);
}

void ServerCore::ShowRemoteMessage(TCompItem* record, const QString& text) {
    lastCommand_.set(QStringLiteral("ShowRemoteMEssage"));
    QString caption;
    if (record != nullptr)
        caption = model_.caption(model_.rowOf(record));
    console_.show(caption, text, clock_.now());
}

void ServerCore::scheduleIdle() {
    if (idleScheduled_)
        return;
    idleScheduled_ = true;
    QTimer::singleShot(0, this, [this] {
        idleScheduled_ = false;
        IdlePump();
    });
}

bool ServerCore::applyPosted(bool& appliedAny) {
    // A budget of work per pass, not a rule of the program: measured on the
    // machine's own steady clock.
    QElapsedTimer spent;
    spent.start();
    do {
        std::deque<UiEvent> events = handoff_.take(kDrainBatch);
        if (events.empty())
            return false;
        appliedAny = true;
        for (UiEvent& e : events) {
            try {
                apply(e);
            } catch (...) {
                // One broken event must not stop the others; it is said.
                ShowRemoteMessage(
                    nullptr, StepFailure(QStringLiteral("evento ") + QString::number(int(e.kind))));
            }
        }
    } while (spent.elapsed() < kDrainBudgetMs);
    return !handoff_.empty();
}

void ServerCore::drainHandOff() {
    bool applied = false;
    if (applyPosted(applied))
        QMetaObject::invokeMethod(this, &ServerCore::drainHandOff, Qt::QueuedConnection);
    if (applied)
        scheduleIdle();
}

void ServerCore::apply(UiEvent& e) {
    using K = UiEvent::Kind;
    const bool isClosing = closing();
    switch (e.kind) {
    case K::Console:
        ShowRemoteMessage(e.record, e.text);
        break;
    case K::StatusText:
        if (!isClosing)
            setStatus(0, e.text);
        break;
    case K::ConnectionCount:
        showConnectionCount(e.a);
        break;
    case K::RowAdded:
        model_.addRow(e.record);
        if (!isClosing) {
            model_.updateRow(e.record);
            Q_EMIT rowShown(e.record);
        }
        break;
    case K::RowUpdate:
        if (!isClosing) {
            model_.updateRow(e.record);
            Q_EMIT rowShown(e.record);
        }
        break;
    case K::StateChanged:
        if (!isClosing) {
            postStateChange(StateChange{e.record, e.seen});
        }
        break;
    case K::NameChanged:
        if (!isClosing)
            QueryCdList(ctx_, e.record);
        break;
    case K::CodeTyped:
        if (!isClosing)
            postTypedCode(e.record);
        break;
    case K::TaskList:
        taskListSlot_ = TaskListSlot{e.record, e.data};
        break;
    case K::RemoteConfig:
        remoteConfigSlot_ = e.record;
        break;
    case K::Volume:
        volumeSlot_ = VolumeSlot{e.record, e.a, e.b};
        break;
    case K::Transparency:
        Q_EMIT transparencyReported(e.record, e.a);
        break;
    case K::PinAssigned:
        postCodeAssignment(e.text, e.record);
        break;
    case K::Screenshot:
        Q_EMIT screenshotReceived(e.record, e.data);
        break;
    case K::AccountQuery:
        if (!isClosing)
            Q_EMIT accountQueried(e.record);
        break;
    }
}

void ServerCore::IdlePump() {
    bool applied = false;
    if (applyPosted(applied))
        QMetaObject::invokeMethod(this, &ServerCore::drainHandOff, Qt::QueuedConnection);
    idlePass().run();
}

} // namespace tarvina::server
