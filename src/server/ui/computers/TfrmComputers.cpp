#include "server/ui/computers/TfrmComputers.h"

#include "platform/Shell.h"
#include "server/computers/Senders.h"
#include "server/shell/ServerCore.h"
#include "server/ui/computers/ComputerDialogs.h"
#include "server/ui/computers/ComputerIcons.h"
#include "server/ui/computers/ComputersListModel.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDockWidget>
#include <QFileDialog>
#include <QHeaderView>
#include <QListView>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>
#include <QStackedWidget>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace tarvina::server {

namespace {

struct ActionText {
    const char16_t* caption;
    const char16_t* hint;
};

// Captions and hints, in the order of the row menu.
const ActionText kActions[TfrmComputers::ActionCount] = {
    {u"Autorizar uso...", u"Permite el uso de un computador al usuario"},
    {u"Desautorizar uso", u"Anula el proceso de acceso a un usuario"},
    {u"Otorgar más tiempo...", u"Agrega más tiempo a la sesion de navegación actual"},
    {u"Bloquear", u"Da por terminado el uso de un computador"},
    {u"Mover usuario...", u"Traslada un usuario de un computador a otro"},
    {u"Refrescar información",
     u"Actualiza la información del computador remoto  (conexión, hora, estado)"},
    {u"Reiniciar computador...", u"Reinicia el computador seleccionado"},
    {u"Capturar pantalla...", u"Muestra una pantalla capturada del computador remoto"},
    {u"Ver tareas...", u"Lista las tareas en ejecución en el computador remoto"},
    {u"Limpiar tareas",
     u"Elimina las tareas que iniciaron luego de la primera autorización del computador "
     u"hoy\r\n(sea cuidadoso, este proceso es irreversible)"},
    {u"Enviar mensaje al usuario...", u"Envía un mensaje al usuario en el computador remoto"},
    {u"Ver mensajes recibidos...",
     u"Muestra los mensajes enviados por el usuario desde el computador remoto"},
    {u"Cambiar contraseña del programa cliente...",
     u"Permite cambiar la contraseña utilizada para administrar el programa cliente"},
    {u"Configuración remota...", u"Permite configurar varios aspectos del programa cliente"},
    {u"Volumen del sonido...", u"Aumenta o diminuye el volumen del sonido en el computador remoto"},
    {u"Ejecutar programa...", u"Ejecuta un programa en el computador remoto"},
    {u"Obtiene bitácora de fallas de cliente", nullptr},
    {u"Ver bitácora de uso...", nullptr},
};

// Widths at start; the automatic columns never shrink below them.
const int kColumnWidths[7] = {160, 70, 90, 64, 64, 80, 160};

// The handle by which a docked tool bar is dragged to another side of the
// frame. While it is dragged over the frame the side comes from the
// diagonals (DockSideFor) and a 42-pixel strip shows where the bar will go;
// dropped there the bar docks on that side, dropped outside the frame it
// floats where it was dropped.
class Grip : public QWidget {
public:
    Grip(QWidget* parent, QWidget* area, std::function<void(int, QPoint)> drop)
        : QWidget(parent), area_(area), drop_(std::move(drop)) {
        setCursor(Qt::SizeAllCursor);
        setAccessibleName(QStringLiteral("Mover barra de herramientas"));
    }
    void setVertical(bool v) {
        vertical_ = v;
        update();
    }
    QSize sizeHint() const override { return QSize(10, 10); }

