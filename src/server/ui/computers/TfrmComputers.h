#pragma once

#include "server/session/ComputerActions.h"
#include "server/session/ComputerCommands.h"
#include "server/session/ViewRules.h"

#include <QList>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

class QAction;
class QListView;
class QMainWindow;
class QMenu;
class QStackedWidget;
class QTableView;

namespace tarvina::platform {
class Shell;
}

namespace tarvina::server {

class ServerCore;
class ComputerPrompts;
class ComputersListModel;
class ComputersToolBar;

// The computers view: the list of stations with their state, user and
// times, the row menu, the tool bar and every action on the stations. A
// frame: the main window shows it in its page and copies its menu into
// "Máquinas" (FillMachinesMenu). The actions come from the one table of
// them (ComputerActions()); their dialogs are the prompts'.
class TfrmComputers : public QWidget {
    Q_OBJECT
public:
    using Action = ComputerAction::Id;
    using enum ComputerAction::Id;
    static constexpr int ActionCount = ComputerAction::Count;
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
    ComputersToolBar& tools() const { return *tools_; }
    ComputerPrompts& prompts() const { return *prompts_; }
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

private:
    void buildArea();
    void buildReportView(const QFont& font);
    void buildIconView(const QFont& font);
    void followSelectionAndRows();
    void buildActions();
    void buildMenus();
    void fillCdMenus();
    QMenu* fillMenu(QMenu* menu, QMenu*& cd);
    void trigger(Action a);
    void scheduleUpdateActions();
    void fitColumnsOnce();

    ServerCore& core_;
    ComputerCommands commands_;
    std::unique_ptr<ComputerPrompts> prompts_;
    std::array<QAction*, ComputerAction::Count> actions_{};
    QAction* accountNow_ = nullptr;
    QAction* accountLast_ = nullptr;
    QMenu* rowMenu_ = nullptr;
    QMenu* remote_ = nullptr;
    QMenu* cd_ = nullptr;
    QList<QPointer<QMenu>> cdCopies_;
    QMainWindow* inner_ = nullptr;
    ComputersToolBar* tools_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    QTableView* report_ = nullptr;
    QListView* icons_ = nullptr;
    ComputersListModel* list_ = nullptr;
    ViewStyle style_ = ViewStyle::Report;
    QTimer tick_;
    bool updatePending_ = false;
    bool resizePending_ = false;
    QString country_;
};

} // namespace tarvina::server
