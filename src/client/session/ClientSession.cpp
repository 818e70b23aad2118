// The session side of ClientCore: states, the welcome dialog, the lock and
// its enforcement, the countdown and alarm, the session file, extra time.
#include "client/session/ClientCore.h"
#include "client/session/SessionFile.h"
#include "common/Cp1252.h"
#include "common/Password.h"
#include "platform/Audio.h"
#include "platform/Clock.h"
#include "platform/ServiceControl.h"
#include "protocol/Fields.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

namespace tarvina::client {

using common::DateTime;

namespace {

const QString kServiceName = QStringLiteral("ServiceZU");
const QString kZeroTime = QStringLiteral("00:00:00");

// Whole number in a trimmed text, 0 when it is not one.
qint64 WholeMinutes(const QString& text) {
    bool ok = false;
    const qint64 v = text.trimmed().toLongLong(&ok);
    return ok ? v : 0;
}

// Minutes of a grant, bounded so that an absurd figure cannot overflow the
// date arithmetic (a year is far beyond any session).
qint64 BoundedMinutes(qint64 m) {
    return std::clamp<qint64>(m, -527040, 527040);
}

} // namespace

// --- states -----------------------------------------------------------------

void ClientCore::SetClientState(ClientState s) {
    if (s == state_)
        return;
    state_ = s;
    display_.caption = env_.computerName + u'[' + StateWord(s) + u']';
    UpdateMenusForConnection();
    LayPinPanel();
    changed();
}

void ClientCore::SetAlarmTimeFromMinutes() {
    if (display_.alarmMinutes > 0 && end_.days() > 0)
        alarmTime_ = end_.addMinutes(-display_.alarmMinutes);
    else
        alarmTime_ = DateTime::FromDays(0);
}

void ClientCore::UpdateDispCaption() {
    display_.dispCaption =
        display_.countMode == 1 ? texts_.get(Txt::lblTranscurrido) : texts_.get(Txt::lblDisponible);
}

void ClientCore::CloseLockScreen() {
    display_.lockMayClose = true;
    display_.lockVisible = false;
    changed();
}

void ClientCore::ShowLockScreen() {
    const QString bg = StationFile(env_.currentDir, settings_.background);
    display_.lockPicture =
        !settings_.background.isEmpty() && QFileInfo::exists(bg) ? bg : QString();
    display_.lockVisible = true;
    Q_EMIT raiseLockScreen();
    changed();
}

void ClientCore::SetSystemKeysBlocked() {
    // The task-switch keys are the window system's affair on this platform;
    // the lock screen grabs keyboard and pointer while it is up.
}

// --- grant ----------------------------------------------------------------------

void ClientCore::ManifestStartGrant(Grant g) {
    StartGrant(g);
}

void ClientCore::TestGrant(int minutes) {
    StartGrant({QString::number(minutes), QStringLiteral("Velt"), {}});
}

void ClientCore::StartGrant(const Grant& g) {
    if (!tasksRecorded_) {
        control_->recordTasks();
        tasksRecorded_ = true;
    }
    // The grant's fields are the session's from its arrival on: the waiting
    // report already names the user.
    user_ = g.user;
    minutes_ = g.minutes;
    tag_ = QStringLiteral("-1");
    WelcomeDialog* dlg = svc_.welcome;
    if (dlg && dlg->isShowing()) {
        SendClientMessage(
            QStringLiteral("Nueva solicitud de contraseña obliga a terminar la anterior"));
        dlg->close();
        post([this, g] { ManifestStartGrant(g); });
        return;
    }
    SetClientState(ClientState::Waiting);
    SendStatusReport();
    HideMainWindow();

    int attemptsLeft = 3;
    WelcomeDialog::Setup setup;
    setup.caption = texts_.get(Txt::AccessWelcomeCaption);
    if (g.minutes.trimmed() == u"2880") {
        setup.timeText = texts_.get(Txt::StrNoLimite);
        display_.countMode = 1;
        UpdateDispCaption();
    } else {
        setup.timeText = g.minutes + u' ' + texts_.get(Txt::lblMin);
    }
    setup.user = g.user;
    setup.askPassword = !g.password.isEmpty();
    KeepLockOnTop();
    setStatus(texts_.get(Txt::StrBlock));

    while (attemptsLeft > 0) {
        QString typed;
        const bool ok = dlg ? dlg->exec(setup, &typed) : false;
        if (closing_.load())
            return;
        if (ok && setup.askPassword &&
            common::ScramblePassword(common::ToCp1252(typed)) != g.password) {
            const int before = attemptsLeft;
            --attemptsLeft;
            setup.caption = texts_.get(Txt::StrTryAccess) + QStringLiteral(" (%1)").arg(5 - before);
            SendClientMessage(g.user + QStringLiteral(" intenta usar  ") + env_.computerName +
                              QStringLiteral(" fallando con la clave."));
            continue;
        }
        if (ok) {
            SendClientMessage(g.user + QStringLiteral(" está en ") + env_.computerName);
            user_ = g.user;
            minutes_ = g.minutes;
            SetClientState(ClientState::InUse);
            setStatus(texts_.get(Txt::StrEnUso) + QStringLiteral(": ") + user_);
            const DateTime t = now();
            end_ = t.addMinutes(BoundedMinutes(WholeMinutes(g.minutes)));
            start_ = t;
            blinking_ = false;
            lastMinuteSeen_ = -1;
            SetAlarmTimeFromMinutes();
            CloseLockScreen();
            attemptsLeft = 0;
            SaveSession();
            sendOrReconnect("R04" + common::ToCp1252(user_));
        } else {
            SendClientMessage(setup.user + QStringLiteral(" abandona intento de contraseña."));
            SetClientState(ClientState::Locked);
            attemptsLeft = 0;
        }
    }
    if (state_ != ClientState::InUse) {
        SetClientState(ClientState::Locked);
        SetSystemKeysBlocked();
    }
    SendStatusReport();
    changed();
}

void ClientCore::EndPasswordRequest() {
    WelcomeDialog* dlg = svc_.welcome;
    if (!dlg || !dlg->isShowing())
        return;
    if (link_.isConnected() &&
        !SendLine(common::ToCp1252(u"R13Terminada solicitud de contraseña "))) {
        lastCommand_.set(QStringLiteral("ManifestNoPass"));
        ScheduleReconnect(true, true);
    }
    dlg->close();
}

void ClientCore::ManifestNoPass() {
    EndPasswordRequest();
}

// --- lock -------------------------------------------------------------------------

void ClientCore::LockStation() {
    end_ = DateTime::FromDays(0);
    display_.lblDisp = kZeroTime;
    display_.clockText = kZeroTime;
    display_.progress = 0;
    blinking_ = false;
    alarmTime_ = DateTime::FromDays(0);
    SetClientState(ClientState::Locked);
    display_.clockColour = ClientDisplay::ClockColour::ButtonFace;
    control_->applyWallpaper();
    SetSystemKeysBlocked();
    setStatus(texts_.get(Txt::StrBlock));
    if (!closing_.load())
        display_.lockMayClose = false;
    lastBannerChange_ = now();
    ShowLockScreen();
    ForceForeground(ownId(OwnWindow::Lock), true);
    EnforcementTick();
    if (link_.isConnected())
        SendStatusReport();
    changed();
}

platform::WindowId ClientCore::ownId(OwnWindow w) const {
    return svc_.own ? svc_.own->id(w) : 0;
}

bool ClientCore::ownShowing(OwnWindow w) const {
    if (w == OwnWindow::Lock)
        return display_.lockVisible;
    if (w == OwnWindow::Main)
        return display_.mainVisible;
    if (w == OwnWindow::Welcome && svc_.welcome)
        return svc_.welcome->isShowing();
    return svc_.own && svc_.own->isShowing(w);
}

bool ClientCore::IsOwnWindow(platform::WindowId w, std::initializer_list<OwnWindow> kinds) const {
    if (w == 0)
        return false;
    for (OwnWindow k : kinds)
        if (ownId(k) == w)
            return true;
    return false;
}

void ClientCore::KeepLockOnTop() {
    if (env_.testMode || !display_.lockVisible || !svc_.windows)
        return;
    svc_.windows->setTopMost(ownId(OwnWindow::Lock));
}

bool ClientCore::ForceForeground(platform::WindowId w, bool activate) {
    if (!svc_.windows || w == 0)
        return false;
    const bool ok = activate ? svc_.windows->setForeground(w) : true;
    if (w == ownId(OwnWindow::Lock)) {
        for (OwnWindow o : {OwnWindow::Main, OwnWindow::Welcome, OwnWindow::Password}) {
            if (!ownShowing(o))
                continue;
            const platform::WindowId id = ownId(o);
            svc_.windows->raise(id);
            svc_.windows->setForeground(id);
            svc_.windows->setTopMost(id);
        }
    }
    return ok;
}

bool ClientCore::ForeignAboveLock() {
    const auto order = svc_.windows->stackingOrder();
    if (!order)
        return true;
    const platform::WindowId lock = ownId(OwnWindow::Lock);
    for (platform::WindowId w : *order) {
        if (w == lock)
            return false;
        if (svc_.windows->windowTitle(w).isEmpty())
            continue;
        if (!IsOwnWindow(w,
                         {OwnWindow::Clock, OwnWindow::Welcome, OwnWindow::Notice,
                          OwnWindow::Progress, OwnWindow::ReqTime, OwnWindow::SendMsg,
                          OwnWindow::Password, OwnWindow::App, OwnWindow::Main, OwnWindow::Config}))
            return true;
    }
    return false;
}

void ClientCore::EnforcementTick() {
    if (env_.testMode || closing_.load() || inConfig_ || !svc_.windows ||
        (svc_.own && svc_.own->isShowing(OwnWindow::Config)))
        return;
    platform::WindowSystem& ws = *svc_.windows;
    platform::WindowId f = ws.foregroundWindow();
    if (state_ == ClientState::Waiting && ownShowing(OwnWindow::Welcome) &&
        f != ownId(OwnWindow::Welcome)) {
        const platform::WindowId welcome = ownId(OwnWindow::Welcome);
        ForceForeground(welcome, true);
        ws.setTopMost(welcome);
        f = ws.foregroundWindow();
    }
    const QString cls = ws.windowClass(f, 100);
    PinTimeoutCheck();
    // No window in front (a desktop without a window manager, or a moment
    // between two windows): nothing to fight, and nothing to count.
    if (f == 0)
        return;

    if (state_ == ClientState::Locked || state_ == ClientState::Waiting) {
        const std::pair<OwnWindow, Txt> named[] = {
            {OwnWindow::Main, Txt::StrMainActive},   {OwnWindow::Lock, Txt::StrBackActive},
            {OwnWindow::Clock, Txt::StrClockActive}, {OwnWindow::Welcome, Txt::StrGrantAccess},
            {OwnWindow::Tasks, Txt::StrCheckTask},   {OwnWindow::Notice, Txt::StrNotice},
            {OwnWindow::Progress, Txt::StrNotice},   {OwnWindow::Password, Txt::StrPassReq},
            {OwnWindow::App, Txt::StrAppPresent},
        };
        for (const auto& [kind, text] : named) {
            if (f != 0 && f == ownId(kind)) {
                setStatus(texts_.get(text));
                return;
            }
        }
        if (f != 0 && (ws.isTaskBar(f) || cls == u"Shell_TrayWnd")) {
            setStatus(QStringLiteral("Shell_TrayWnd"));
            ws.postTaskList(f);
            return;
        }
        setStatus(texts_.get(Txt::StrExtWin));
        if (f == foreignWindow_) {
            ++foreignCount_;
        } else {
            foreignWindow_ = f;
            foreignCount_ = 1;
        }
        if (foreignCount_ > 35) {
            SendFreeMessage("El bloqueo no se hace efectivo");
            QList<QByteArray> tasks = control_->taskCaptions();
            sendOrReconnect("R45" + protocol::FormatHex(static_cast<quint32>(f), 8) +
                            protocol::JoinCommaList(tasks));
            ManifestScheduleShutdown(0, u'L');
        }
        const bool above = ForeignAboveLock();
        const platform::WindowId lock = ownId(OwnWindow::Lock);
        if ((f != ownId(OwnWindow::SendMsg) || above) && f != lock) {
            ForceForeground(lock, true);
            ws.setTopMost(lock);
            ws.setForeground(lock);
        }
        if (above) {
            if (state_ != ClientState::Locked)
                ws.setTopMost(ownId(OwnWindow::Clock));
            bool done = false;
            for (OwnWindow o : {OwnWindow::Password, OwnWindow::Notice, OwnWindow::Config,
                                OwnWindow::Welcome, OwnWindow::SendMsg}) {
                if (ownShowing(o)) {
                    const platform::WindowId id = ownId(o);
                    ws.raise(id);
                    ws.setTopMost(id);
                    ws.setForeground(id);
                    done = true;
                    break;
                }
            }
            if (!done && display_.mainVisible) {
                const platform::WindowId id = ownId(OwnWindow::Main);
                ws.raise(id);
                ws.setTopMost(id);
                ws.setForeground(id);
            }
        }
        return;
    }
    if (!IsOwnWindow(f, {OwnWindow::Clock, OwnWindow::Main, OwnWindow::Welcome, OwnWindow::Tasks,
                         OwnWindow::Notice, OwnWindow::Progress, OwnWindow::ReqTime,
                         OwnWindow::SendMsg, OwnWindow::Password, OwnWindow::App}))
        ws.setTopMost(ownId(OwnWindow::Clock));
}

void ClientCore::ToggleMainWindow() {
    if (display_.mainVisible) {
        display_.mainVisible = false;
    } else {
        display_.mainVisible = true;
        if ((display_.lockVisible || state_ == ClientState::Locked ||
             state_ == ClientState::Waiting) &&
            svc_.windows)
            svc_.windows->setTopMost(ownId(OwnWindow::Main));
    }
    changed();
}

void ClientCore::HideMainWindow() {
    display_.mainVisible = false;
    changed();
}

void ClientCore::SetLockOpacity(int alpha) {
    if (firstShowPending_)
        return;
    alpha = std::clamp(alpha, 0, 255);
    if (alpha == display_.lockOpacity)
        return;
    display_.lockOpacity = alpha;
    if (alpha != 255)
        display_.lockLayered = true;
    changed();
}

// --- countdown ------------------------------------------------------------------

void ClientCore::RelojVisualTick() {
    if (firstShowPending_ || closing_.load())
        return;
    const DateTime t = now();
    display_.lblClock = common::FormatDateTime(QStringLiteral("hh:nn:ss a/p"), t);
    if (end_.days() > 0 && end_ > t) {
        if (!blinking_)
            display_.clockColour = ClientDisplay::ClockColour::ButtonFace;
        else
            display_.clockColour = (t.second() % 2) ? ClientDisplay::ClockColour::Red
                                                    : ClientDisplay::ClockColour::Yellow;
        const qint64 span = display_.countMode == 1 ? start_.msecsTo(t) : t.msecsTo(end_);
        const QString text = common::FormatDuration(QStringLiteral("hh:nn:ss"), span);
        if (t.minute() != lastMinuteSeen_) {
            lastMinuteSeen_ = t.minute();
            const qint64 whole = start_.msecsTo(end_);
            display_.progress =
                whole > 0
                    ? static_cast<int>(std::clamp<qint64>(start_.msecsTo(t) * 100 / whole, 0, 100))
                    : 0;
        }
        display_.lblDisp = text;
        display_.clockText = text;
        if (alarmTime_.days() != 0 && alarmTime_ <= t && display_.alarmEnabled) {
            alarmTime_ = DateTime::FromDays(0);
            const QString snd = StationFile(env_.currentDir, settings_.alarmSnd);
            if (settings_.alarmSnd.isEmpty() || !QFileInfo::exists(snd)) {
                blinking_ = true;
            } else {
                lastCommand_.set(QStringLiteral("CheckTaskForSound"));
                blinking_ = PlayAlarm();
            }
            if (blinking_ && svc_.windows &&
                svc_.windows->foregroundWindow() != ownId(OwnWindow::Clock))
                svc_.windows->setTopMost(ownId(OwnWindow::Clock));
        }
        changed();
    } else if (end_.days() > 0 && end_ <= t) {
        LockStation();
    }
    BannerTick(t);
    if (shutdownLetter_ != u'N' && t >= shutdownDue_) {
        const QChar letter = shutdownLetter_;
        if (control_->executeShutdown(letter)) {
            Q_EMIT closeRequested();
        }
    }
    ServiceTick(t);
}

bool ClientCore::PlayAlarm() {
    if (!exemptions_.isEmpty() && svc_.windows) {
        for (platform::WindowId w : svc_.windows->visibleTitledWindows()) {
            if (IsOwnWindow(w, {OwnWindow::Main, OwnWindow::Clock, OwnWindow::App}))
                continue;
            const QString title = svc_.windows->windowTitle(w);
            for (const QString& ex : exemptions_)
                if (title.compare(ex, Qt::CaseInsensitive) == 0)
                    return false;
        }
    }
    if (svc_.audio)
        svc_.audio->playAsync(StationFile(env_.currentDir, settings_.alarmSnd));
    return true;
}

void ClientCore::BannerTick(const DateTime& t) {
    const QList<MachineControl::Banner> list = control_->banners();
    const int def = control_->defaultBannerDelay();
    int delay = def;
    if (!list.isEmpty())
        delay = bannerIndex_ < list.size() ? list[bannerIndex_].delaySeconds : 5;
    if (delay <= 0)
        delay = def;
    if (delay <= 0 || !display_.lockVisible || lastBannerChange_.secondsTo(t) <= delay)
        return;
    lastBannerChange_ = t;
    if (list.isEmpty())
        return;
    bannerIndex_ = (bannerIndex_ + 1) % list.size();
    const QString file = list[bannerIndex_].file;
    if (!QFileInfo::exists(file))
        return;
    display_.bannerFile = file;
    display_.bannerSerial++;
    changed();
}

void ClientCore::ServiceTick(const DateTime& t) {
    if (!svc_.service || env_.osMajor <= 3 || serviceCheck_.days() == 0 ||
        serviceCheck_.msecsTo(t) <= 60000)
        return;
    serviceCheck_ = t;
    if (svc_.service->isRunning(kServiceName))
        return;
    SendClientMessage(
        QStringLiteral("\"ZU Service\" falla en ejecución. Se verificará nuevamente en 60 segundos "
                       "contados desde  ") +
        common::FormatDateTime(QStringLiteral("hh:nn"), t) +
        QStringLiteral("\r.Verifique que \"ServiceZU\" está en ejecución.\r") +
        QStringLiteral("La falla de este servico es un problema potencial de seguridad."));
    SendFreeMessage(
        common::ToCp1252(u"\"ZU Service\" falla en ejecución. Ver mensaje en consola."));
    QString err;
    if (!svc_.service->resume(kServiceName, &err))
        LogException(QStringLiteral("SetService (Resume) ") + err);
}

void ClientCore::ActClockMode() {
    display_.countMode = display_.countMode == 1 ? 0 : display_.countMode + 1;
    Q_EMIT showClockWindow();
    UpdateDispCaption();
    changed();
}

void ClientCore::ActAlarmMode() {
    display_.alarmEnabled = !display_.alarmEnabled;
    changed();
}

void ClientCore::SetAlarmMinutes(int minutes) {
    display_.alarmMinutes = minutes;
    if (minutes < 0)
        alarmTime_ = DateTime::FromDays(0);
    else
        alarmTime_ = end_.addMinutes(-minutes);
    changed();
}

// --- session file ---------------------------------------------------------------

void ClientCore::SaveSession() {
    SessionRecord r;
    r.countMode = static_cast<quint8>(display_.countMode == 1 ? 1 : 0);
    r.written = now().days();
    r.start = start_.days();
    r.minutes = common::ToCp1252(minutes_);
    r.user = common::ToCp1252(user_);
    r.state = static_cast<quint8>(state_);
    r.pin = common::ToCp1252(pin_);
    r.tag = common::ToCp1252(tag_);
    QDir().mkpath(QFileInfo(sessionFilePath()).absolutePath());
    QString err;
    if (!WriteSessionFile(sessionFilePath(), r, &err))
        SendClientMessage(QStringLiteral("Falló establecimiento de registro de estado [") + err +
                          u']');
}

void ClientCore::ManifestSaveSession() {
    display_.clockHintVisible = state_ == ClientState::InUse;
    SaveSession();
    changed();
}

void ClientCore::RestoreSession() {
    QString err;
    const auto rec = ReadSessionFile(sessionFilePath(), &err);
    if (!rec) {
        if (!err.isEmpty()) {
            // A damaged file never unlocks the station: it starts locked and
            // says so.
            SendClientMessage(QStringLiteral("Falló apertura de registro de estado ") + err);
            LogException(QStringLiteral("con ...\\session.dta ") + err);
            setStatus(texts_.get(Txt::StrBlock));
        }
        return;
    }
    display_.countMode = rec->countMode;
    Q_EMIT showClockWindow();
    UpdateDispCaption();
    const DateTime storedStart = DateTime::FromDays(rec->start);
    const QString storedMinutes = common::FromCp1252(rec->minutes);
    const DateTime storedEnd = storedStart.addMinutes(BoundedMinutes(WholeMinutes(storedMinutes)));
    const DateTime t = now();
    start_ = storedStart;
    user_ = common::FromCp1252(rec->user);
    pin_ = common::FromCp1252(rec->pin);
    tag_ = common::FromCp1252(rec->tag);
    if (t < storedEnd && t > storedStart) {
        minutes_ = storedMinutes;
        const auto st = static_cast<ClientState>(rec->state);
        SetClientState(st);
        end_ = st == ClientState::InUse ? storedEnd : t;
        setStatus(texts_.get(Txt::StrEnUso) + QStringLiteral(": ") + user_);
        SetAlarmTimeFromMinutes();
        if (st != ClientState::InUse)
            alarmTime_ = DateTime::FromDays(0);
        CloseLockScreen();
    } else {
        minutes_.clear();
        SetClientState(ClientState::Locked);
        end_ = t;
        alarmTime_ = DateTime::FromDays(0);
    }
    changed();
}

// --- end of use and extra time --------------------------------------------------

void ClientCore::EndOfUse() {
    const DateTime t = now();
    if (t < end_) {
        minutes_ = QString::number(t.msecsTo(end_) / 60000);
        end_ = t;
    }
    post([this] { ManifestSaveSession(); });
    post([this] { ManifestMediaCheck(); });
}

void ClientCore::ApplyExtraTime(const QByteArray& text, bool silent) {
    if (!user_.isEmpty()) {
        bool ok = false;
        const qint64 parsed = protocol::TrimBlanks(text.left(256)).toLongLong(&ok);
        const int add = static_cast<int>(BoundedMinutes(ok ? parsed : 0));
        minutes_ = QString::number(WholeMinutes(minutes_) + add);
        SetClientState(ClientState::InUse);
        setStatus(texts_.get(Txt::StrEnUso));
        end_ = end_.addMinutes(add);
        blinking_ = false;
        SetAlarmTimeFromMinutes();
        sendOrReconnect("R06" + common::ToCp1252(user_));
        post([this, add, silent] { ManifestExtraTime(add, silent); });
    }
    SendStatusReport();
    changed();
}

void ClientCore::ManifestExtraTime(int add, bool silent) {
    HideMainWindow();
    SaveSession();
    if (!silent && svc_.notice)
        svc_.notice->showNotice(texts_.minutesGranted(add));
}

void ClientCore::RequestMoreTime(const QString& minutesText) {
    if (!link_.isConnected())
        return;
    if (!SendLine("R05" + common::ToCp1252(minutesText))) {
        setStatus(texts_.get(Txt::StrWithOutConn));
        ScheduleReconnect(true, true);
    }
}

} // namespace tarvina::client