    // The side a global pointer position chooses; 0 outside the frame.
    int sideAt(const QPoint& global) const {
        const QPoint at = area_->mapFromGlobal(global);
        if (!area_->rect().contains(at))
            return 0;
        return DockSideFor(at.x(), at.y(), area_->width(), area_->height());
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setPen(Qt::NoPen);
        p.setBrush(palette().color(QPalette::Mid));
        for (int i = 0; i < 6; ++i) {
            const int along = 6 + i * 5;
            const QPoint at = vertical_ ? QPoint(3, along) : QPoint(along, 3);
            if (vertical_ ? along < height() - 3 : along < width() - 3)
                p.drawEllipse(at, 1, 1);
        }
    }
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton)
            dragging_ = true;
        e->accept();
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        if (!dragging_)
            return;
        const QPoint global = e->globalPosition().toPoint();
        const int side = sideAt(global);
        if (side == 0) {
            if (band_)
                band_->hide();
            return;
        }
        if (!band_)
            band_ = new QRubberBand(QRubberBand::Rectangle, area_);
        const QRect r = area_->rect();
        constexpr int kStrip = 42;
        switch (side) {
        case 2:
            band_->setGeometry(r.left(), r.bottom() - kStrip + 1, r.width(), kStrip);
            break;
        case 3:
            band_->setGeometry(r.left(), r.top(), kStrip, r.height());
            break;
        case 4:
            band_->setGeometry(r.right() - kStrip + 1, r.top(), kStrip, r.height());
            break;
        default:
            band_->setGeometry(r.left(), r.top(), r.width(), kStrip);
            break;
        }
        band_->show();
        e->accept();
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (!dragging_ || e->button() != Qt::LeftButton)
            return;
        dragging_ = false;
        if (band_)
            band_->hide();
        const QPoint global = e->globalPosition().toPoint();
        // A click that did not move leaves the bar where it is.
        if (rect().contains(e->position().toPoint()))
            return;
        drop_(sideAt(global), global);
        e->accept();
    }

private:
    QWidget* area_;
    std::function<void(int, QPoint)> drop_;
    QRubberBand* band_ = nullptr;
    bool vertical_ = true;
    bool dragging_ = false;
};

} // namespace

TfrmComputers::TfrmComputers(ServerCore& core, platform::Shell& shell, QWidget* parent)
    : QWidget(parent), core_(core), shell_(shell), commands_(core.context()) {
    setObjectName(QStringLiteral("frmComputers"));
    const ServerSettings& s = core_.settings();

    list_ = new ComputersListModel(
        core_.computers(), core_.registry(), [this] { return core_.clock().now().days(); }, this);
    applyColours();

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

    report_ = new QTableView(stack_);
    report_->setObjectName(QStringLiteral("lvComputers"));
    report_->setAccessibleName(QStringLiteral("Computadoras"));
    report_->setModel(list_);
    report_->setFont(listFont);
    report_->setSelectionBehavior(QAbstractItemView::SelectRows);
    report_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    report_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    report_->setShowGrid(true);
    report_->setWordWrap(false);
    report_->setTextElideMode(Qt::ElideRight);
    report_->setIconSize(QSize(16, 16));
    report_->verticalHeader()->hide();
    report_->verticalHeader()->setDefaultSectionSize(QFontMetrics(listFont).height() + 6);
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

    icons_ = new QListView(stack_);
    icons_->setObjectName(QStringLiteral("lvComputersIcons"));
    icons_->setAccessibleName(QStringLiteral("Computadoras"));
    icons_->setModel(list_);
    icons_->setSelectionModel(report_->selectionModel());
    icons_->setFont(listFont);
    icons_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    icons_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    icons_->setTextElideMode(Qt::ElideMiddle);
    icons_->setUniformItemSizes(true);
    icons_->setResizeMode(QListView::Adjust);
    stack_->addWidget(icons_);
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
        // New rows: the automatic columns fit their texts again, once.
        if (resizePending_)
            return scheduleUpdateActions();
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
        scheduleUpdateActions();
    });

    buildActions();
    buildMenus();
    buildToolBar();

    connect(&core_, &ServerCore::serviceModeChanged, this, [this](int mode) {
        // Granting and more time are the cashier's only in the by-request mode.
        actions_[Grant]->setVisible(mode == 0);
        actions_[MoreTime]->setVisible(mode == 0);
    });
    actions_[Grant]->setVisible(s.serviceMode == 0);
    actions_[MoreTime]->setVisible(s.serviceMode == 0);

    core_.hooks().volume = [this](TCompItem* r, int left, int right) {
        volumeDialog()->showFor(r, commands_.displayName(r), left, right);
    };

    askNotice = [this] { return AskNotice(this); };

    tick_.setInterval(1000);
    connect(&tick_, &QTimer::timeout, this, [this] { core_.Tick(); });
    setViewStyle(ViewStyle::Report);
    applyCountry(s.pais);
    UpdateActions();
}

