#include "client/StationCore.h"

#include "client/station/MachineControl.h"
#include "client/station/StationKeys.h"
#include "common/Cp1252.h"
#include "common/Password.h"
#include "common/Paths.h"
#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "platform/Registry.h"
#include "protocol/Codes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace tarvina::client {

using common::DateTime;

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

DateTime StationContext::now() const {
    return platform.clock.now();
}

StationCore::StationCore(ClientEnvironment env, StationPlatform platform, QObject* parent)
    : QObject(parent), log_(env.programFolder, platform.clock, platform.notice),
      ctx_(std::move(env), platform, view_, log_), link_(ctx_), pin_(ctx_, link_),
      lock_(ctx_, link_, pin_, [this] { return session_.state(); }),
      session_(ctx_, link_, lock_, pin_), machine_(ctx_, link_), companion_(ctx_, link_),
      configGate_(ctx_, lock_, session_),
      configTarget_(ctx_, link_, lock_, session_, ctx_.platform.control),
      controlHost_{ctx_, link_, [this] { return configTarget_.backupLogos(false); }},
      handler_({ctx_, link_, session_, lock_, pin_, machine_, [this] { SoftReinit(); }}),
      dispatcher_(handler_), relojVisual_(this, [this] { RelojVisualTick(); }),
      timTopForm_(this, [this] { lock_.EnforcementTick(); }) {
    relojVisual_.setInterval(1000);
    timTopForm_.setInterval(1000);
    link_.setLineHandler([this](const QByteArray& line) { dispatcher_.Dispatch(line); });
    link_.setStatusReporter([this] { session_.SendStatusReport(); });
    connect(&link_, &StationLink::connectionChanged, &session_, &Session::UpdateMenusForConnection);
    connect(&pin_, &PinEntry::accepted, &session_, &Session::SaveSession);
    connect(&lock_, &LockEnforcer::lockIneffective, &session_,
            [this] { session_.ScheduleShutdown(0, u'L'); });
    connect(&session_, &Session::useEnded, &machine_, &StationMachine::MediaCheck);
    ctx_.platform.control.attach(&controlHost_);
    // The lock answers a window that covers it as soon as the display tells,
    // not at the next tick.
    ctx_.platform.windows.watchStacking([this] { lock_.StackingChanged(); });
}

StationCore::~StationCore() {
    ctx_.platform.windows.watchStacking(nullptr);
    ctx_.closing.store(true);
    link_.Stop();
    ctx_.platform.control.attach(nullptr);
}

void StationCore::setTimersDriven(bool on) {
    link_.setTimersDriven(on);
    relojVisual_.setDriven(on);
    timTopForm_.setDriven(on);
}

void StationCore::Create() {
    log_.lastCommand().set(QStringLiteral("iniciando"));
    // The data folder must be writable: the session file lives there.
    const QString data = StationFile(ctx_.env.programFolder, QStringLiteral("Data"));
    QDir().mkpath(data);
    QFile probe(QDir(data).filePath(QStringLiteral("Drs1232.dta")));
    if (!probe.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        log_.OnAppException(
            QStringLiteral("TfrmClient7267"),
            QStringLiteral("Es necesario contar con permiso de escritura en la carpeta '") +
                QDir::toNativeSeparators(data + u'/') +
                QStringLiteral("'. Sólo el Administrador puede otorgar ese nivel de "
                               "acceso."));
    }
    probe.close();

    ClientDisplay& d = view_.display();
    d.alarmEnabled = true;
    d.caption = ctx_.env.computerName;
    if (!ctx_.env.computerNameStep.isEmpty())
        log_.lastCommand().set(ctx_.env.computerNameStep);
    ctx_.firstShowPending = true;

    platform::Registry& registry = ctx_.platform.registry;
    machine_.setCountry(ReadCountry(registry));
    screenSaveActive_ = keys::kScreenSaveActive.value(registry);
    if (!keys::kScreenSaveActive.write(registry, QStringLiteral("0")))
        log_.LogException(QStringLiteral("Setting (1) ScreenSaveActive write failed"));
    ctx_.settings = ClientSettings::Read(registry);

    d.lockOpacity = 255;
    link_.ApplySettings();
    // The screen saver stays off while the station runs; the task bar is
    // hidden when the settings say so. Both come back at the close.
    ctx_.platform.desktop.suspendScreenSaver();
    if (ctx_.settings.glbBarraInvisible)
        ctx_.platform.desktop.setTaskBarHidden(true);

    session_.SetClientState(ClientState::Locked);
    ctx_.platform.control.applyWallpaper();
    d.appTitle = ctx_.env.osMajor < 5 ? QStringLiteral("Tarvina") : QStringLiteral("Tarvina [XP]");
    lock_.RestartBannerClock();
    lock_.LoadExemptions();
    session_.UpdateDispCaption();
    const QString bg = StationFile(ctx_.env.currentDir, ctx_.settings.background);
    d.lockPicture = !ctx_.settings.background.isEmpty() && QFileInfo::exists(bg) ? bg : QString();
    view_.changed();
}

