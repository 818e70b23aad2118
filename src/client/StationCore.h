#pragma once

#include "client/commands/CommandHandler.h"
#include "client/commands/Dispatcher.h"
#include "client/config/ConfigGate.h"
#include "client/control/CompanionService.h"
#include "client/control/DesktopCleaning.h"
#include "client/control/StationMachine.h"
#include "client/link/StationLink.h"
#include "client/session/LockEnforcer.h"
#include "client/session/PinEntry.h"
#include "client/session/Session.h"
#include "client/station/MachineControl.h"
#include "client/station/StationContext.h"
#include "client/station/StationLog.h"
#include "client/station/StationTimer.h"
#include "client/station/StationView.h"

#include <QObject>
#include <memory>

namespace tarvina::client {

// The station put together: it owns the parts, wires them to each other and
// carries the program's start, show and close. Everything else is asked of
// the part that does it (link(), session(), lock(), pin(), machine(),
// dispatcher()).
class StationCore : public QObject {
    Q_OBJECT
public:
    StationCore(ClientEnvironment env, StationPlatform platform, QObject* parent = nullptr);
    // Stops and joins the connection's threads before any part goes.
    ~StationCore() override;

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
    bool closing() const { return ctx_.closing.load(); }
    // The server's soft re-initialisation: timers off, connection renewed.
    void SoftReinit();
    // The one-second tick of the clock window's timer.
    void RelojVisualTick();
    void ApplyLanguage(const QString& path);

    // The clean desktop after each use, on these folders; ownFolders are the
    // station's folders besides its program folder (its settings) that a
    // cleaning keeps. settleMs: how long the customer's programs, told to
    // close, have before the home is cleaned.
    void useFolders(platform::FolderOpener& fs, QStringList ownFolders, int settleMs = 3000);
    // Null until useFolders().
    DesktopCleaning* cleaning() { return cleaning_.get(); }
    // "Guardar este escritorio como modelo": the home as it is now becomes
    // the model (DesktopCleaning::modelSaved follows); false when it cannot
    // start, error says why.
    bool SaveDesktopModel(QString* error);

    // Real timers call the ticks; tests leave them off and call the ticks.
    void setTimersDriven(bool on);
    // Whether Show() starts the first connect thread (unit tests of the
    // session logic run without a server).
    void setAutoConnect(bool on) { autoConnect_ = on; }

    StationView& view() { return view_; }
    const ClientDisplay& display() const { return view_.display(); }
    const LanguageTexts& texts() const { return view_.texts(); }
    const ClientSettings& settings() const { return ctx_.settings; }
    StationLog& log() { return log_; }
    StationLink& link() { return link_; }
    Session& session() { return session_; }
    LockEnforcer& lock() { return lock_; }
    PinEntry& pin() { return pin_; }
    StationMachine& machine() { return machine_; }
    Dispatcher& dispatcher() { return dispatcher_; }
    StationCommands& commands() { return handler_; }
    // "Configuración": the password, then the dialog.
    config::ConfigGate& configGate() { return configGate_; }
    // The running station's side of a confirmed configuration dialog.
    config::StationConfigTarget& configTarget() { return configTarget_; }

private:
    // The lock that follows a use is up: programs closed, home cleaned,
    // grants held until it is done. Also at start for a cleaning cut short.
    void StartCleaning();
    void CleaningFinished(const DesktopCleaning::Outcome& o);
    DesktopCleaning::Setup cleaningSetup() const;
    QString cleaningJournal() const;

    StationView view_;
    StationLog log_;
    StationContext ctx_;
    StationLink link_;
    PinEntry pin_;
    LockEnforcer lock_;
    Session session_;
    StationMachine machine_;
    CompanionService companion_;
    config::ConfigGate configGate_;
    config::StationConfigTarget configTarget_;
    ControlHost controlHost_;
    CommandHandler handler_;
    Dispatcher dispatcher_;
    StationTimer relojVisual_, timTopForm_;
    QString screenSaveActive_;
    bool autoConnect_ = true;
    std::unique_ptr<DesktopCleaning> cleaning_;
    QStringList ownFolders_;
    int settleMs_ = 0;
};

} // namespace tarvina::client