TfrmComputers::~TfrmComputers() {
    core_.hooks().volume = nullptr;
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
    for (int i = 0; i < ActionCount; ++i) {
        auto* a = new QAction(QString::fromUtf16(kActions[i].caption), this);
        // Tool buttons keep the whole caption ("..." included) as their name.
        a->setIconText(a->text());
        if (kActions[i].hint != nullptr) {
            const QString hint = QString::fromUtf16(kActions[i].hint);
            a->setStatusTip(QString(hint).replace(QStringLiteral("\r\n"), QStringLiteral(" ")));
            a->setToolTip(QString(hint).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        }
        // Queued: a menu closes, and a button pressed through the
        // accessibility bus gets its answer, before a dialog's own loop runs.
        connect(
            a, &QAction::triggered, this, [this, i] { trigger(static_cast<Action>(i)); },
            Qt::QueuedConnection);
        actions_[i] = a;
        addAction(a);
    }
    actions_[Grant]->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_A));
    actions_[Grant]->setShortcutContext(Qt::WindowShortcut);
    using G = ComputerIcons::Glyph;
    const std::pair<Action, G> pictures[] = {
        {Grant, G::Grant},
        {Withdraw, G::Withdraw},
        {MoreTime, G::MoreTime},
        {Lock, G::Lock},
        {Move, G::Move},
        {Refresh, G::Refresh},
        {Restart, G::Restart},
        {Capture, G::Capture},
        {Tasks, G::Tasks},
        {CleanTasks, G::CleanTasks},
        {SendMessage, G::SendMessage},
        {ViewMessages, G::ViewMessages},
    };
    for (const auto& [a, g] : pictures)
        actions_[a]->setIcon(ComputerIcons::ActionIcon(g));
    // Two entries kept hidden, as they have always been.
    accountNow_ = new QAction(QStringLiteral("Mostar cuenta actual"), this);
    accountLast_ = new QAction(QStringLiteral("Mostrar última cuenta"), this);
    accountNow_->setVisible(false);
    accountLast_->setVisible(false);
}

