#include "server/ui/computers/TfrmComputers.h"

#include "server/computers/Senders.h"
#include "server/shell/ServerCore.h"
#include "server/ui/computers/ComputerIcons.h"
#include "server/ui/computers/ComputerPrompts.h"
#include "server/ui/computers/ComputersListModel.h"
#include "server/ui/computers/ComputersToolBar.h"

#include <QAction>
#include <QHeaderView>
#include <QListView>
#include <QMainWindow>
#include <QMenu>
#include <QStackedWidget>
#include <QTableView>
#include <QVBoxLayout>

namespace tarvina::server {

namespace {

// Widths at start; the automatic columns never shrink below them.
const int kColumnWidths[7] = {160, 70, 90, 64, 64, 80, 160};

} // namespace

TfrmComputers::TfrmComputers(ServerCore& core, platform::Shell& shell, QWidget* parent)
    : QWidget(parent), core_(core), commands_(core.context()),
      prompts_(std::make_unique<ComputerPrompts>(core, shell, commands_, this)) {
    setObjectName(QStringLiteral("frmComputers"));
    const ServerSettings& s = core_.settings();

    list_ = new ComputersListModel(
        core_.computers(), core_.registry(), [this] { return core_.clock().now().days(); }, this);
    applyColours();

    buildArea();
    followSelectionAndRows();
    buildActions();
    buildMenus();
    tools_ = new ComputersToolBar(
        core_.settings(), inner_, this, actions_,
        [this](int style) { setViewStyle(static_cast<ViewStyle>(style)); }, core_.programFolder());

    connect(&core_, &ServerCore::serviceModeChanged, this, [this](int mode) {
        // Granting and more time are the cashier's only in the by-request mode.
        actions_[Grant]->setVisible(mode == 0);
        actions_[MoreTime]->setVisible(mode == 0);
    });
    actions_[Grant]->setVisible(s.serviceMode == 0);
    actions_[MoreTime]->setVisible(s.serviceMode == 0);
    // Money appears only with a tariff.
    actions_[Collect]->setVisible(core_.computers().showsAmounts());

    tick_.setInterval(1000);
    connect(&tick_, &QTimer::timeout, this, [this] { core_.Tick(); });
    setViewStyle(ViewStyle::Report);
    applyCountry(s.pais);
    UpdateActions();
}

TfrmComputers::~TfrmComputers() = default;

void TfrmComputers::buildArea() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    inner_ = new QMainWindow(this);
    // A main window is always made a window of its own; inside the frame it
    // is only the area that docks the tool bar.
    inner_->setWindowFlags(Qt::Widget);
    inner_->setObjectName(QStringLiteral("frmComputersArea"));
    inner_->setContextMenuPolicy(Qt::PreventContextMenu);
    inner_->setAccessibleName(QStringLiteral("Máquinas clientes"));
    inner_->setDockOptions(QMainWindow::AnimatedDocks);
    layout->addWidget(inner_);

    stack_ = new QStackedWidget(inner_);
    QFont listFont(QStringLiteral("Arial"));
    listFont.setPointSize(8);
    buildReportView(listFont);
    buildIconView(listFont);
    inner_->setCentralWidget(stack_);

    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(report_), static_cast<QAbstractItemView*>(icons_)}) {
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& at) {
            UpdateActions();
            fillCdMenus();
            rowMenu_->popup(view->viewport()->mapToGlobal(at));
        });
    }
}

