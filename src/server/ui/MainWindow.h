#pragma once

#include <QHash>
#include <QLabel>
#include <QMainWindow>
#include <QTextEdit>
#include <functional>

class QAbstractButton;
class QStackedWidget;
class QToolBox;

namespace tarvina::server {

class ServerCore;

// taquilla's main window, the form TfrmZUCaja: the side bar on the left with
// its three folders, one page slot per side bar item on the right, the menu
// bar, and the status bar with its four panels.
//
// How other windows plug in (kept stable):
// - A frame goes into its slot with setPage(PageId, frame); the window takes
//   it over and drops the placeholder that stood there. Choosing the side bar
//   item (or showPage) then shows exactly that frame, and pageShown(id) is
//   emitted each time so that the frame can refresh itself. The console page
//   is the window's own and keeps its slot.
// - A menu of the menu bar is reached with menu(MenuId); add actions to it.
//   The "PIN" menu is shown only in code mode.
// - showPage(PageId::Pin) asks the "PIN" password first (pinGate), and keeps
//   the current page when the gate fails.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // One per side bar item, in side bar order.
    enum class PageId {
        Computers,   // "Operaciones" / "Equipos"
        Pin,         // "Operaciones" / "PIN"
        Console,     // "Consultas" / "Consola"
        PinHistory,  // "Consultas" / "Uso de Pines"
        Preferences, // "Miscelaneos" / "Configuración"
        Information, // "Miscelaneos" / "Información"
    };
    Q_ENUM(PageId)
    static constexpr int kPageCount = 6;

    enum class MenuId {
        Session,  // "&Sesión"
        Machines, // "Máquinas"
        Pin,      // "PIN" (code mode only)
        Reports,  // "Reportes"
        Help,     // "Ayuda"
    };

    explicit MainWindow(ServerCore& core, QWidget* parent = nullptr);

    // --- page slots and menus ---
    void setPage(PageId id, QWidget* frame);
    QWidget* page(PageId id) const;
    // Selects the item's folder and the item, and shows its page (after the
    // gate for "PIN"). False when the gate kept the current page.
    bool showPage(PageId id);
    PageId currentPage() const { return current_; }
    QMenu* menu(MenuId id) const;
    // "Sesión" items of the window itself.
    QAction* clearConsoleAction() const { return clearAction_; }
    QAction* closeApplicationAction() const { return quitAction_; }
    // The side bar's item button of a page (for tests and accessibility).
    QAbstractButton* sideBarItem(PageId id) const;
    QToolBox* sideBar() const { return sideBar_; }

    // Asked before the "PIN" page shows; true lets it show. Unset: no gate.
    void setPinGate(std::function<bool()> gate) { pinGate_ = std::move(gate); }

    // --- the console and the status bar ---
    QTextEdit* consoleView() const { return console_; }
    QString panelText(int panel) const;
    // The central copy's state at the right of the status bar; empty hides it.
    void setCentralStatus(const QString& text);

    // "Cerrar aplicación": the orderly close, then the window goes. With a
    // terminate handler set, the handler decides.
    void terminate();
    bool terminating() const { return terminating_; }

    // The program's shell decides what a close request does: the handler
    // returns true when the window may close. Unset: the close button
    // minimizes where there is a notification area, "Cerrar aplicación"
    // runs the core's orderly close.
    void setCloseHandler(std::function<bool()> handler) { closeHandler_ = std::move(handler); }
    void setTerminateHandler(std::function<void()> handler) {
        terminateHandler_ = std::move(handler);
    }
    // Minimizing hides the window (its task-bar entry goes) while on.
    void setHideWhenMinimized(bool on) { hideWhenMinimized_ = on; }
    // Restores the window from the notification area and raises it.
    void restoreAndRaise();

    static QString PageCaption(PageId id);

Q_SIGNALS:
    void pageShown(tarvina::server::MainWindow::PageId id);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QWidget* buildConsolePage();
    void buildSideBar();
    void buildMenus();
    void appendLine(const QString& text, bool header);
    void selectItem(PageId id);

    ServerCore& core_;
    QToolBox* sideBar_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    QWidget* slots_[kPageCount] = {};
    QAbstractButton* items_[kPageCount] = {};
    QHash<int, QMenu*> menus_;
    QTextEdit* console_ = nullptr;
    QAction* clearAction_ = nullptr;
    QAction* quitAction_ = nullptr;
    QLabel* panels_[4];
    QLabel* central_ = nullptr;
    PageId current_ = PageId::Computers;
    static constexpr int kRestoreGraceMs = 3000;
    bool restoring_ = false; // brought back a moment ago
    std::function<bool()> pinGate_;
    std::function<bool()> closeHandler_;
    std::function<void()> terminateHandler_;
    bool hideWhenMinimized_ = false;
    bool terminating_ = false;
    bool closed_ = false;
};

} // namespace tarvina::server
