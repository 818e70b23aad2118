#include "client/session/ClientCore.h"

#include "client/session/SessionFile.h"
#include "common/Cp1252.h"
#include "common/ExceptionLog.h"
#include "common/Password.h"
#include "common/Paths.h"
#include "platform/Clock.h"
#include "platform/Registry.h"
#include "platform/ServiceControl.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

namespace tarvina::client {

using common::DateTime;

namespace {
const QString kServiceName = QStringLiteral("ServiceZU");
} // namespace

QString StationFile(const QString& folder, const QString& name) {
    if (name.isEmpty())
        return {};
    if (QDir::isAbsolutePath(name))
        return name;
    if (const auto found = common::ResolveInFolder(folder, name))
        return *found;
    return QDir(folder).filePath(QString(name).replace(u'\\', u'/'));
}

QString StateWord(ClientState s) {
    switch (s) {
    case ClientState::Offline:
        return QStringLiteral("fuera de línea");
    case ClientState::Locked:
        return QStringLiteral("bloqueado");
    case ClientState::InUse:
        return QStringLiteral("en uso");
    case ClientState::InService:
        return QStringLiteral("en servicio");
    case ClientState::Waiting:
        return QStringLiteral("esperando");
    }
    return {};
}

ClientCore::ClientCore(ClientEnvironment env, ClientServices services, QObject* parent)
    : QObject(parent), env_(std::move(env)), svc_(services),
      control_(services.control ? services.control : &nullControl_),
      settings_(ClientSettings::Defaults()), dispatchLock_(std::make_unique<QMutex>()) {
    for (TimerState* t : {&timChkCon_, &timChkNewConn_, &relojVisual_, &timTopForm_}) {
        t->qt = new QTimer(this);
    }
    connect(timChkCon_.qt, &QTimer::timeout, this, &ClientCore::TimChkConTick);
    connect(timChkNewConn_.qt, &QTimer::timeout, this, &ClientCore::TimChkNewConnTick);
    connect(relojVisual_.qt, &QTimer::timeout, this, &ClientCore::RelojVisualTick);
    connect(timTopForm_.qt, &QTimer::timeout, this, &ClientCore::EnforcementTick);
    relojVisual_.interval = 1000;
    timTopForm_.interval = 1000;
    timChkCon_.interval = settings_.intDisconn;
    timChkNewConn_.interval = settings_.intNewConn;
}

ClientCore::~ClientCore() {
    closing_.store(true);
    StopThreads(true);
}

DateTime ClientCore::now() const {
    return svc_.clock->now();
}

void ClientCore::setTimersDriven(bool on) {
    timersDriven_ = on;
    for (TimerState* t : {&timChkCon_, &timChkNewConn_, &relojVisual_, &timTopForm_})
        setTimer(*t, t->enabled);
}

void ClientCore::setTimer(TimerState& t, bool enabled) {
    t.enabled = enabled;
    if (!t.qt)
        return;
    // An interval of 0 never fires, as a timer of interval 0 does not on the
    // original platform.
    if (timersDriven_ && enabled && t.interval > 0) {
        if (!t.qt->isActive() || t.qt->interval() != t.interval)
            t.qt->start(t.interval);
    } else {
        t.qt->stop();
    }
}

void ClientCore::setInterval(TimerState& t, int ms) {
    t.interval = ms;
    setTimer(t, t.enabled);
}

void ClientCore::setStatus(const QString& text) {
    if (QThread::currentThread() != thread()) {
        post([this, text] { ManifestStatus(text); });
        return;
    }
    display_.statusText = text;
    changed();
}

void ClientCore::setStatus(Txt id) {
    if (QThread::currentThread() != thread()) {
        post([this, id] { setStatus(texts_.get(id)); });
        return;
    }
    setStatus(texts_.get(id));
}

void ClientCore::ManifestStatus(QString text) {
    setStatus(text);
}

QString ClientCore::sessionFilePath() const {
    return StationFile(env_.programFolder, QStringLiteral("Data\\") + kSessionFileName);
}

void ClientCore::Create() {
    lastCommand_.set(QStringLiteral("iniciando"));
    country_ = QStringLiteral("No%20definido");
    // The data folder must be writable: the session file lives there.
    const QString data = StationFile(env_.programFolder, QStringLiteral("Data"));
    QDir().mkpath(data);
    QFile probe(QDir(data).filePath(QStringLiteral("Drs1232.dta")));
    if (!probe.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        OnAppException(
            QStringLiteral("TfrmClient7267"),
            QStringLiteral("Es necesario contar con permiso de escritura en la carpeta '") +
                QDir::toNativeSeparators(data + u'/') +
                QStringLiteral("'. Sólo el Administrador puede otorgar ese nivel de "
                               "acceso."));
    }
    probe.close();

    pinMode_ = 0;
    foreignCount_ = 0;
    display_.alarmEnabled = true;
    display_.caption = env_.computerName;
    start_ = end_ = DateTime::FromDays(0);
    tag_.clear();
    user_.clear();
    firstShowPending_ = true;
    blinking_ = false;
    dispatchLock_ = std::make_unique<QMutex>();

    if (svc_.registry) {
        country_ = ReadCountry(*svc_.registry);
        const QString desktopKey = QString::fromLatin1(kDesktopKey);
        screenSaveActive_ = svc_.registry
                                ->readString(platform::Root::CurrentUser, desktopKey,
                                             QStringLiteral("ScreenSaveActive"))
                                .value_or(QString());
        if (!svc_.registry->writeString(platform::Root::CurrentUser, desktopKey,
                                        QStringLiteral("ScreenSaveActive"), QStringLiteral("0")))
            LogException(QStringLiteral("Setting (1) ScreenSaveActive write failed"));
        settings_ = ClientSettings::Read(*svc_.registry);
    }
    display_.lockOpacity = 255;
    SetIntConn(settings_.intConn);
    SetIntDisconn(settings_.intDisconn);
    SetIntNewConn(settings_.intNewConn);
    SetTimeout(settings_.timeout);
    // GlbBarraInvisible hides the task bar: machine control's work.

    shutdownLetter_ = u'N';
    state_ = ClientState::Offline; // so that the next call takes effect
    SetClientState(ClientState::Locked);
    control_->applyWallpaper();
    display_.appTitle =
        env_.osMajor < 5 ? QStringLiteral("Tarvina") : QStringLiteral("Tarvina [XP]");
    lastBannerChange_ = now();
    loadExemptions();
    UpdateDispCaption();
    SetSystemKeysBlocked();
    const QString bg = StationFile(env_.currentDir, settings_.background);
    display_.lockPicture =
        !settings_.background.isEmpty() && QFileInfo::exists(bg) ? bg : QString();
    changed();
}

void ClientCore::loadExemptions() {
    exemptions_.clear();
    QFile f(StationFile(env_.currentDir, QStringLiteral("noalarm.txt")));
    if (!f.open(QIODevice::ReadOnly))
        return;
    // A list of window titles: a few kilobytes at most in practice.
    const QByteArray bytes = f.read(256 * 1024);
    for (const QByteArray& raw : bytes.split('\n')) {
        QString line = common::FromCp1252(raw);
        if (line.endsWith(u'\r'))
            line.chop(1);
        const QString t = line.trimmed();
        if (t.startsWith(u'#') || t.startsWith(u';'))
            continue;
        if (line.isEmpty())
            continue;
        exemptions_ << line;
    }
}

void ClientCore::Show() {
    lastCommand_.set(QStringLiteral("Show"));
    if (svc_.service && env_.osMajor > 3) {
        serviceCheck_ = now();
        if (!svc_.service->isRunning(kServiceName)) {
            QString err;
            if (!svc_.service->resume(kServiceName, &err)) {
                LogException(QStringLiteral("SetService (Resume) ") + err);
                const QByteArray msg = common::ToCp1252(u"\"ZU Service\" falla en ejecución.");
                if (connected()) {
                    sendOrReconnect("R13" + msg);
                    SendFreeMessage(msg);
                }
            }
        }
    }
    Q_EMIT showClockWindow();
    if (!closing_.load())
        display_.lockMayClose = false;
    lastBannerChange_ = now();
    ShowLockScreen();
    if (firstShowPending_) {
        ApplyLanguage(StationFile(env_.currentDir, QStringLiteral("esp.lng")));
        RestoreSession();
    }
    if (!connectThread_ && autoConnect_)
        StartConnectThread();
    if (firstShowPending_) {
        setTimer(relojVisual_, true);
        setTimer(timChkCon_, true);
        setTimer(timTopForm_, true);
        firstShowPending_ = false;
    }
    changed();
}

bool ClientCore::CloseQuery() {
    lastCommand_.set(QStringLiteral("CloseQuery"));
    post([this] { ManifestSaveSession(); });
    if (shutdownLetter_ != u'N')
        return true;
    if (!svc_.password)
        return false;
    QString typed;
    const bool ok = svc_.password->exec(&typed);
    if (!ok)
        return false;
    if (common::ScramblePassword(common::ToCp1252(typed)) == settings_.password) {
        if (svc_.service && env_.osMajor > 3) {
            QString err;
            if (!svc_.service->pause(kServiceName, &err))
                LogException(QStringLiteral("FormCloseQuery ") + err);
        }
        return true;
    }
    if (svc_.notice)
        svc_.notice->showNotice(texts_.get(Txt::StrBadPassword));
    return false;
}

void ClientCore::Close() {
    if (closing_.exchange(true))
        return;
    lastCommand_.set(QStringLiteral("Close"));
    for (TimerState* t : {&timChkCon_, &timChkNewConn_, &relojVisual_, &timTopForm_})
        setTimer(*t, false);
    display_.lockMayClose = true;
    // Whatever is pending goes to disk before the threads stop: the next
    // start resumes from it.
    SaveSession();
    setStatus(texts_.get(Txt::StrEndConn));
    StopThreads(true);

    lastCommand_.set(QStringLiteral("Destroy"));
    if (svc_.registry) {
        if (!screenSaveActive_.isEmpty() &&
            !svc_.registry->writeString(platform::Root::CurrentUser,
                                        QString::fromLatin1(kDesktopKey),
                                        QStringLiteral("ScreenSaveActive"), screenSaveActive_))
            LogException(QStringLiteral("FormDestroy [ScreenSaveActive] write failed"));
        QString err;
        if (!settings_.write(*svc_.registry, env_.currentDir, env_.exeName, display_.lockOpacity,
                             &err))
            LogException(QStringLiteral("FormDestroy [Writereg] ") + err);
    }
    changed();
}

void ClientCore::SetHost(const QString& host) {
    settings_.host = host.trimmed().isEmpty() ? QStringLiteral("127.0.0.1") : host.trimmed();
}

void ClientCore::SetIntConn(int ms) {
    if (ms < 0)
        return;
    settings_.intConn = ms;
    if (connected() && timChkCon_.interval != ms)
        setInterval(timChkCon_, ms);
}

void ClientCore::SetIntDisconn(int ms) {
    if (ms < 0)
        return;
    settings_.intDisconn = ms;
    if (!connected() && timChkCon_.interval != ms)
        setInterval(timChkCon_, ms);
}

bool ClientCore::SetIntNewConn(int ms) {
    if (ms < 0)
        return false;
    settings_.intNewConn = ms;
    setInterval(timChkNewConn_, ms);
    return true;
}

void ClientCore::SetTimeout(int ms) {
    if (ms < 0)
        return;
    settings_.timeout = ms;
    readTimeout_.store(ms);
    link_.setWriteTimeout(ms > 0 ? ms : 10000);
}

void ClientCore::ApplyLanguage(const QString& path) {
    texts_.apply(IniFile::Load(path));
    display_.lblStsPin = texts_.get(Txt::LblStsPin);
    UpdateDispCaption();
    changed();
}

void ClientCore::showErrorBox(const QString& text) {
    if (!svc_.notice)
        return;
    if (QThread::currentThread() != thread()) {
        post([this, text] { showErrorBox(text); });
        return;
    }
    svc_.notice->errorBox(QStringLiteral("Error"), text);
}

void ClientCore::LogException(const QString& rawText) {
    // One entry is one line: texts from the system may carry line breaks.
    QString text = rawText;
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    text.replace(u'\n', u' ');
    text.replace(u'\r', u' ');
    const QString path =
        StationFile(env_.programFolder, QString::fromLatin1(common::kClientExceptionLogName));
    QString err;
    if (!common::AppendWithSizeCheck(path, common::kClientExceptionLogLimit,
                                     common::ClientExceptionEntry(now(), text), &err))
        showErrorBox(common::ClientLogFailureText(err));
}

void ClientCore::OnAppException(const QString& senderClass, const QString& message) {
    // An error raised while an error is being logged is not logged again.
    if (inExceptionLog_.exchange(true))
        return;
    const QString path =
        StationFile(env_.programFolder, QString::fromLatin1(common::kClientExceptionLogName));
    QString err;
    if (!common::AppendWithSizeCheck(
            path, common::kClientExceptionLogLimit,
            common::ClientAppExceptionEntry(now(), senderClass, message, 0, lastCommand_.get()),
            &err))
        showErrorBox(common::ClientLogFailureText(err));
    inExceptionLog_.store(false);
}

} // namespace tarvina::client