void TfrmComputers::buildReportView(const QFont& font) {
    report_ = new QTableView(stack_);
    report_->setObjectName(QStringLiteral("lvComputers"));
    report_->setAccessibleName(QStringLiteral("Computadoras"));
    report_->setModel(list_);
    report_->setFont(font);
    report_->setSelectionBehavior(QAbstractItemView::SelectRows);
    report_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    report_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    report_->setShowGrid(true);
    report_->setWordWrap(false);
    report_->setTextElideMode(Qt::ElideRight);
    report_->setIconSize(QSize(16, 16));
    report_->verticalHeader()->hide();
    report_->verticalHeader()->setDefaultSectionSize(QFontMetrics(font).height() + 6);
    report_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    QHeaderView* header = report_->horizontalHeader();
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    header->setMinimumSectionSize(40);
    header->setStretchLastSection(true);
    header->setResizeContentsPrecision(64);
    for (int i = 0; i < 7; ++i)
        header->resizeSection(i, kColumnWidths[i]);
    connect(header, &QHeaderView::sectionClicked, list_, &ComputersListModel::headerClicked);
    connect(header, &QHeaderView::sectionResized, this, [header](int section, int, int size) {
        // The first column keeps its minimum width of 70.
        if (section == 0 && size < 70)
            header->resizeSection(0, 70);
    });
    stack_->addWidget(report_);
}

void TfrmComputers::buildIconView(const QFont& font) {
    icons_ = new QListView(stack_);
    icons_->setObjectName(QStringLiteral("lvComputersIcons"));
    icons_->setAccessibleName(QStringLiteral("Computadoras"));
    icons_->setModel(list_);
    icons_->setSelectionModel(report_->selectionModel());
    icons_->setFont(font);
    icons_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    icons_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    icons_->setTextElideMode(Qt::ElideMiddle);
    icons_->setUniformItemSizes(true);
    icons_->setResizeMode(QListView::Adjust);
    stack_->addWidget(icons_);
}

void TfrmComputers::followSelectionAndRows() {
    connect(report_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { UpdateActions(); });
    connect(&core_.computers(), &ComputersModel::stateLabelChanged, this,
            [this] { UpdateActions(); });
    // A row's update may change what its actions allow (messages, version)
    // without changing its state: look again once the burst is over.
    connect(&core_.computers(), &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& from) {
                if (from.column() == 0 && report_->selectionModel()->hasSelection())
                    scheduleUpdateActions();
            });
    connect(&core_, &ServerCore::actionsMayChange, this, [this] { scheduleUpdateActions(); });
    connect(&core_.computers(), &QAbstractItemModel::rowsInserted, this, [this] {
        fitColumnsOnce();
        scheduleUpdateActions();
    });
}

void TfrmComputers::fitColumnsOnce() {
    // New rows: the automatic columns fit their texts again, once.
    if (resizePending_)
        return;
    resizePending_ = true;
    QTimer::singleShot(0, this, [this] {
        resizePending_ = false;
        // Never narrower than a running time needs.
        for (int c = 2; c < 6; ++c) {
            report_->resizeColumnToContents(c);
            if (report_->columnWidth(c) < kColumnWidths[c])
                report_->setColumnWidth(c, kColumnWidths[c]);
        }
    });
}

QString TfrmComputers::caption() const {
    return country_.compare(QStringLiteral("España"), Qt::CaseInsensitive) == 0
               ? QStringLiteral("Ordenadores bajo control")
               : QStringLiteral("Computadoras bajo control");
}

void TfrmComputers::applyCountry(const QString& country) {
    country_ = country;
    const bool spain = country.compare(QStringLiteral("España"), Qt::CaseInsensitive) == 0;
    list_->setFirstCaption(spain ? QStringLiteral("Ordenador") : QStringLiteral("Computadora"));
    setWindowTitle(caption());
    setAccessibleName(caption());
}

void TfrmComputers::applyColours() {
    const ServerSettings& s = core_.settings();
    list_->setColours({s.compColDesc, s.compColBlock, s.compColUse, s.compColWait});
}

