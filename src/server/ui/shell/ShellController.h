#pragma once

#include "server/pin/CodeDesk.h"
#include "server/pin/PinRuntime.h"
#include "server/shell/LastActivityStamp.h"
#include "server/shell/PasswordGate.h"
#include "server/shell/ServerCore.h"
#include "server/shell/ShellLife.h"
#include "server/ui/MainWindow.h"
#include "server/ui/shell/ConfirmCloseDialog.h"
#include "server/ui/shell/PasswordDialog.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

namespace tarvina::platform {
class Clock;
class Mail;
class MachineInfo;
class Network;
class Pinger;
class Printing;
class Registry;
class Shell;
} // namespace tarvina::platform

namespace tarvina::server {

class AboutBox;
class InfoPage;
class NetworkTest;
class ProgressRepairWindow;
class Reports;
class SplashWindow;
class TrayIcon;
class WidgetDialogs;

// The platform back ends the program's shell works through.
struct ShellPlatform {
    platform::Clock& clock;
    platform::Registry& registry;
    platform::MachineInfo& machine;
    platform::Printing& printing;
    platform::Pinger& pinger;
    platform::Shell& shell;
    platform::Mail& mail;
    // Where the station listener listens.
    platform::Network& network;
    // The code tables' disk.
    xbase::IFileSystem& files;
};

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
    struct Folders {
        QString program; // data/, report/, pin/, the console archive, the stamp
        QString work;    // bitacora.log, Excepc.log, citas.txt, stations' logs
        QString help;    // the HTML help
    };

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
    QStringList shownNotices() const { return notices_; }

    // Menu actions (public for tests and for the other windows).
    void networkTestAction();
    void repairAction();
    void technicalInfoAction();
    void supportReportAction();
    void aboutAction();
    // Opens a topic of the help (HelpTopics) with the desktop's browser.
    void openHelp(int topic);
    // The two gates of the icon menu.
    void manageClients();
    void closeFromIcon();
    bool askGate(Gate gate);

    // Builds the report to technical support into a file.
    bool writeSupportReport(const QString& path);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

Q_SIGNALS:
    // The start-up reached its end (window shown, or cut short).
    void started();

private:
    void createMainWindow();
    void fillMenus();
    void firstShow();
    void writeFirstShowLines();
    void showUncleanCloseNotice();
    // icon: a QMessageBox::Icon.
    void notice(const QString& title, const QString& text, int icon);
    bool askQuestion(const QString& title, const QString& text);
    bool onCloseRequest();
    void requestTerminate();
    void runOrderlyClose();
    void quit();
    void onUnexpectedError(const QString& sender, const QString& text);
    void step(const QString& text);
    // After a modal moment of the start: true when a signal asked the
    // program to end meanwhile (the close then runs here).
    bool endedMeanwhile();
    void refreshInfoPage();

    ShellPlatform platform_;
    Folders folders_;
    ServerCore core_;
    PinRuntime pins_;
    ShellLife life_;
    LastActivityStamp stamp_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<SplashWindow> splash_;
    QPointer<PasswordDialog> password_;
    QPointer<ConfirmCloseDialog> confirmClose_;
    QPointer<ProgressRepairWindow> progress_;
    QPointer<AboutBox> about_;
    QPointer<InfoPage> infoPage_;
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
    QStringList notices_;
    bool headless_ = false;
    bool trayAvailable_ = false;
    int busy_ = 0; // start-up or repair under way: a signal waits for it
    bool endPending_ = false;
    bool started_ = false; // the settings are loaded: the close may save them
    std::optional<common::DateTime> lastActivity_;
};

} // namespace tarvina::server
