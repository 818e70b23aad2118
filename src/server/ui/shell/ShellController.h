#pragma once

#include "server/central/CentralBranch.h"
#include "server/pin/CodeDesk.h"
#include "server/pin/PinRuntime.h"
#include "server/shell/LastActivityStamp.h"
#include "server/shell/PasswordGate.h"
#include "server/shell/ServerCore.h"
#include "server/shell/ShellLife.h"
#include "server/ui/MainWindow.h"
#include "server/ui/shell/ConfirmCloseDialog.h"
#include "server/ui/shell/PasswordDialog.h"
#include "server/ui/shell/ShellPlatform.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

namespace tarvina::server {

class AboutBox;
class NetworkTest;
class ProgressRepairWindow;
class Reports;
class ShellBoxes;
class ShellHelp;
class SplashWindow;
class TrayIcon;
class WidgetDialogs;

// The life of taquilla as the operator meets it: the start-up in its order
// (splash, main window, tables, first show with its console lines, the
// access gate, the icon, the unclean-close warning and the listener), the
// menus of the shell, the password gates, the close request and the orderly
// close, the termination signals and the unexpected-error handler.
//
// Without a display (the offscreen platform) no box is shown: what a box
// would say goes to the console and the activity log, and the start goes on.
class ShellController : public QObject {
    Q_OBJECT
public:
    using Folders = ShellFolders;

    ShellController(ShellPlatform platform, Folders folders, QObject* parent = nullptr);
    ~ShellController() override;

    // Called with the main window once it exists, before its first show:
    // the other windows put their frames in its slots and fill their menus.
    void setFrameFactory(std::function<void(MainWindow&, ServerCore&, PinRuntime&)> factory) {
        frameFactory_ = std::move(factory);
    }
    // What ends the event loops once the orderly close has run (tests
    // record it instead). Default: QCoreApplication::exit(0).
    void setQuit(std::function<void()> quit) { quit_ = std::move(quit); }
    // Hooks the code desk gets at start (the codes page's refresh).
    void setCodeDeskHooks(CodeDesk::Hooks hooks) { deskHooks_ = std::move(hooks); }
    // The codes page's own handle on the code table, which the repair
    // closes and reopens with the others.
    void setCodesFrameTable(std::function<xbase::TableEngine*()> table) {
        codesFrameTable_ = std::move(table);
    }

    // The whole start-up; run it from the event loop. Returns when the
    // window is up (or the start was cut short by a signal or the gate).
    void start();
    // SIGTERM, SIGINT, SIGHUP: the orderly close in whatever state, then the
    // event loops end.
    void endNow();
    // A second start asked this one to show itself.
    void restore();

    ServerCore& core() { return core_; }
    PinRuntime& pins() { return pins_; }
    MainWindow* window() const { return window_.get(); }
    TrayIcon* tray() const { return tray_; }
    PasswordDialog* passwordDialog() const { return password_; }
    ConfirmCloseDialog* confirmCloseDialog() const { return confirmClose_; }
    const ShellLife& life() const { return life_; }
    bool headless() const { return headless_; }
    // The boxes shown to the operator, for tests: title and text.
    QStringList shownNotices() const;
    // Help, technical information and the report to technical support.
    ShellHelp& help() const { return *help_; }

    // Menu actions (public for tests and for the other windows).
    void networkTestAction();
    void repairAction();
    void technicalInfoAction();
    void aboutAction();
    // The two gates of the icon menu.
    void manageClients();
    void closeFromIcon();
    bool askGate(Gate gate);
    // (Re)starts the central copy with the settings as they stand.
    void startCentral();
    const QString& centralStatus() const { return centralStatus_; }

Q_SIGNALS:
    // The start-up reached its end (window shown, or cut short).
    void started();

private:
    void createMainWindow();
    void fillMenus();
    void firstShow();
    void writeFirstShowLines();
    void showUncleanCloseNotice();
    bool onCloseRequest();
    void requestTerminate();
    void runOrderlyClose();
    void quit();
    void step(const QString& text);
    // After a modal moment of the start: true when a signal asked the
    // program to end meanwhile (the close then runs here).
    bool endedMeanwhile();

    ShellPlatform platform_;
    Folders folders_;
    ServerCore core_;
    // The tables' file system, staging the copied tables' rows for the
    // central copy; it outlives the tables' handles.
    central::CapturingFileSystem capture_;
    PinRuntime pins_;
    central::CentralBranch central_;
    QString centralStatus_;
    ShellLife life_;
    LastActivityStamp stamp_;
    std::unique_ptr<ShellBoxes> boxes_;
    std::unique_ptr<ShellHelp> help_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<SplashWindow> splash_;
    QPointer<PasswordDialog> password_;
    QPointer<ConfirmCloseDialog> confirmClose_;
    QPointer<ProgressRepairWindow> progress_;
    QPointer<AboutBox> about_;
    TrayIcon* tray_ = nullptr;
    std::unique_ptr<WidgetDialogs> dialogs_;
    std::unique_ptr<Reports> reports_;
    NetworkTest* networkTest_ = nullptr;
    QTimer tick_;
    QTimer saveDate_;
    std::function<void(MainWindow&, ServerCore&, PinRuntime&)> frameFactory_;
    CodeDesk::Hooks deskHooks_;
    std::function<xbase::TableEngine*()> codesFrameTable_;
    std::function<void()> quit_;
    bool headless_ = false;
    bool trayAvailable_ = false;
    int busy_ = 0; // start-up or repair under way: a signal waits for it
    bool endPending_ = false;
    bool started_ = false; // the settings are loaded: the close may save them
    std::optional<common::DateTime> lastActivity_;
};

} // namespace tarvina::server