void TfrmComputers::buildActions() {
    for (const ComputerAction& entry : ComputerActions()) {
        auto* a = new QAction(QString::fromUtf16(entry.caption), this);
        // Tool buttons keep the whole caption ("..." included) as their name.
        a->setIconText(a->text());
        if (entry.hint != nullptr) {
            const QString hint = QString::fromUtf16(entry.hint);
            a->setStatusTip(QString(hint).replace(QStringLiteral("\r\n"), QStringLiteral(" ")));
            a->setToolTip(QString(hint).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        }
        const QIcon icon = ComputerIcons::ActionIcon(entry.id);
        if (!icon.isNull())
            a->setIcon(icon);
        // Queued: a menu closes, and a button pressed through the
        // accessibility bus gets its answer, before a dialog's own loop runs.
        const Action id = entry.id;
        connect(
            a, &QAction::triggered, this, [this, id] { trigger(id); }, Qt::QueuedConnection);
        actions_[id] = a;
        addAction(a);
    }
    actions_[Grant]->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_A));
    actions_[Grant]->setShortcutContext(Qt::WindowShortcut);
    // Two entries kept hidden, as they have always been.
    accountNow_ = new QAction(QStringLiteral("Mostar cuenta actual"), this);
    accountLast_ = new QAction(QStringLiteral("Mostrar última cuenta"), this);
    accountNow_->setVisible(false);
    accountLast_->setVisible(false);
}
QMenu* TfrmComputers::fillMenu(QMenu* menu, QMenu*& cd) {
    for (Action a : {Grant, Withdraw, MoreTime, Lock, Move, Collect})
        menu->addAction(actions_[a]);
    menu->addSeparator();
    for (Action a : {Refresh, Restart, Capture})
        menu->addAction(actions_[a]);
    menu->addSeparator();
    menu->addAction(accountNow_);
    menu->addAction(accountLast_);
    menu->addSeparator();
    menu->addAction(actions_[Tasks]);
    menu->addAction(actions_[CleanTasks]);
    menu->addSeparator();
    menu->addAction(actions_[SendMessage]);
    menu->addAction(actions_[ViewMessages]);
    menu->addSeparator();
    QMenu* remote = menu->addMenu(QStringLiteral("Remoto"));
    remote->addAction(actions_[ServicePassword]);
    remote->addAction(actions_[RemoteConfig]);
    remote->addAction(actions_[Volume]);
    cd = remote->addMenu(QStringLiteral("CD ROM"));
    remote->addAction(actions_[Run]);
    remote->addAction(actions_[ClientLog]);
    menu->addAction(actions_[UsageHistory]);
    return remote;
}

void TfrmComputers::buildMenus() {
    rowMenu_ = new QMenu(QStringLiteral("Máquinas"), this);
    rowMenu_->setObjectName(QStringLiteral("pmComputers"));
    remote_ = fillMenu(rowMenu_, cd_);
}

void TfrmComputers::FillMachinesMenu(QMenu* menu) {
    if (menu == nullptr)
        return;
    menu->setEnabled(true);
    QMenu* cd = nullptr;
    fillMenu(menu, cd);
    cdCopies_.append(cd);
    connect(menu, &QMenu::aboutToShow, this, [this] {
        UpdateActions();
        fillCdMenus();
    });
}

void TfrmComputers::fillCdMenus() {
    const QList<TCompItem*> rows = selectedRecords();
    TCompItem* r = rows.isEmpty() ? nullptr : rows.first();
    QString drives;
    int state = 0;
    if (r != nullptr) {
        ComputersGuard guard(core_.registry().lock());
        drives = r->cdDrives;
        state = r->state & 127;
    }
    QList<QMenu*> menus{cd_};
    for (const auto& copy : cdCopies_)
        if (copy)
            menus.append(copy);
    const auto entries = ComputerCommands::CdEntries(drives);
    for (QMenu* menu : menus) {
        menu->clear();
        menu->setEnabled(r != nullptr && state != 0);
        if (r == nullptr)
            continue;
        for (const auto& e : entries) {
            QAction* a = menu->addAction(e.caption);
            const QChar letter = e.letter;
            const bool open = e.open;
            connect(a, &QAction::triggered, this,
                    [this, r, letter, open] { CdTray(core_.context(), r, letter, open); });
        }
    }
}

void TfrmComputers::setHandler(Action a, RowsHandler handler) {
    prompts_->setHandler(a, std::move(handler));
}

