#include "server/ui/computers/ComputersToolBar.h"

#include "common/Paths.h"
#include "server/session/ViewRules.h"
#include "server/settings/ServerSettings.h"
#include "server/ui/computers/ComputerIcons.h"
#include "server/ui/computers/ToolBarPicture.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QMainWindow>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>
#include <QToolBar>
#include <QToolButton>

namespace tarvina::server {

namespace detail {

// The handle by which a docked tool bar is dragged to another side of the
// frame. While it is dragged over the frame the side comes from the
// diagonals (DockSideFor) and a 42-pixel strip shows where the bar will go;
// dropped there the bar docks on that side, dropped outside the frame it
// floats where it was dropped.
class ToolBarGrip : public QWidget {
public:
    ToolBarGrip(QWidget* parent, QWidget* area, std::function<void(int, QPoint)> drop)
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
        const int side = sideAt(e->globalPosition().toPoint());
        if (side == 0) {
            if (band_)
                band_->hide();
            return;
        }
        if (!band_)
            band_ = new QRubberBand(QRubberBand::Rectangle, area_);
        band_->setGeometry(stripFor(side));
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
    // Where the bar would go on a side of the frame.
    QRect stripFor(int side) const {
        const QRect r = area_->rect();
        constexpr int kStrip = 42;
        switch (side) {
        case 2:
            return QRect(r.left(), r.bottom() - kStrip + 1, r.width(), kStrip);
        case 3:
            return QRect(r.left(), r.top(), kStrip, r.height());
        case 4:
            return QRect(r.right() - kStrip + 1, r.top(), kStrip, r.height());
        default:
            return QRect(r.left(), r.top(), r.width(), kStrip);
        }
    }

