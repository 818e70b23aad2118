#pragma once

#include "server/session/ComputerCommands.h"
#include "server/session/ViewRules.h"

#include <QList>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>

class QAction;
class QActionGroup;
class QAbstractItemView;
class QDockWidget;
class QListView;
class QMainWindow;
class QMenu;
class QStackedWidget;
class QTableView;
class QToolBar;

namespace tarvina::platform {
class Shell;
}

namespace tarvina::server {

class ServerCore;
class ComputersListModel;
class TfrmAutoriza;
class TfrmMoreTime;
class TfrmSelTargetComp;
class TfrmReset;
class TfrmServPass;
class TfrmRun;
class TfrmVol;

// The computers view: the list of stations with their state, user and
// times, the row menu, the tool bar and every action on the stations. A
// frame: the main window shows it in its page and copies its menu into
// "Máquinas" (FillMachinesMenu).
class TfrmComputers : public QWidget {
    Q_OBJECT
public:
    enum Action {
        Grant,
        Withdraw,
        MoreTime,
        Lock,
        Move,
        Refresh,
        Restart,
        Capture,
        Tasks,
        CleanTasks,
        SendMessage,
        ViewMessages,
        ServicePassword,
        RemoteConfig,
        Volume,
        Run,
        ClientLog,
        UsageHistory,
        ActionCount
    };
    enum class ViewStyle { LargeIcons, SmallIcons, List, Report };

    TfrmComputers(ServerCore& core, platform::Shell& shell, QWidget* parent = nullptr);
    ~TfrmComputers() override;

    // The frame's caption ("Ordenadores bajo control" in Spain).
    QString caption() const;
    // Country-dependent captions, at the main window's first show.
    void applyCountry(const QString& country);
    // The row colours again from the settings (after the preferences page
    // saved new ones).
    void applyColours();

    QAction* action(Action a) const { return actions_[a]; }
    QMenu* rowMenu() const { return rowMenu_; }
    QToolBar* toolBar() const { return toolBar_; }
    QDockWidget* toolBarDock() const { return dock_; }
    // Fills the main menu "Máquinas" with a copy of the row menu (same
    // actions; its own "Remoto" and "CD ROM").
    void FillMachinesMenu(QMenu* menu);

    // Actions whose windows belong to other parts of the program (screen
    // capture, task list, remote configuration) call these with the rows.
    using RowsHandler = std::function<void(const QList<TCompItem*>&)>;
    void setHandler(Action a, RowsHandler handler);

    void UpdateActions();
    void setViewStyle(ViewStyle style);
    ViewStyle viewStyle() const { return style_; }
    bool tickRunning() const { return tick_.isActive(); }

    // The selected rows' records, first selected first (list order).
    QList<TCompItem*> selectedRecords() const;
    void selectRecord(TCompItem* record, bool add = false);

    QTableView* reportView() const { return report_; }
    QListView* iconView() const { return icons_; }
    ComputersListModel* listModel() const { return list_; }
    // Where the tool bar is: the ToolBarAlign value (0 floating, 1 top,
    // 2 bottom, 3 left, 4 right).
    int toolBarAlign() const;
    void setToolBarAlign(int align);
    bool toolBarFlat() const { return flat_; }
    void setToolBarFlat(bool flat);
    void setToolBarPicture(const QString& path);

    // The dialogs (tests drive them; the actions show them).
    TfrmAutoriza* grantDialog();
    TfrmMoreTime* moreTimeDialog();
    TfrmSelTargetComp* moveDialog();
    TfrmReset* resetDialog();
    TfrmServPass* passwordDialog();
    TfrmRun* runDialog() const { return run_; }
    TfrmVol* volumeDialog();

    // The last text window opened ("Mensajes desde ", "Accesos hechos a ").
    QWidget* lastTextWindow() const { return lastText_; }

    // The notice box; tests replace it.
    std::function<std::optional<QString>()> askNotice;

private:
    void buildActions();
    void buildMenus();
    void buildToolBar();
    void fillCdMenus();
    QMenu* fillMenu(QMenu* menu, QMenu*& cd);
    void trigger(Action a);
    void openTextWindow(const ComputerCommands::TextWindow& w);
    void showClientLog(const QString& path);
    void scheduleUpdateActions();
    void toolBarMenu(const QPoint& at);
    void placeToolBar(Qt::DockWidgetArea area);
    QAbstractItemView* currentView() const;

    ServerCore& core_;
    platform::Shell& shell_;
    ComputerCommands commands_;
    std::array<QAction*, ActionCount> actions_{};
    std::array<RowsHandler, ActionCount> handlers_{};
    QAction* accountNow_ = nullptr;
    QAction* accountLast_ = nullptr;
    QActionGroup* styles_ = nullptr;
    QAction* styleActions_[4] = {};
    QMenu* rowMenu_ = nullptr;
    QMenu* remote_ = nullptr;
    QMenu* cd_ = nullptr;
    QList<QPointer<QMenu>> cdCopies_;
    QMainWindow* inner_ = nullptr;
    QDockWidget* dock_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QWidget* grip_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    QTableView* report_ = nullptr;
    QListView* icons_ = nullptr;
    ComputersListModel* list_ = nullptr;
    ViewStyle style_ = ViewStyle::Report;
    QTimer tick_;
    bool flat_ = true;
    QString picture_;
    bool updatePending_ = false;
    bool resizePending_ = false;
    QString country_;
    TfrmAutoriza* grant_ = nullptr;
    TfrmMoreTime* more_ = nullptr;
    TfrmSelTargetComp* move_ = nullptr;
    TfrmReset* reset_ = nullptr;
    TfrmServPass* pass_ = nullptr;
    TfrmRun* run_ = nullptr;
    TfrmVol* vol_ = nullptr;
    QPointer<QWidget> lastText_;
};

} // namespace tarvina::server