void StationCore::Show() {
    log_.lastCommand().set(QStringLiteral("Show"));
    companion_.AtShow();
    Q_EMIT view_.showClockWindow();
    if (!ctx_.closing.load())
        view_.display().lockMayClose = false;
    lock_.RestartBannerClock();
    lock_.ShowLockScreen();
    if (ctx_.firstShowPending) {
        // The lock takes its stored opacity when it is first shown (and
        // keeps it at the close, when it is written back).
        ClientDisplay& d = view_.display();
        d.lockOpacity = std::clamp(ctx_.settings.alphaBlend, 0, 255);
        if (d.lockOpacity != 255)
            d.lockLayered = true;
        ApplyLanguage(StationFile(ctx_.env.currentDir, QStringLiteral("esp.lng")));
        // A cleaning cut short is done before anything can unlock.
        if (cleaning_ && DesktopCleaning::Pending(cleaningJournal()))
            StartCleaning();
        session_.RestoreSession();
    }
    if (!link_.connectThreadRunning() && autoConnect_)
        link_.StartConnectThread();
    if (ctx_.firstShowPending) {
        relojVisual_.setEnabled(true);
        link_.setKeepAliveEnabled(true);
        timTopForm_.setEnabled(true);
        ctx_.firstShowPending = false;
    }
    view_.changed();
}

QString StationCore::cleaningJournal() const {
    return QDir(StationFile(ctx_.env.programFolder, QStringLiteral("Data")))
        .filePath(QStringLiteral("limpieza.pendiente"));
}

void StationCore::useFolders(platform::FolderOpener& fs, QStringList ownFolders, int settleMs) {
    cleaning_ = std::make_unique<DesktopCleaning>(fs, ctx_.platform.clock);
    ownFolders_ = std::move(ownFolders);
    ownFolders_ << ctx_.env.programFolder;
    settleMs_ = settleMs;
    connect(&session_, &Session::lockedAfterUse, this, [this] { StartCleaning(); });
    connect(cleaning_.get(), &DesktopCleaning::finished, this,
            [this](const DesktopCleaning::Outcome& o) { CleaningFinished(o); });
}

void StationCore::StartCleaning() {
    const QString journal = cleaningJournal();
    if (!ctx_.settings.limpiarEscritorio) {
        // Turned off since: nothing is owed any more.
        QFile::remove(journal);
        return;
    }
    if (cleaning_->running())
        return;
    log_.lastCommand().set(QStringLiteral("LimpiarEscritorio"));
    session_.HoldGrants(true);
    machine_.Posted(protocol::tc::CleanTasks);
    QString err;
    const DesktopCleaning::Setup s = cleaningSetup();
    if (!cleaning_->start(s, &err)) {
        DesktopCleaning::Outcome o;
        o.ok = false;
        o.error = err;
        CleaningFinished(o);
    }
}

