#pragma once

#include "client/control/MachineControl.h"
#include "client/control/Texts.h"
#include "client/net/TcpLink.h"
#include "client/session/ClientSettings.h"
#include "common/DateTime.h"
#include "common/LastCommand.h"
#include "platform/WindowSystem.h"

#include <QMutex>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace tarvina::platform {
class Audio;
class Clock;
class Drives;
class Registry;
class ServiceControl;
class Shell;
class SystemTimeSetter;
} // namespace tarvina::platform

namespace tarvina::client {

// The client state digit reported to the server and kept in the session file.
enum class ClientState : quint8 { Offline = 0, Locked = 1, InUse = 2, InService = 3, Waiting = 4 };
QString StateWord(ClientState s);

// The station's own windows, as the enforcement of the lock needs to know them.
enum class OwnWindow {
    Main,
    Lock,
    Clock,
    Welcome,
    Tasks,
    Notice,
    Progress,
    Password,
    App,
    SendMsg,
    ReqTime,
    Config,
    Count
};

class OwnWindows {
public:
    virtual ~OwnWindows() = default;
    virtual platform::WindowId id(OwnWindow w) const = 0;
    virtual bool isShowing(OwnWindow w) const = 0;
};

// The welcome dialog of a grant. exec() shows it modally (running a nested
// event loop in the real program) and returns true for OK with the typed
// password; close() ends a running exec() as cancelled.
class WelcomeDialog {
public:
    struct Setup {
        QString caption;
        QString timeText;
        QString user;
        bool askPassword = false;
    };
    virtual ~WelcomeDialog() = default;
    virtual bool exec(const Setup& setup, QString* typedPassword) = 0;
    virtual bool isShowing() const = 0;
    virtual void close() = 0;
};

// The exit password dialog: true for OK with the typed text.
class PasswordDialog {
public:
    virtual ~PasswordDialog() = default;
    virtual bool exec(QString* typed) = 0;
};

// The notice window (shown without being modal) and the last-resort error box.
class NoticeView {
public:
    virtual ~NoticeView() = default;
    virtual void showNotice(const QString& text) = 0;
    virtual void errorBox(const QString& caption, const QString& text) = 0;
};

// Everything the windows show; the widgets redraw from it on displayChanged.
struct ClientDisplay {
    enum class ClockColour { ButtonFace, Red, Yellow };

    QString statusText = QStringLiteral("Iniciando...");
    QString caption;  // computer name + "[" + state word + "]"
    QString appTitle; // "Tarvina [XP]"
    QString lblClock; // time of day, "hh:mm:ss a/p"
    QString lblDisp = QStringLiteral("00:00:00");
    QString clockText = QStringLiteral("00:00:00");
    QString dispCaption; // "Disponible" / "Transcurrido"
    int progress = 0;
    ClockColour clockColour = ClockColour::ButtonFace;
    QString clockHint;
    bool clockHintVisible = false;

    bool lockVisible = false;
    bool lockMayClose = false;
    int lockOpacity = 255;
    bool lockLayered = false;
    QString lockPicture; // full path of Background when it exists
    QString bannerFile;
    QPoint bannerPos;
    int bannerSerial = 0;

    bool mainVisible = true; // the "Visible" check
    bool terminaUsoEnabled = false;
    bool mensajesEnabled = false;
    bool masTiempoEnabled = false; // follows the connection
    bool masTiempoVisible = true;
    bool moreTimeFreeText = true;
    QStringList moreTimeItems{QStringLiteral("5"),  QStringLiteral("10"), QStringLiteral("15"),
                              QStringLiteral("30"), QStringLiteral("60"), QStringLiteral("120")};

    bool alarmEnabled = true;
    int alarmMinutes = 5;
    int countMode = 0;