void TfrmComputers::setViewStyle(ViewStyle style) {
    style_ = style;
    tools_->checkStyle(static_cast<int>(style));
    switch (style) {
    case ViewStyle::Report:
        stack_->setCurrentWidget(report_);
        break;
    case ViewStyle::LargeIcons:
        icons_->setViewMode(QListView::IconMode);
        icons_->setIconSize(QSize(32, 32));
        icons_->setFlow(QListView::LeftToRight);
        icons_->setWrapping(true);
        icons_->setWordWrap(true);
        icons_->setGridSize(QSize(96, 64));
        icons_->setMovement(QListView::Static);
        stack_->setCurrentWidget(icons_);
        break;
    case ViewStyle::SmallIcons:
    case ViewStyle::List:
        icons_->setViewMode(QListView::ListMode);
        icons_->setIconSize(QSize(16, 16));
        icons_->setFlow(style == ViewStyle::SmallIcons ? QListView::LeftToRight
                                                       : QListView::TopToBottom);
        icons_->setWrapping(true);
        icons_->setWordWrap(false);
        icons_->setGridSize(QSize(160, 20));
        stack_->setCurrentWidget(icons_);
        break;
    }
    // The times are counted only while they are shown.
    if (style == ViewStyle::Report) {
        if (!tick_.isActive())
            tick_.start();
    } else {
        tick_.stop();
    }
}

QList<TCompItem*> TfrmComputers::selectedRecords() const {
    QModelIndexList rows = report_->selectionModel()->selectedRows(0);
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QList<TCompItem*> out;
    for (const QModelIndex& i : rows)
        out.append(core_.computers().recordAt(list_->mapToSource(i).row()));
    return out;
}

void TfrmComputers::selectRecord(TCompItem* record, bool add) {
    const int source = core_.computers().rowOf(record);
    if (source < 0)
        return;
    const QModelIndex i = list_->mapFromSource(core_.computers().index(source, 0));
    QItemSelectionModel* sel = report_->selectionModel();
    sel->setCurrentIndex(i,
                         (add ? QItemSelectionModel::Select : QItemSelectionModel::ClearAndSelect) |
                             QItemSelectionModel::Rows);
}

void TfrmComputers::scheduleUpdateActions() {
    if (updatePending_)
        return;
    updatePending_ = true;
    QTimer::singleShot(0, this, [this] {
        updatePending_ = false;
        UpdateActions();
    });
}

void TfrmComputers::UpdateActions() {
    const QList<TCompItem*> rows = selectedRecords();
    ActionInput in;
    in.selectedCount = static_cast<int>(rows.size());
    in.rowCount = list_->rowCount();
    QString name;
    double start = 0;
    if (!rows.isEmpty() && rows.first() != nullptr) {
        in.hasRecord = true;
        ComputersGuard guard(core_.registry().lock());
        in.record = SelectedFrom(*rows.first());
        name = rows.first()->name;
        start = rows.first()->start;
    }
    // Only what is owed for ended uses is collected: a use still running is
    // paid when it ends.
    if (in.hasRecord && core_.computers().showsAmounts())
        in.amountDue = core_.computers().amountOf(name, false, start);
    const ActionStates st = server::UpdateActions(in);
    for (const ComputerAction& entry : ComputerActions())
        actions_[entry.id]->setEnabled(st[entry.id]);
    actions_[ServicePassword]->setVisible(true);
    actions_[Collect]->setVisible(core_.computers().showsAmounts());
    cd_->setEnabled(st.cdRom);
    for (const auto& copy : cdCopies_)
        if (copy)
            copy->setEnabled(st.cdRom);
}

void TfrmComputers::trigger(Action a) {
    // The action may come from a shortcut while it is disabled elsewhere:
    // the rules decide again.
    UpdateActions();
    if (!actions_[a]->isEnabled())
        return;
    const QList<TCompItem*> rows = selectedRecords();
    ComputerActionOf(a).run({commands_, core_.context(), *prompts_, rows});
}

} // namespace tarvina::server