    QWidget* area_;
    std::function<void(int, QPoint)> drop_;
    QRubberBand* band_ = nullptr;
    bool vertical_ = true;
    bool dragging_ = false;
};

} // namespace detail

namespace {

using A = ComputerAction;

// The buttons after the styles, a separator before each group.
const std::initializer_list<A::Id> kButtonGroups[] = {
    {A::Grant, A::Withdraw, A::MoreTime, A::Lock, A::Move},
    {A::Tasks, A::CleanTasks},
    {A::Restart, A::Refresh, A::Capture, A::ViewMessages, A::SendMessage},
};

// In the view's ViewStyle order.
const char16_t* const kStyleCaptions[4] = {u"Iconos grandes", u"Iconos pequeños", u"Lista",
                                           u"Detalle"};

} // namespace

ComputersToolBar::ComputersToolBar(ServerSettings& settings, QMainWindow* area, QWidget* owner,
                                   const std::array<QAction*, ComputerAction::Count>& actions,
                                   std::function<void(int)> chooseStyle, QString programFolder)
    : QObject(owner), settings_(settings), area_(area), owner_(owner),
      programFolder_(std::move(programFolder)) {
    // A copy: placing the bar writes its place back to the settings.
    const ServerSettings s = settings_;
    bar_ = new QToolBar(QStringLiteral("ZU - Máquinas clientes"));
    bar_->setObjectName(QStringLiteral("tbComputers"));
    bar_->setIconSize(QSize(24, 24));
    bar_->setMovable(false);
    bar_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(bar_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { showMenu(bar_->mapToGlobal(at)); });

    addStyles(std::move(chooseStyle));
    for (const auto& group : kButtonGroups) {
        bar_->addSeparator();
        for (A::Id id : group)
            bar_->addAction(actions[id]);
    }
    addDock();

    setPicture(s.toolBarWallPaper);
    setFlat(s.toolBarFlat != 0);
    setAlign(s.toolBarAlign);
}

void ComputersToolBar::addStyles(std::function<void(int)> chooseStyle) {
    styles_ = new QActionGroup(owner_);
    styles_->setExclusive(true);
    for (int i = 0; i < 4; ++i) {
        QAction* a =
            styles_->addAction(ComputerIcons::StyleIcon(i), QString::fromUtf16(kStyleCaptions[i]));
        a->setCheckable(true);
        a->setToolTip(a->text());
        styleActions_[i] = a;
        bar_->addAction(a);
        connect(a, &QAction::triggered, this, [chooseStyle, i] { chooseStyle(i); });
    }
}

void ComputersToolBar::addDock() {
    dock_ = new QDockWidget(bar_->windowTitle(), area_);
    dock_->setObjectName(QStringLiteral("dkComputers"));
    dock_->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    dock_->setAllowedAreas(Qt::AllDockWidgetAreas);
    dock_->setWidget(bar_);
    dock_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(dock_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { showMenu(dock_->mapToGlobal(at)); });
    grip_ = new detail::ToolBarGrip(dock_, area_, [this](int side, QPoint global) {
        setAlign(side);
        if (side == 0)
            dock_->move(global);
    });
    dock_->setTitleBarWidget(grip_);
    connect(dock_, &QDockWidget::dockLocationChanged, this, [this](Qt::DockWidgetArea area) {
        place(area);
        settings_.toolBarAlign = align();
    });
    connect(dock_, &QDockWidget::topLevelChanged, this, [this](bool floating) {
        // Floating, the tool bar shows its caption as its title.
        dock_->setTitleBarWidget(floating ? nullptr : grip_);
        if (floating) {
            bar_->setOrientation(Qt::Horizontal);
            dock_->adjustSize();
        }
        settings_.toolBarAlign = align();
    });
    area_->addDockWidget(Qt::TopDockWidgetArea, dock_);
}

void ComputersToolBar::checkStyle(int index) {
    styleActions_[index]->setChecked(true);
}

void ComputersToolBar::place(Qt::DockWidgetArea area) {
    const bool vertical = area == Qt::LeftDockWidgetArea || area == Qt::RightDockWidgetArea;
    bar_->setOrientation(vertical ? Qt::Vertical : Qt::Horizontal);
    // The grip lies across the tool bar: at its left end when the bar is
    // horizontal, at its top when vertical.
    QDockWidget::DockWidgetFeatures f = dock_->features();
    f.setFlag(QDockWidget::DockWidgetVerticalTitleBar, !vertical);
    dock_->setFeatures(f);
    grip_->setVertical(!vertical);
}

int ComputersToolBar::align() const {
    if (dock_->isFloating())
        return 0;
    switch (area_->dockWidgetArea(dock_)) {
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

void ComputersToolBar::setAlign(int value) {
    Qt::DockWidgetArea area = Qt::TopDockWidgetArea;
    switch (value) {
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
    area_->addDockWidget(area, dock_);
    place(area);
    if (value == 0) {
        dock_->setFloating(true);
        dock_->setWindowTitle(bar_->windowTitle());
    }
    settings_.toolBarAlign = align();
}

void ComputersToolBar::setFlat(bool flat) {
    flat_ = flat;
    for (QAction* a : bar_->actions()) {
        if (auto* b = qobject_cast<QToolButton*>(bar_->widgetForAction(a))) {
            b->setAutoRaise(flat);
            b->setFixedSize(39, 39);
        }
    }
    settings_.toolBarFlat = flat ? 1 : 0;
}

void ComputersToolBar::setPicture(const QString& path) {
    settings_.toolBarWallPaper = path;
    if (path.isEmpty()) {
        const QString saved =
            common::FindFileCaseInsensitive(programFolder_, QStringLiteral("fondo.bmp"));
        if (!saved.isEmpty())
            QFile::remove(saved);
    } else {
        ui::ConvertToolBarWallPaper(path, programFolder_);
    }
    const QPixmap picture = path.isEmpty() ? QPixmap() : ui::LoadToolBarPicture(programFolder_);
    hasPicture_ = !picture.isNull();
    QPalette pal = bar_->palette();
    if (picture.isNull()) {
        pal = QApplication::palette(bar_);
        bar_->setAutoFillBackground(false);
    } else {
        // A brush with a pixmap tiles it from the widget's top-left corner.
        pal.setBrush(QPalette::Window, QBrush(picture));
        pal.setBrush(QPalette::Button, QBrush(picture));
        bar_->setAutoFillBackground(true);
    }
    bar_->setPalette(pal);
}

void ComputersToolBar::setVisible(bool visible) {
    dock_->setVisible(visible);
}

void ComputersToolBar::showMenu(const QPoint& at) {
    QMenu menu(owner_);
    QAction* choose = menu.addAction(QStringLiteral("Seleccionar imagen de fondo"));
    QAction* flat = menu.addAction(QStringLiteral("Botones planos"));
    flat->setCheckable(true);
    flat->setChecked(flat_);
    QAction* defaults = menu.addAction(QStringLiteral("Valor por defecto"));
    QAction* chosen = menu.exec(at);
    if (chosen == choose) {
        const QString path = QFileDialog::getOpenFileName(
            owner_, QStringLiteral("Seleccionar imagen de fondo"), QString(),
            QStringLiteral("Imágenes (*.gif *.jpg *.jpeg *.bmp *.ico *.emf *.wmf)"));
        if (!path.isEmpty())
            setPicture(path);
    } else if (chosen == flat) {
        setFlat(!flat_);
    } else if (chosen == defaults) {
        setFlat(true);
        setPicture(QString());
    }
}

} // namespace tarvina::server