    // PIN panel
    bool pinPanelVisible = false;
    bool edPinEnabled = false;
    bool btnTryPinEnabled = false;
    QString lblStsPin = QStringLiteral("PIN [0..9, A..F]");
    QString lblStsCheckPin;
    int mainHeight = 147;
};

// A file of the station's folders: a relative name ("Data\\session.dta") is
// found without regard to case, as the names were spelled on the original
// platform; an absolute path stands as it is.
QString StationFile(const QString& folder, const QString& name);

// What the station is given at start.
struct ClientEnvironment {
    QString programFolder; // data, logs and session file live under it
    QString currentDir;    // language files, "noalarm.txt"
    QString exeName;
    quint16 port = 6046;
    QString localAddress; // local end of the connection; empty: any
    bool testMode = false;
    QString computerName;
    QString macText;
    QString versionText;
    int osMajor = 6;
};

struct ClientServices {
    platform::Clock* clock = nullptr;
    platform::Registry* registry = nullptr;
    platform::WindowSystem* windows = nullptr;
    platform::Audio* audio = nullptr;
    platform::ServiceControl* service = nullptr;
    platform::Shell* shell = nullptr;
    platform::Drives* drives = nullptr;
    platform::SystemTimeSetter* timeSetter = nullptr;
    MachineControl* control = nullptr;
    OwnWindows* own = nullptr;
    WelcomeDialog* welcome = nullptr;
    PasswordDialog* password = nullptr;
    NoticeView* notice = nullptr;
};

// A grant as the server sent it (or a test-mode grant).
struct Grant {
    QString minutes;
    QString user;
    QByteArray password; // scrambled form; empty: none asked
};

// The station's logic: settings, connection and its two threads, the
// dispatcher, the session, the lock and its enforcement, the countdown and
// the PIN entry. It lives on the main thread; the receive thread reaches it
// only through Dispatch, which posts every change of session or display state
// back to the main thread as a queued call of one named method.
class ClientCore : public QObject {
    Q_OBJECT
public:
    ClientCore(ClientEnvironment env, ClientServices services, QObject* parent = nullptr);
    ~ClientCore() override;

    // --- start and exit -------------------------------------------------
    // Main window creation: data folder probe, settings, country, screen
    // saver, noalarm.txt, state locked. Does not connect.
    void Create();
    // The show of the main window: service check, lock screen, and on the
    // first show the language file, the session restore, the first connect
    // thread and the timers.
    void Show();
    // Close request: true when the station may close (shutdown pending, or
    // the configuration password was given).
    bool CloseQuery();
    // Orderly close: threads stopped and joined, settings written back.
    void Close();
    bool closing() const { return closing_.load(); }

    // Real timers call the ticks; tests leave them off and call the ticks.
    void setTimersDriven(bool on);
    // Whether Show() starts the first connect thread (unit tests of the
    // session logic run without a server).
    void setAutoConnect(bool on) { autoConnect_ = on; }

    // --- connection --------------------------------------------------------
    bool SendLine(const QByteArray& line);
    // "R14" + the text as a block.
    bool SendFreeMessage(const QByteArray& text);
    void ScheduleReconnect(bool retry, bool drop = false);
    void SendStatusReport();
    void TimChkConTick();
    void TimChkNewConnTick();
    void SoftReinit();
    bool connected() const { return link_.isConnected(); }
    // The server chosen at start (empty gives "127.0.0.1").
    void SetHost(const QString& host);
    bool connectThreadRunning() const { return connectThread_ != nullptr; }
    bool receiveThreadRunning() const { return receiveThread_ != nullptr; }
    int timChkConInterval() const { return timChkCon_.interval; }
    bool timChkConEnabled() const { return timChkCon_.enabled; }
    bool timChkNewConnEnabled() const { return timChkNewConn_.enabled; }
    void SetIntConn(int ms);
    void SetIntDisconn(int ms);
    bool SetIntNewConn(int ms);
    void SetTimeout(int ms);
    // Starts a connect thread now (first show and soft reinit do).
    void StartConnectThread();

    // --- dispatcher ---------------------------------------------------------
    // One received line (without CR LF); runs on the receive thread under
    // DispatchLock, and directly in tests.
    void Dispatch(const QByteArray& line);