QMenu* TfrmComputers::fillMenu(QMenu* menu, QMenu*& cd) {
    for (Action a : {Grant, Withdraw, MoreTime, Lock, Move})
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

void TfrmComputers::buildToolBar() {
    // A copy: placing the bar writes its place back to the settings.
    const ServerSettings s = core_.settings();
    toolBar_ = new QToolBar(QStringLiteral("ZU - Máquinas clientes"));
    toolBar_->setObjectName(QStringLiteral("tbComputers"));
    toolBar_->setIconSize(QSize(24, 24));
    toolBar_->setMovable(false);
    toolBar_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(toolBar_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { toolBarMenu(toolBar_->mapToGlobal(at)); });

    styles_ = new QActionGroup(this);
    styles_->setExclusive(true);
    using G = ComputerIcons::Glyph;
    const std::pair<const char16_t*, G> kStyles[4] = {{u"Iconos grandes", G::StyleLarge},
                                                      {u"Iconos pequeños", G::StyleSmall},
                                                      {u"Lista", G::StyleList},
                                                      {u"Detalle", G::StyleReport}};
    for (int i = 0; i < 4; ++i) {
        QAction* a = styles_->addAction(ComputerIcons::ActionIcon(kStyles[i].second),
                                        QString::fromUtf16(kStyles[i].first));
        a->setCheckable(true);
        a->setToolTip(a->text());
        styleActions_[i] = a;
        toolBar_->addAction(a);
        connect(a, &QAction::triggered, this,
                [this, i] { setViewStyle(static_cast<ViewStyle>(i)); });
    }
    toolBar_->addSeparator();
    for (Action a : {Grant, Withdraw, MoreTime, Lock, Move})
        toolBar_->addAction(actions_[a]);
    toolBar_->addSeparator();
    toolBar_->addAction(actions_[Tasks]);
    toolBar_->addAction(actions_[CleanTasks]);
    toolBar_->addSeparator();
    for (Action a : {Restart, Refresh, Capture, ViewMessages, SendMessage})
        toolBar_->addAction(actions_[a]);

    dock_ = new QDockWidget(toolBar_->windowTitle(), inner_);
    dock_->setObjectName(QStringLiteral("dkComputers"));
    dock_->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    dock_->setAllowedAreas(Qt::AllDockWidgetAreas);
    dock_->setWidget(toolBar_);
    dock_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(dock_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { toolBarMenu(dock_->mapToGlobal(at)); });
    grip_ = new Grip(dock_, inner_, [this](int side, QPoint global) {
        setToolBarAlign(side);
        if (side == 0)
            dock_->move(global);
    });
    dock_->setTitleBarWidget(grip_);
    connect(dock_, &QDockWidget::dockLocationChanged, this, [this](Qt::DockWidgetArea area) {
        placeToolBar(area);
        core_.settings().toolBarAlign = toolBarAlign();
    });
    connect(dock_, &QDockWidget::topLevelChanged, this, [this](bool floating) {
        // Floating, the tool bar shows its caption as its title.
        dock_->setTitleBarWidget(floating ? nullptr : grip_);
        if (floating) {
            toolBar_->setOrientation(Qt::Horizontal);
            dock_->adjustSize();
        }
        core_.settings().toolBarAlign = toolBarAlign();
    });
    inner_->addDockWidget(Qt::TopDockWidgetArea, dock_);

    setToolBarPicture(s.toolBarWallPaper);
    setToolBarFlat(s.toolBarFlat != 0);
    setToolBarAlign(s.toolBarAlign);
}

void TfrmComputers::placeToolBar(Qt::DockWidgetArea area) {
    const bool vertical = area == Qt::LeftDockWidgetArea || area == Qt::RightDockWidgetArea;
    toolBar_->setOrientation(vertical ? Qt::Vertical : Qt::Horizontal);
    // The grip lies across the tool bar: at its left end when the bar is
    // horizontal, at its top when vertical.
    QDockWidget::DockWidgetFeatures f = dock_->features();
    f.setFlag(QDockWidget::DockWidgetVerticalTitleBar, !vertical);
    dock_->setFeatures(f);
    static_cast<Grip*>(grip_)->setVertical(!vertical);
}

int TfrmComputers::toolBarAlign() const {
    if (dock_->isFloating())
        return 0;
    switch (inner_->dockWidgetArea(dock_)) {
    case Qt::BottomDockWidgetArea:
        return 2;
    case Qt::LeftDockWidgetArea:
        return 3;
    case Qt::RightDockWidgetArea:
        return 4;
    default:
        return 1;
    }
}

void TfrmComputers::setToolBarAlign(int align) {
    Qt::DockWidgetArea area = Qt::TopDockWidgetArea;
    switch (align) {
    case 2:
        area = Qt::BottomDockWidgetArea;
        break;
    case 3:
        area = Qt::LeftDockWidgetArea;
        break;
    case 4:
        area = Qt::RightDockWidgetArea;
        break;
    default:
        break;
    }
    dock_->setFloating(false);
    inner_->addDockWidget(area, dock_);
    placeToolBar(area);
    if (align == 0) {
        dock_->setFloating(true);
        dock_->setWindowTitle(toolBar_->windowTitle());
    }
    core_.settings().toolBarAlign = toolBarAlign();
}

void TfrmComputers::setToolBarFlat(bool flat) {
    flat_ = flat;
    for (QAction* a : toolBar_->actions()) {
        if (auto* b = qobject_cast<QToolButton*>(toolBar_->widgetForAction(a))) {
            b->setAutoRaise(flat);
            b->setFixedSize(39, 39);
        }
    }
    core_.settings().toolBarFlat = flat ? 1 : 0;
}

void TfrmComputers::setToolBarPicture(const QString& path) {
    picture_ = path;
    QPalette pal = toolBar_->palette();
    const QPixmap picture = path.isEmpty() ? QPixmap() : QPixmap(path);
    if (picture.isNull()) {
        pal = QApplication::palette(toolBar_);
        toolBar_->setAutoFillBackground(false);
    } else {
        pal.setBrush(QPalette::Window, QBrush(picture));
        pal.setBrush(QPalette::Button, QBrush(picture));
        toolBar_->setAutoFillBackground(true);
    }
    toolBar_->setPalette(pal);
    core_.settings().toolBarWallPaper = path;
}

void TfrmComputers::toolBarMenu(const QPoint& at) {
    QMenu menu(this);
    QAction* choose = menu.addAction(QStringLiteral("Seleccionar imagen de fondo"));
    QAction* flat = menu.addAction(QStringLiteral("Botones planos"));
    flat->setCheckable(true);
    flat->setChecked(flat_);
    QAction* defaults = menu.addAction(QStringLiteral("Valor por defecto"));
    QAction* chosen = menu.exec(at);
    if (chosen == choose) {
        const QString path = QFileDialog::getOpenFileName(
            this, QStringLiteral("Seleccionar imagen de fondo"), QString(),
            QStringLiteral("Imágenes (*.gif *.jpg *.jpeg *.bmp *.ico *.emf *.wmf)"));
        if (!path.isEmpty())
            setToolBarPicture(path);
    } else if (chosen == flat) {
        setToolBarFlat(!flat_);
    } else if (chosen == defaults) {
        setToolBarFlat(true);
        setToolBarPicture(QString());
    }
}

void TfrmComputers::setHandler(Action a, RowsHandler handler) {
    if (a >= 0 && a < ActionCount)
        handlers_[a] = std::move(handler);
}

QAbstractItemView* TfrmComputers::currentView() const {
    return style_ == ViewStyle::Report ? static_cast<QAbstractItemView*>(report_)
                                       : static_cast<QAbstractItemView*>(icons_);
}

void TfrmComputers::setViewStyle(ViewStyle style) {
    style_ = style;
    styleActions_[static_cast<int>(style)]->setChecked(true);
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
    if (!rows.isEmpty() && rows.first() != nullptr) {
        in.hasRecord = true;
        ComputersGuard guard(core_.registry().lock());
        in.record = SelectedFrom(*rows.first());
    }
    const ActionStates st = server::UpdateActions(in);
    const std::pair<Action, bool> states[] = {
        {Grant, st.grant},
        {Withdraw, st.withdraw},
        {MoreTime, st.moreTime},
        {Lock, st.lock},
        {Move, st.move},
        {Refresh, st.refresh},
        {Restart, st.restart},
        {Capture, st.capture},
        {Tasks, st.tasks},
        {CleanTasks, st.cleanTasks},
        {SendMessage, st.sendMessage},
        {ViewMessages, st.viewMessages},
        {ServicePassword, st.servicePassword},
        {RemoteConfig, st.remoteConfig},
        {Volume, st.volume},
        {Run, st.run},
        {ClientLog, st.clientLog},
        {UsageHistory, st.usageHistory},
    };
    for (const auto& [a, on] : states)
        actions_[a]->setEnabled(on);
    actions_[ServicePassword]->setVisible(true);
    cd_->setEnabled(st.cdRom);
    for (const auto& copy : cdCopies_)
        if (copy)
            copy->setEnabled(st.cdRom);
}

TfrmAutoriza* TfrmComputers::grantDialog() {
    if (grant_ == nullptr)
        grant_ = new TfrmAutoriza(this);
    return grant_;
}

TfrmMoreTime* TfrmComputers::moreTimeDialog() {
    if (more_ == nullptr)
        more_ = new TfrmMoreTime(this);
    return more_;
}

TfrmSelTargetComp* TfrmComputers::moveDialog() {
    if (move_ == nullptr)
        move_ = new TfrmSelTargetComp(this);
    return move_;
}

TfrmReset* TfrmComputers::resetDialog() {
    if (reset_ == nullptr)
        reset_ = new TfrmReset(this);
    return reset_;
}

TfrmServPass* TfrmComputers::passwordDialog() {
    if (pass_ == nullptr)
        pass_ = new TfrmServPass(this);
    return pass_;
}

TfrmVol* TfrmComputers::volumeDialog() {
    if (vol_ == nullptr)
        vol_ = new TfrmVol([this](TCompItem* r, int left,
                                  int right) { SetVolume(core_.context(), r, left, right); },
                           this);
    return vol_;
}

void TfrmComputers::openTextWindow(const ComputerCommands::TextWindow& w) {
    auto* window = new TextWindow(w.title, w.lines, this);
    lastText_ = window;
    window->show();
    window->raise();
    window->activateWindow();
}

void TfrmComputers::showClientLog(const QString& path) {
    // The station's answer usually arrives within the second; the file is
    // opened then whether or not it did, without holding the window.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QTimer::singleShot(1000, this, [this, path] {
        QApplication::restoreOverrideCursor();
        if (!shell_.openDocument(path))
            core_.ShowRemoteMessage(nullptr, QStringLiteral("Falla al abrir ") + path);
    });
}