DesktopCleaning::Setup StationCore::cleaningSetup() const {
    DesktopCleaning::Setup s;
    s.home = QDir::homePath();
    s.model = ctx_.settings.modeloEscritorio;
    s.journal = cleaningJournal();
    s.logFile = StationFile(ctx_.env.programFolder, QStringLiteral("Limpieza.log"));
    s.keep = DesktopCleaning::KeepList(s.home, ownFolders_);
    s.settleMs = settleMs_;
    return s;
}

bool StationCore::SaveDesktopModel(QString* error) {
    if (!cleaning_) {
        if (error)
            *error = QStringLiteral("este sistema no permite limpiar el escritorio");
        return false;
    }
    return cleaning_->saveModel(cleaningSetup(), error);
}

void StationCore::CleaningFinished(const DesktopCleaning::Outcome& o) {
    if (!o.ok)
        link_.SendFreeMessage("Limpieza incompleta: " + common::ToCp1252(o.error));
    session_.HoldGrants(false);
}

bool StationCore::CloseQuery() {
    log_.lastCommand().set(QStringLiteral("CloseQuery"));
    QMetaObject::invokeMethod(
        &session_, [this] { session_.SaveSessionPosted(); }, Qt::QueuedConnection);
    if (session_.pendingShutdown() != u'N')
        return true;
    QString typed;
    if (!ctx_.platform.password.exec(&typed))
        return false;
    if (common::ScramblePassword(common::ToCp1252(typed)) == ctx_.settings.password) {
        companion_.PauseForClose();
        return true;
    }
    ctx_.platform.notice.showNotice(view_.text(Txt::StrBadPassword));
    return false;
}

void StationCore::Close() {
    if (ctx_.closing.exchange(true))
        return;
    log_.lastCommand().set(QStringLiteral("Close"));
    link_.stopTimers();
    relojVisual_.setEnabled(false);
    timTopForm_.setEnabled(false);
    view_.display().lockMayClose = true;
    // Whatever is pending goes to disk before the threads stop: the next
    // start resumes from it.
    session_.SaveSession();
    view_.setStatus(view_.text(Txt::StrEndConn));
    link_.Stop();

    log_.lastCommand().set(QStringLiteral("Destroy"));
    lock_.ReleaseInput();
    ctx_.platform.desktop.setTaskBarHidden(false);
    ctx_.platform.desktop.restoreScreenSaver();
    platform::Registry& registry = ctx_.platform.registry;
    if (!screenSaveActive_.isEmpty() && !keys::kScreenSaveActive.write(registry, screenSaveActive_))
        log_.LogException(QStringLiteral("FormDestroy [ScreenSaveActive] write failed"));
    QString err;
    if (!ctx_.settings.write(registry, ctx_.env.currentDir, ctx_.env.exeName,
                             view_.display().lockOpacity, &err))
        log_.LogException(QStringLiteral("FormDestroy [Writereg] ") + err);
    view_.changed();
}

void StationCore::SoftReinit() {
    // A re-initialisation asked for while one waits for its connect thread
    // is the same request: the one under way reconnects.
    if (link_.stopping())
        return;
    link_.stopTimers();
    relojVisual_.setEnabled(false);
    timTopForm_.setEnabled(false);
    view_.setStatus(Txt::StrEndConn);
    link_.Restart();
    relojVisual_.setEnabled(true);
    link_.setKeepAliveEnabled(true);
    timTopForm_.setEnabled(true);
}

void StationCore::RelojVisualTick() {
    if (ctx_.firstShowPending || ctx_.closing.load())
        return;
    session_.RelojVisualTick();
    companion_.Tick(ctx_.now());
}

void StationCore::ApplyLanguage(const QString& path) {
    view_.texts().apply(IniFile::Load(path));
    view_.display().lblStsPin = view_.text(Txt::LblStsPin);
    session_.UpdateDispCaption();
    view_.changed();
}

} // namespace tarvina::client