    // --- session -------------------------------------------------------------
    void SetClientState(ClientState s);
    ClientState state() const { return state_; }
    void StartGrant(const Grant& g);
    void TestGrant(int minutes); // "5 minutos" / "2 minutos"
    void EndPasswordRequest();
    void LockStation();
    void EnforcementTick();
    void RelojVisualTick();
    void SaveSession();
    void RestoreSession();
    void EndOfUse();
    void ApplyExtraTime(const QByteArray& text, bool silent);
    void ActClockMode();
    void ActAlarmMode();
    void SetAlarmMinutes(int minutes);
    void ToggleMainWindow();
    void HideMainWindow();
    // Lock screen top-most again (after the clock is clicked, at a grant).
    void KeepLockOnTop();
    void SetLockOpacity(int alpha);
    int LockOpacity() const { return display_.lockOpacity; }
    void RequestMoreTime(const QString& minutesText);
    void ApplyLanguage(const QString& path);
    const LanguageTexts& texts() const { return texts_; }

    // Session fields, for views and tests.
    common::DateTime sessionStart() const { return start_; }
    common::DateTime sessionEnd() const { return end_; }
    common::DateTime alarmTime() const { return alarmTime_; }
    QString minutes() const { return minutes_; }
    QString user() const { return user_; }
    QString sessionTag() const { return tag_; }
    QString pin() const { return pin_; }
    bool blinking() const { return blinking_; }
    int foreignWindowCount() const { return foreignCount_; }
    QChar pendingShutdown() const { return shutdownLetter_; }
    const ClientSettings& settings() const { return settings_; }
    QString sessionFilePath() const;
    QString computerName() const { return env_.computerName; }
    bool pinMode() const { return pinMode_ != 0; }
    QStringList alarmExemptions() const { return exemptions_; }
    QByteArray servicePassword() const { return settings_.password; }
    qint64 memberId() const { return memberId_; }

    // --- PIN -------------------------------------------------------------------
    // The key filter of the code box: the character to put in the box, or a
    // null QChar when the key is refused.
    QChar FilterPinKey(QChar key);
    void TryPin(const QString& boxText);
    void LayPinPanel();

    // --- logs --------------------------------------------------------------------
    void LogException(const QString& text);
    void OnAppException(const QString& senderClass, const QString& message);
    common::LastCommand& lastCommand() { return lastCommand_; }

    const ClientDisplay& display() const { return display_; }

Q_SIGNALS:
    void displayChanged();
    void clearPinBox();
    void closeTimeRequestDialog();
    void showClockWindow();
    void raiseLockScreen();
    void closeRequested(); // a shutdown action was carried out

private:
    // Posted work, one method per message of the original window procedure.
    void ManifestStartGrant(Grant g);                         // 0x402
    void ManifestExtraTime(int add, bool silent);             // 0x403
    void ManifestSyncTime(double days);                       // 0x404
    void ManifestSaveSession();                               // 0x405
    void ManifestTimeRequestMode(QString mode, QString list); // 0x407
    void ManifestNoPass();                                    // 0x409
    void ManifestNotice(QString text);                        // 0x40A
    void ManifestCdList();                                    // 0x40E
    void ManifestSetVolume(quint16 left, quint16 right);      // 0x40F
    void ManifestVolumeQuery();                               // 0x410
    void ManifestOpenRemote(QString address);                 // 0x411
    void ManifestPinMode();                                   // 0x412
    void ManifestSoftReinit();                                // 0x413
    void ManifestBlockMessageMode(bool on);                   // 0x414
    void ManifestMediaCheck();                                // 0x415
    void ManifestShowAdPage();                                // 0x416
    // Rows that change session or display state run here too, in order.
    void ManifestStatusQuery();
    void ManifestScheduleShutdown(int seconds, QChar letter);
    void ManifestEndOfUse();
    void ManifestApplyExtraTime(QByteArray text, bool silent);
    void ManifestSetAccountTag(QString tag);
    void ManifestClockHint(QString hint);
    void ManifestServicePassword(QByteArray scrambled);
    void ManifestPinVerdict(QByteArray payload);
    void ManifestServiceMode(int mode);
    void ManifestPinQuery();
    void ManifestSetTransparency(int alpha);
    void ManifestTransparencyQuery();
    void ManifestAssignPin(QByteArray pin);
    void ManifestMemberId(qint64 id);
    void ManifestStatus(QString text);
    void ManifestMachinePosted(int code);