void TfrmComputers::trigger(Action a) {
    // The action may come from a shortcut while it is disabled elsewhere:
    // the rules decide again.
    UpdateActions();
    if (!actions_[a]->isEnabled())
        return;
    const QList<TCompItem*> rows = selectedRecords();
    TCompItem* first = rows.isEmpty() ? nullptr : rows.first();
    ServerContext& ctx = core_.context();
    switch (a) {
    case Grant:
        commands_.grant(
            rows,
            [this](TCompItem* r) -> std::optional<GrantAnswer> {
                const auto answer = grantDialog()->ask(commands_.displayName(r));
                if (!answer)
                    return std::nullopt;
                return GrantAnswer{answer->second, answer->first};
            },
            [this](const QString& text) {
                QMessageBox::critical(this, QStringLiteral("Error"), text);
            });
        break;
    case Withdraw:
        commands_.withdraw(rows);
        break;
    case MoreTime:
        commands_.moreTime(rows, [this](TCompItem*) -> std::optional<MoreTimeAnswer> {
            const auto answer = moreTimeDialog()->ask();
            if (!answer)
                return std::nullopt;
            return MoreTimeAnswer{answer->first, answer->second};
        });
        break;
    case Lock:
        commands_.lock(rows);
        break;
    case Move: {
        QList<MoveTargetForm::Entry> entries;
        for (const MoveTarget& t : commands_.moveTargets())
            entries.append({t.record, OneLine(t.name)});
        if (TCompItem* target = moveDialog()->ask(entries))
            commands_.move(rows, target);
        break;
    }
    case Refresh:
        commands_.refresh(rows);
        break;
    case Restart:
        if (const auto answer = resetDialog()->ask())
            commands_.shutdown(rows, answer->first, answer->second);
        break;
    case SendMessage:
        if (askNotice)
            if (const auto text = askNotice())
                commands_.notice(rows, *text);
        break;
    case ViewMessages:
        openTextWindow(commands_.takeMessages(first));
        break;
    case ServicePassword:
        if (const auto password = passwordDialog()->ask())
            commands_.servicePassword(rows, *password);
        break;
    case Volume:
        QueryVolume(ctx, first);
        break;
    case Run:
        if (run_ == nullptr)
            run_ = new TfrmRun(
                [this](TCompItem* r, const QString& text) { RunRemote(core_.context(), r, text); },
                this);
        run_->openFor(first, commands_.displayName(first));
        run_->show();
        run_->raise();
        run_->activateWindow();
        break;
    case ClientLog:
        showClientLog(commands_.requestClientLog(rows));
        break;
    case UsageHistory:
        openTextWindow(commands_.history(first));
        break;
    case Capture:
    case Tasks:
    case CleanTasks:
    case RemoteConfig:
        if (handlers_[a])
            handlers_[a](rows);
        else
            core_.ShowRemoteMessage(first,
                                    QStringLiteral("Función no disponible en esta versión: ") +
                                        actions_[a]->text());
        break;
    case ActionCount:
        break;
    }
}

} // namespace tarvina::server
