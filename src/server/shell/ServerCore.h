#pragma once

#include "platform/Clock.h"
#include "platform/Registry.h"
#include "protocol/Port.h"
#include "server/net/StationServer.h"
#include "server/session/StationFront.h"
#include "server/settings/ServerSettings.h"
#include "server/shell/ActivityLog.h"
#include "server/shell/ConsoleModel.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

namespace tarvina::server {

// "Escuchando en el puerto 6046": what the program reports of a bound
// listener on its standard output (tools/simulator/ReportedPort.h reads it
// back).
QString ListeningText(quint16 port);

// The logic of taquilla's main form: the station front (registry, hand-off,
// idle pass and its queues) with the listener, the slots that the remote
// windows consume, the one-second tick, the console, the settings and the
// activity log. It lives on the UI thread (the thread of the Qt event loop)
// and has no widgets: the main window connects to its signals and fills in
// its hooks; the code desk registers its own steps of the idle pass.
class ServerCore : public QObject, public StationFront {
    Q_OBJECT
public:
    static constexpr quint16 kDefaultPort = protocol::kDefaultPort;

    // What the views plug into the core's own steps and its close. Every
    // hook is optional; an absent one means the step has nothing to do yet.
    struct Hooks {
        std::function<void()> uncleanCloseNotice; // shows the last-activity notice
        std::function<void()> firstRunJump;       // "Modo de operación" page
        std::function<void(TCompItem*, const QByteArray&)> taskList;
        std::function<void(TCompItem*)> remoteConfig;     // the editor for that record
        std::function<void(TCompItem*, int, int)> volume; // the volume window (percent)
        std::function<void()> minimize;
        std::function<void()> closeMainWindow;
        std::function<void()> closeCodeTable;
        // At close, right after the listener stopped: pending messages run.
        std::function<void()> afterListenerStopped;
    };

    ServerCore(platform::Clock& clock, platform::Registry& registry, platform::Network& network,
               QString programFolder, QString workFolder, QObject* parent = nullptr);
    ~ServerCore() override;

    Hooks& hooks() { return hooks_; }
    ConsoleModel& console() { return console_; }
    StationServer& server() { return server_; }
    ServerSettings& settings() { return settings_; }

    // The port: TARVINA_PORT when set and valid, else 6046. 0 asks the
    // system for a free port (tests, several servers on one machine); the
    // port it gave is kept for the listener's later starts.
    static quint16 PortFromEnvironment();
    void setPort(quint16 port) { port_ = port; }
    quint16 port() const { return port_; }

    // --- start-up and close ---
    // Settings key, LoadSettings, activity log "Inicio de operaciones.".
    // logTooBig is asked (and may delete the log) when bitacora.log is over
    // its limit.
    void startUp(const std::function<bool(const QString& question)>& logTooBig = {});
    // First show: the start and close stamps; either crash-suspected is set
    // (the listener waits for the notice) or the listener starts.
    void firstShow();
    // The first show's first step alone: reads Entrada and Salida, writes
    // Entrada := now; true (and crash-suspected set) when the previous run
    // did not close in order. The caller starts the listener later.
    bool readStartStamps();
    // One line in the activity log (a start-up notice nobody could see).
    void logActivity(const QString& text);
    // The orderly close: activity log, code table, listener, settings,
    // console archive.
    void closeDown();

    // Emits listening() with the port it bound.
    bool startListener();
    void stopListener();

    // LoadSettings result to memory and to the connection threads.
    void applySettings(const ServerSettings& s);
    // Stores the mode and tells the views (PIN menu and grant actions).
    void SetServiceMode(int mode);

    // --- the UI thread's side of the hand-off ---
    // One pass over the hand-off works at most this long (checked after each
    // batch of kDrainBatch events); what is left waits for a later pass, so
    // that the event loop, and with it the listener, keeps running whatever
    // the connections post.
    static constexpr qint64 kDrainBudgetMs = 4;
    static constexpr size_t kDrainBatch = 64;
    // Applies posted events in posting order within the budget, schedules
    // another pass when some are left, then runs the idle pass.
    void drainHandOff();
    // Events posted since the last drain first (they were posted before the
    // queues emptied), then every step of the idle pass in its order.
    void IdlePump();
    // Schedules an idle pass (a zero-time call on the event loop).
    void scheduleIdle();

    // ShowRemoteMessage on the UI thread.
    void ShowRemoteMessage(TCompItem* record, const QString& text) override;

    // Flags of the main form.
    void requestClose() {
        closeRequested_ = true;
        scheduleIdle();
    }
    void requestMinimize() {
        minimizeRequested_ = true;
        scheduleIdle();
    }

    int connectionCount() const { return connectionCount_; }
    QString statusText(int panel) const;

    // "ZU Tarvina sin conexiones\rEstándar " + version, and so on.
    static QString TrayHintText(int connections);

Q_SIGNALS:
    void statusTextChanged(int panel, const QString& text);
    void trayHintChanged(const QString& hint);
    void serviceModeChanged(int mode);
    void screenshotReceived(tarvina::server::TCompItem* record, const QByteArray& image);
    void transparencyReported(tarvina::server::TCompItem* record, int alpha);
    void actionsMayChange();
    // The listener is up on that port.
    void listening(quint16 port);
    // A record was bound to a connection or its row changed.
    void rowShown(tarvina::server::TCompItem* record);
    // The station asks what its use has cost so far.
    void accountQueried(tarvina::server::TCompItem* record);

protected:
    bool codesInService() const override { return settings_.serviceMode == 1; }

private:
    // The remote windows' slots: the newest report of each kind waits for
    // the next idle pass.
    struct TaskListSlot {
        TCompItem* record = nullptr;
        QByteArray payload;
    };
    struct VolumeSlot {
        TCompItem* record = nullptr;
        int left = 0, right = 0;
    };

    // The core's own steps of the idle pass, and its views'.
    void addOwnSteps();
    void addViewSteps();
    void apply(UiEvent& e);
    // Applies posted events within the budget; true when some are left.
    // appliedAny tells whether there were any.
    bool applyPosted(bool& appliedAny);
    void setStatus(int panel, const QString& text);
    void showConnectionCount(int n);

    platform::Registry& store_;
    ConsoleModel console_;
    StationServer server_;
    ServerSettings settings_;
    ActivityLog activityLog_;
    Hooks hooks_;
    quint16 port_;
    QString statusTexts_[4];
    std::optional<TaskListSlot> taskListSlot_;
    TCompItem* remoteConfigSlot_ = nullptr;
    std::optional<VolumeSlot> volumeSlot_;
    int connectionCount_ = 0;
    bool listenerArmed_ = false;
    bool listenFailureShown_ = false;
    bool closeRequested_ = false;
    bool minimizeRequested_ = false;
    bool noticePosted_ = false;
    bool idleScheduled_ = false;
};

} // namespace tarvina::server