    template <typename F> void post(F&& f) {
        QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::QueuedConnection);
    }
    void setStatus(const QString& text);
    // A text of the table, read on the main thread (the table changes there).
    void setStatus(Txt id);
    void changed() { Q_EMIT displayChanged(); }
    void showErrorBox(const QString& text);
    common::DateTime now() const;

    // Connection plumbing.
    void ConnectThreadBody(std::shared_ptr<std::atomic<bool>> stop, QString host);
    void ReceiveThreadBody(std::shared_ptr<std::atomic<bool>> stop);
    void Connected();
    void ResetTryingConn();
    void ReceiveThreadEnded();
    void ClientStatusConnected();
    void ClientStatusDisconnected();
    void StopThreads(bool atExit);
    bool readBlockForDispatch(QByteArray& out);
    bool sendOrReconnect(const QByteArray& line);
    bool sendOrFailConn(const QByteArray& line);
    void SendClientMessage(const QString& text);
    void UpdateMenusForConnection();
    void LogQueryReply();

    // Session helpers.
    void SetAlarmTimeFromMinutes();
    void CloseLockScreen();
    void ShowLockScreen();
    void UpdateDispCaption();
    bool PlayAlarm();
    bool ForceForeground(platform::WindowId w, bool activate);
    bool ForeignAboveLock();
    bool IsOwnWindow(platform::WindowId w, std::initializer_list<OwnWindow> kinds) const;
    platform::WindowId ownId(OwnWindow w) const;
    bool ownShowing(OwnWindow w) const;
    void SetSystemKeysBlocked();
    void BannerTick(const common::DateTime& now);
    void ServiceTick(const common::DateTime& now);
    void PinTimeoutCheck();
    void SetPinMode(int mode);
    void loadExemptions();

    ClientEnvironment env_;
    ClientServices svc_;
    NullMachineControl nullControl_;
    MachineControl* control_;
    ClientSettings settings_;
    LanguageTexts texts_;
    ClientDisplay display_;
    common::LastCommand lastCommand_;

    // Connection. Lock rule: DispatchLock is held by the receive thread for
    // the whole of one dispatched line and by nobody else; the main thread
    // never takes it (it would wait on a receive thread that may sit in a
    // send). It is replaced only after the receive thread that used it has
    // been joined.
    std::unique_ptr<QMutex> dispatchLock_;
    TcpLink link_;
    std::unique_ptr<std::thread> connectThread_;
    std::shared_ptr<std::atomic<bool>> connectStop_;
    std::atomic<bool> connectDone_{false};
    std::unique_ptr<std::thread> receiveThread_;
    std::shared_ptr<std::atomic<bool>> receiveStop_;
    std::atomic<bool> receiveDone_{false};
    std::atomic<bool> closing_{false};
    bool firstShowPending_ = true;
    bool autoConnect_ = true;
    bool wasConnected_ = false;

    struct TimerState {
        bool enabled = false;
        int interval = 0;
        QTimer* qt = nullptr;
    };
    void setTimer(TimerState& t, bool enabled);
    void setInterval(TimerState& t, int ms);
    TimerState timChkCon_, timChkNewConn_, relojVisual_, timTopForm_;
    bool timersDriven_ = false;

    // Session fields (main thread only).
    ClientState state_ = ClientState::Locked;
    QString user_;
    QString minutes_;
    common::DateTime start_, end_, alarmTime_;
    QString tag_;
    QString pin_;
    bool blinking_ = false;
    int lastMinuteSeen_ = -1;
    int foreignCount_ = 0;
    platform::WindowId foreignWindow_ = 0;
    bool tasksRecorded_ = false;
    QChar shutdownLetter_ = u'N';
    common::DateTime shutdownDue_;
    QStringList exemptions_;
    QString country_;
    QString screenSaveActive_;
    qint64 memberId_ = 0;
    common::DateTime mediaCheck_;
    common::DateTime serviceCheck_;
    common::DateTime lastBannerChange_;
    int bannerIndex_ = 0;
    int pinMode_ = 0;
    common::DateTime pinRequest_;
    bool inConfig_ = false;
    std::atomic<bool> inExceptionLog_{false};
    // The read time-out, read by the receive thread.
    std::atomic<int> readTimeout_{0};
};

} // namespace tarvina::client
