#include "client/session/Session.h"

#include "client/link/StationLink.h"
#include "client/session/LockEnforcer.h"
#include "client/session/PinEntry.h"
#include "client/session/SessionFile.h"
#include "client/station/MachineControl.h"
#include "client/station/StationLog.h"
#include "client/station/StationView.h"
#include "common/Cp1252.h"
#include "common/Password.h"
#include "platform/Audio.h"
#include "platform/Power.h"
#include "protocol/Fields.h"
#include "protocol/StationLines.h"

#include <QDir>
#include <QFileInfo>

namespace tarvina::client {

using common::DateTime;

namespace {

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

Session::Session(StationContext& ctx, StationLink& link, LockEnforcer& lock, PinEntry& pin,
                 QObject* parent)
    : QObject(parent), ctx_(ctx), link_(link), lock_(lock), pin_(pin) {}

QString Session::sessionFilePath() const {
    return StationFile(ctx_.env.programFolder, QStringLiteral("Data\\") + kSessionFileName);
}

// --- state ----------------------------------------------------------------------

void Session::SetClientState(ClientState s) {
    if (s == state_)
        return;
    state_ = s;
    ctx_.view.display().caption = ctx_.env.computerName + u'[' + StateWord(s) + u']';
    UpdateMenusForConnection();
    pin_.LayPinPanel(s);
    ctx_.view.changed();
}

void Session::UpdateMenusForConnection() {
    ClientDisplay& d = ctx_.view.display();
    const bool up = link_.connected();
    d.masTiempoEnabled = up;
    d.terminaUsoEnabled = state_ == ClientState::InUse && up;
    d.mensajesEnabled = up && (ctx_.settings.msgAtBlock || state_ == ClientState::InUse);
    ctx_.view.changed();
}

void Session::SetBlockMessageMode(bool on) {
    ctx_.settings.msgAtBlock = on;
    UpdateMenusForConnection();
}

void Session::SendStatusReport() {
    const DateTime t = ctx_.now();
    double remaining =
        end_.days() > 0 ? static_cast<double>(t.msecsTo(end_)) / DateTime::kMsPerDay : 0.0;
    if (remaining < 0)
        remaining = 0;
    if (!link_.connected())
        return;
    protocol::station::Status s;
    s.state = static_cast<int>(state_);
    s.user = common::ToCp1252(user_);
    s.daysLeft = remaining;
    s.start = start_.days();
    s.tag = common::ToCp1252(tag_);
    s.computer = common::ToCp1252(ctx_.env.computerName);
    s.version = common::ToCp1252(ctx_.env.versionText);
    link_.SendReport(protocol::station::StatusReport(s));
}

void Session::SetAlarmTimeFromMinutes() {
    const ClientDisplay& d = ctx_.view.display();
    if (d.alarmMinutes > 0 && end_.days() > 0)
        alarmTime_ = end_.addMinutes(-d.alarmMinutes);
    else
        alarmTime_ = DateTime::FromDays(0);
}

void Session::UpdateDispCaption() {
    ClientDisplay& d = ctx_.view.display();
    d.dispCaption = d.countMode == 1 ? ctx_.view.text(Txt::lblTranscurrido)
                                     : ctx_.view.text(Txt::lblDisponible);
}

// --- grant ----------------------------------------------------------------------

void Session::TestGrant(int minutes) {
    StartGrant({QString::number(minutes), QStringLiteral("Velt"), {}});
}

void Session::HoldGrants(bool on) {
    holdGrants_ = on;
    if (on || !heldGrant_)
        return;
    const Grant g = *heldGrant_;
    heldGrant_.reset();
    StartGrant(g);
}

void Session::StartGrant(const Grant& g) {
    if (holdGrants_) {
        heldGrant_ = g;
        return;
    }
    if (g.passwordInvalid) {
        // Fail closed: the station stays locked and the cashier is told.
        link_.SendClientMessage(QStringLiteral("Solicitud de acceso rechazada en ") +
                                ctx_.env.computerName +
                                QStringLiteral(": la contraseña recibida no es válida."));
        SendStatusReport();
        return;
    }
    if (!tasksRecorded_) {
        ctx_.log.lastCommand().set(QStringLiteral("TareasARegistro"));
        ctx_.platform.control.recordTasks();
        tasksRecorded_ = true;
    }
    // The grant's fields are the session's from its arrival on: the waiting
    // report already names the user.
    user_ = g.user;
    minutes_ = g.minutes;
    tag_ = QStringLiteral("-1");
    WelcomeDialog& dlg = ctx_.platform.welcome;
    if (dlg.isShowing()) {
        link_.SendClientMessage(
            QStringLiteral("Nueva solicitud de contraseña obliga a terminar la anterior"));
        dlg.close();
        post([this, g] { StartGrant(g); });
        return;
    }
    SetClientState(ClientState::Waiting);
    SendStatusReport();
    lock_.HideMainWindow();

    int attemptsLeft = 3;
    WelcomeDialog::Setup setup = PrepareWelcome(g);
    while (attemptsLeft > 0) {
        QString typed;
        const bool ok = dlg.exec(setup, &typed);
        if (ctx_.closing.load())
            return;
        if (ok && setup.askPassword &&
            common::ScramblePassword(common::ToCp1252(typed)) != g.password) {
            const int before = attemptsLeft;
            --attemptsLeft;
            setup.caption =
                ctx_.view.text(Txt::StrTryAccess) + QStringLiteral(" (%1)").arg(5 - before);
            link_.SendClientMessage(g.user + QStringLiteral(" intenta usar  ") +
                                    ctx_.env.computerName +
                                    QStringLiteral(" fallando con la clave."));
            continue;
        }
        if (ok) {
            BeginUse(g);
            attemptsLeft = 0;
        } else {
            link_.SendClientMessage(setup.user +
                                    QStringLiteral(" abandona intento de contraseña."));
            SetClientState(ClientState::Locked);
            attemptsLeft = 0;
        }
    }
    if (state_ != ClientState::InUse)
        SetClientState(ClientState::Locked);
    SendStatusReport();
    ctx_.view.changed();
}

WelcomeDialog::Setup Session::PrepareWelcome(const Grant& g) {
    WelcomeDialog::Setup setup;
    setup.caption = ctx_.view.text(Txt::AccessWelcomeCaption);
    if (g.minutes.trimmed() == u"2880") {
        setup.timeText = ctx_.view.text(Txt::StrNoLimite);
        ctx_.view.display().countMode = 1;
        UpdateDispCaption();
    } else {
        setup.timeText = g.minutes + u' ' + ctx_.view.text(Txt::lblMin);
    }
    setup.user = g.user;
    setup.askPassword = !g.password.isEmpty();
    lock_.KeepLockOnTop();
    ctx_.view.setStatus(ctx_.view.text(Txt::StrBlock));
    return setup;
}

void Session::BeginUse(const Grant& g) {
    link_.SendClientMessage(g.user + QStringLiteral(" está en ") + ctx_.env.computerName);
    user_ = g.user;
    minutes_ = g.minutes;
    SetClientState(ClientState::InUse);
    ctx_.view.setStatus(ctx_.view.text(Txt::StrEnUso) + QStringLiteral(": ") + user_);
    const DateTime t = ctx_.now();
    end_ = t.addMinutes(BoundedMinutes(WholeMinutes(g.minutes)));
    start_ = t;
    blinking_ = false;
    lastMinuteSeen_ = -1;
    SetAlarmTimeFromMinutes();
    lock_.CloseLockScreen();
    SaveSession();
    link_.SendReply(protocol::station::SessionStarted(common::ToCp1252(user_)));
}

void Session::EndPasswordRequest() {
    WelcomeDialog& dlg = ctx_.platform.welcome;
    if (!dlg.isShowing())
        return;
    if (link_.connected() && !link_.SendLine(protocol::station::ClientMessage(
                                 common::ToCp1252(u"Terminada solicitud de contraseña ")))) {
        ctx_.log.lastCommand().set(QStringLiteral("ManifestNoPass"));
        link_.ScheduleReconnect(true, true);
    }
    dlg.close();
}

// --- lock -------------------------------------------------------------------------

void Session::LockStation() {
    const bool afterUse = state_ == ClientState::InUse;
    ClientDisplay& d = ctx_.view.display();
    end_ = DateTime::FromDays(0);
    d.lblDisp = kZeroTime;
    d.clockText = kZeroTime;
    d.progress = 0;
    blinking_ = false;
    alarmTime_ = DateTime::FromDays(0);
    SetClientState(ClientState::Locked);
    d.clockColour = ClientDisplay::ClockColour::ButtonFace;
    ctx_.platform.control.applyWallpaper();
    ctx_.view.setStatus(ctx_.view.text(Txt::StrBlock));
    if (!ctx_.closing.load())
        d.lockMayClose = false;
    lock_.RestartBannerClock();
    // In code mode the code box is on the main window, hidden since the
    // grant: the next customer needs it above the lock.
    if (pin_.pinMode() && !d.mainVisible)
        lock_.ToggleMainWindow();
    lock_.ShowLockScreen();
    lock_.BringLockToFront();
    lock_.EnforcementTick();
    if (link_.connected())
        SendStatusReport();
    ctx_.view.changed();
    if (afterUse)
        Q_EMIT lockedAfterUse();
}

// --- countdown ------------------------------------------------------------------

void Session::RelojVisualTick() {
    if (ctx_.firstShowPending || ctx_.closing.load())
        return;
    ClientDisplay& d = ctx_.view.display();
    const DateTime t = ctx_.now();
    d.lblClock = common::FormatDateTime(QStringLiteral("hh:nn:ss a/p"), t);
    if (end_.days() > 0 && end_ > t) {
        if (!blinking_)
            d.clockColour = ClientDisplay::ClockColour::ButtonFace;
        else
            d.clockColour = (t.second() % 2) ? ClientDisplay::ClockColour::Red
                                             : ClientDisplay::ClockColour::Yellow;
        const qint64 span = d.countMode == 1 ? start_.msecsTo(t) : t.msecsTo(end_);
        const QString text = common::FormatDuration(QStringLiteral("hh:nn:ss"), span);
        if (t.minute() != lastMinuteSeen_) {
            lastMinuteSeen_ = t.minute();
            const qint64 whole = start_.msecsTo(end_);
            d.progress =
                whole > 0
                    ? static_cast<int>(std::clamp<qint64>(start_.msecsTo(t) * 100 / whole, 0, 100))
                    : 0;
        }
        d.lblDisp = text;
        d.clockText = text;
        if (alarmTime_.days() != 0 && alarmTime_ <= t && d.alarmEnabled) {
            alarmTime_ = DateTime::FromDays(0);
            const QString snd = StationFile(ctx_.env.currentDir, ctx_.settings.alarmSnd);
            if (ctx_.settings.alarmSnd.isEmpty() || !QFileInfo::exists(snd)) {
                blinking_ = true;
            } else {
                ctx_.log.lastCommand().set(QStringLiteral("CheckTaskForSound"));
                blinking_ = !lock_.AlarmExempt();
                if (blinking_)
                    ctx_.platform.audio.playAsync(snd);
            }
            if (blinking_)
                lock_.RaiseClock();
        }
        ctx_.view.changed();
    } else if (end_.days() > 0 && end_ <= t) {
        LockStation();
    }
    lock_.BannerTick(t);
    if (shutdownLetter_ != u'N' && t >= shutdownDue_) {
        if (platform::CarryOutShutdown(ctx_.platform.power, shutdownLetter_))
            Q_EMIT ctx_.view.closeRequested();
    }
}

void Session::ActClockMode() {
    ClientDisplay& d = ctx_.view.display();
    d.countMode = d.countMode == 1 ? 0 : d.countMode + 1;
    Q_EMIT ctx_.view.showClockWindow();
    UpdateDispCaption();
    ctx_.view.changed();
}

void Session::ActAlarmMode() {
    ctx_.view.display().alarmEnabled = !ctx_.view.display().alarmEnabled;
    ctx_.view.changed();
}

void Session::SetAlarmMinutes(int minutes) {
    ctx_.view.display().alarmMinutes = minutes;
    if (minutes < 0)
        alarmTime_ = DateTime::FromDays(0);
    else
        alarmTime_ = end_.addMinutes(-minutes);
    ctx_.view.changed();
}

void Session::ScheduleShutdown(int seconds, QChar letter) {
    shutdownLetter_ = letter;
    shutdownDue_ = ctx_.now().addSeconds(seconds);
    ctx_.view.setStatus(
        QStringLiteral("ShutDown /") + letter + QStringLiteral(" at ") +
        common::FormatDateTime(QStringLiteral("dd/mm/yyyy hh:nn:ss"), shutdownDue_));
}

// --- session file ---------------------------------------------------------------

void Session::SaveSession() {
    SessionRecord r;
    r.countMode = static_cast<quint8>(ctx_.view.display().countMode == 1 ? 1 : 0);
    r.written = ctx_.now().days();
    r.start = start_.days();
    r.minutes = common::ToCp1252(minutes_);
    r.user = common::ToCp1252(user_);
    r.state = static_cast<quint8>(state_);
    r.pin = common::ToCp1252(pin_.pin());
    r.tag = common::ToCp1252(tag_);
    QDir().mkpath(QFileInfo(sessionFilePath()).absolutePath());
    QString err;
    if (!WriteSessionFile(sessionFilePath(), r, &err))
        link_.SendClientMessage(QStringLiteral("Falló establecimiento de registro de estado [") +
                                err + u']');
}

void Session::SaveSessionPosted() {
    ctx_.view.display().clockHintVisible = state_ == ClientState::InUse;
    SaveSession();
    ctx_.view.changed();
}

void Session::RestoreSession() {
    QString err;
    const auto rec = ReadSessionFile(sessionFilePath(), &err);
    if (!rec) {
        if (!err.isEmpty()) {
            // A damaged file never unlocks the station: it starts locked and
            // says so.
            link_.SendClientMessage(QStringLiteral("Falló apertura de registro de estado ") + err);
            ctx_.log.LogException(QStringLiteral("con ...\\session.dta ") + err);
            ctx_.view.setStatus(ctx_.view.text(Txt::StrBlock));
        }
        return;
    }
    ctx_.view.display().countMode = rec->countMode;
    Q_EMIT ctx_.view.showClockWindow();
    UpdateDispCaption();
    const DateTime storedStart = DateTime::FromDays(rec->start);
    const QString storedMinutes = common::FromCp1252(rec->minutes);
    const DateTime storedEnd = storedStart.addMinutes(BoundedMinutes(WholeMinutes(storedMinutes)));
    const DateTime t = ctx_.now();
    start_ = storedStart;
    user_ = common::FromCp1252(rec->user);
    pin_.setPin(common::FromCp1252(rec->pin));
    tag_ = common::FromCp1252(rec->tag);
    // With grants held (a cleaning owed after a use) no stored use reopens.
    if (t < storedEnd && t > storedStart && !holdGrants_) {
        minutes_ = storedMinutes;
        const auto st = static_cast<ClientState>(rec->state);
        SetClientState(st);
        end_ = st == ClientState::InUse ? storedEnd : t;
        ctx_.view.setStatus(ctx_.view.text(Txt::StrEnUso) + QStringLiteral(": ") + user_);
        SetAlarmTimeFromMinutes();
        if (st != ClientState::InUse)
            alarmTime_ = DateTime::FromDays(0);
        lock_.CloseLockScreen();
    } else {
        minutes_.clear();
        SetClientState(ClientState::Locked);
        end_ = t;
        alarmTime_ = DateTime::FromDays(0);
    }
    ctx_.view.changed();
}

// --- end of use and extra time --------------------------------------------------

void Session::EndOfUse() {
    const DateTime t = ctx_.now();
    if (t < end_) {
        minutes_ = QString::number(t.msecsTo(end_) / 60000);
        end_ = t;
    }
    post([this] { SaveSessionPosted(); });
    post([this] { Q_EMIT useEnded(); });
}

void Session::ApplyExtraTime(const QByteArray& text, bool silent) {
    if (!user_.isEmpty()) {
        bool ok = false;
        const qint64 parsed = protocol::TrimBlanks(text.left(256)).toLongLong(&ok);
        const int add = static_cast<int>(BoundedMinutes(ok ? parsed : 0));
        minutes_ = QString::number(WholeMinutes(minutes_) + add);
        SetClientState(ClientState::InUse);
        ctx_.view.setStatus(ctx_.view.text(Txt::StrEnUso));
        end_ = end_.addMinutes(add);
        blinking_ = false;
        SetAlarmTimeFromMinutes();
        link_.SendReply(protocol::station::TimeAdded(common::ToCp1252(user_)));
        post([this, add, silent] { ExtraTimeGranted(add, silent); });
    }
    SendStatusReport();
    ctx_.view.changed();
}

void Session::ExtraTimeGranted(int add, bool silent) {
    lock_.HideMainWindow();
    SaveSession();
    if (!silent)
        ctx_.platform.notice.showNotice(ctx_.view.texts().minutesGranted(add));
}

void Session::RequestMoreTime(const QString& minutesText) {
    if (!link_.connected())
        return;
    if (!link_.SendLine(protocol::station::TimeRequest(common::ToCp1252(minutesText)))) {
        ctx_.view.setStatus(ctx_.view.text(Txt::StrWithOutConn));
        link_.ScheduleReconnect(true, true);
    }
}

void Session::TimeRequestMode(const QString& mode, const QString& list) {
    ClientDisplay& d = ctx_.view.display();
    if (mode == u"0") {
        d.masTiempoVisible = false;
        Q_EMIT ctx_.view.closeTimeRequestDialog();
    } else if (mode == u"1") {
        d.masTiempoVisible = true;
        d.moreTimeFreeText = true;
    } else if (mode == u"2") {
        d.masTiempoVisible = true;
        QStringList items;
        for (const QByteArray& item : protocol::SplitCommaList(common::ToCp1252(list)))
            items << common::FromCp1252(item).trimmed();
        d.moreTimeItems = items;
        d.moreTimeFreeText = false;
    } else {
        return;
    }
    ctx_.view.changed();
}

} // namespace tarvina::client
