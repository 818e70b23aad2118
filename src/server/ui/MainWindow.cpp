#include "server/ui/MainWindow.h"

#include "server/shell/ServerCore.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QMenuBar>
#include <QScrollBar>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QToolBox>
#include <QToolButton>
#include <QVBoxLayout>

namespace tarvina::server {

namespace {

struct SideBarEntry {
    MainWindow::PageId id;
    int folder;
    const char16_t* caption;
    QStyle::StandardPixmap icon;
};

// The side bar: three folders, two items each.
constexpr const char16_t* kFolders[3] = {u"Operaciones", u"Consultas", u"Miscelaneos"};
const SideBarEntry kEntries[MainWindow::kPageCount] = {
    {MainWindow::PageId::Computers, 0, u"Equipos", QStyle::SP_ComputerIcon},
    {MainWindow::PageId::Pin, 0, u"PIN", QStyle::SP_FileDialogDetailedView},
    {MainWindow::PageId::Console, 1, u"Consola", QStyle::SP_MessageBoxInformation},
    {MainWindow::PageId::PinHistory, 1, u"Uso de Pines", QStyle::SP_FileDialogContentsView},
    {MainWindow::PageId::Preferences, 2, u"Configuración", QStyle::SP_FileDialogListView},
    {MainWindow::PageId::Information, 2, u"Información", QStyle::SP_MessageBoxQuestion},
};

int Index(MainWindow::PageId id) {
    return static_cast<int>(id);
}

// Stands in a slot until the page's own frame is put there.
QWidget* Placeholder(const QString& caption) {
    auto* w = new QLabel(caption + QStringLiteral(": página no disponible todavía."));
    w->setAlignment(Qt::AlignCenter);
    w->setObjectName(QStringLiteral("placeholder"));
    return w;
}

} // namespace

QString MainWindow::PageCaption(PageId id) {
    return QString::fromUtf16(kEntries[Index(id)].caption);
}

MainWindow::MainWindow(ServerCore& core, QWidget* parent) : QMainWindow(parent), core_(core) {
    setObjectName(QStringLiteral("frmZUCaja"));
    setWindowTitle(QStringLiteral("Tarvina"));
    setAccessibleName(QStringLiteral("Tarvina"));

    pages_ = new QStackedWidget(this);
    for (const SideBarEntry& e : kEntries) {
        QWidget* w = e.id == PageId::Console ? buildConsolePage()
                                             : Placeholder(QString::fromUtf16(e.caption));
        slots_[Index(e.id)] = w;
        pages_->addWidget(w);
    }
    buildSideBar();

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(sideBar_);
    splitter->addWidget(pages_);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setChildrenCollapsible(false);
    setCentralWidget(splitter);

    static const int kWidths[4] = {330, 100, 50, 50};
    for (int i = 0; i < 4; ++i) {
        panels_[i] = new QLabel(this);
        panels_[i]->setMinimumWidth(kWidths[i]);
        statusBar()->addWidget(panels_[i], i == 0 ? 1 : 0);
        panels_[i]->setText(core_.statusText(i));
    }
    connect(&core_, &ServerCore::statusTextChanged, this, [this](int panel, const QString& t) {
        if (panel >= 0 && panel < 4)
            panels_[panel]->setText(t);
    });

    buildMenus();
    core_.hooks().closeMainWindow = [this] { terminate(); };
    core_.hooks().minimize = [this] { showMinimized(); };
    selectItem(PageId::Computers);
}

QWidget* MainWindow::buildConsolePage() {
    auto* frame = new QWidget;
    frame->setObjectName(QStringLiteral("Cónsola"));
    auto* layout = new QVBoxLayout(frame);
    auto* title = new QLabel(QStringLiteral("Mensajes de Consola "), frame);
    console_ = new QTextEdit(frame);
    console_->setReadOnly(true);
    console_->setAccessibleName(QStringLiteral("Mensajes de Consola"));
    title->setBuddy(console_);
    layout->addWidget(title);
    layout->addWidget(console_);

    for (const auto& line : core_.console().lines())
        appendLine(line.text, line.header);
    connect(&core_.console(), &ConsoleModel::lineAdded, this,
            [this](const ConsoleModel::Line& l) { appendLine(l.text, l.header); });
    connect(&core_.console(), &ConsoleModel::trimmed, this, [this](int n) {
        QTextCursor c(console_->document());
        c.movePosition(QTextCursor::Start);
        c.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, n);
        c.removeSelectedText();
    });
    connect(&core_.console(), &ConsoleModel::cleared, console_, &QTextEdit::clear);
    return frame;
}

void MainWindow::buildSideBar() {
    sideBar_ = new QToolBox(this);
    sideBar_->setObjectName(QStringLiteral("SideBar"));
    sideBar_->setMinimumWidth(150);
    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    QWidget* folders[3];
    for (int f = 0; f < 3; ++f) {
        folders[f] = new QWidget(sideBar_);
        folders[f]->setAccessibleName(QString::fromUtf16(kFolders[f]));
        auto* l = new QVBoxLayout(folders[f]);
        l->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
        sideBar_->addItem(folders[f], QString::fromUtf16(kFolders[f]));
    }
    for (const SideBarEntry& e : kEntries) {
        auto* b = new QToolButton(folders[e.folder]);
        const QString caption = QString::fromUtf16(e.caption);
        b->setText(caption);
        b->setAccessibleName(caption);
        b->setIcon(style()->standardIcon(e.icon));
        b->setIconSize(QSize(32, 32));
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setAutoRaise(true);
        b->setCheckable(true);
        b->setMinimumWidth(90);
        group->addButton(b, Index(e.id));
        folders[e.folder]->layout()->addWidget(b);
        items_[Index(e.id)] = b;
        const PageId id = e.id;
        // A click checks the button at once; showPage puts the check back
        // where it was when the gate refuses, and a click on the page shown
        // refreshes it. Keyboard and accessibility clients only toggle the
        // button, without a click: the page follows the toggle from the
        // event loop, so that their request is answered before a gate's
        // dialog waits for the operator.
        connect(b, &QToolButton::clicked, this, [this, id] { showPage(id); });
        connect(b, &QToolButton::toggled, this, [this, id](bool on) {
            if (!on)
                return;
            QTimer::singleShot(0, this, [this, id] {
                if (items_[Index(id)]->isChecked() && id != current_)
                    showPage(id);
            });
        });
    }
}

void MainWindow::buildMenus() {
    // The shell adds the rest of "Sesión" (before "Cerrar aplicación"),
    // "Reportes" and "Ayuda"; the computers view fills "Máquinas".
    QMenu* session = menuBar()->addMenu(QStringLiteral("&Sesión"));
    menus_.insert(static_cast<int>(MenuId::Session), session);
    clearAction_ = session->addAction(QStringLiteral("Borrar mensajes de cónsola"));
    connect(clearAction_, &QAction::triggered, &core_.console(), &ConsoleModel::clear);
    session->addSeparator();
    quitAction_ = session->addAction(QStringLiteral("Cerrar aplicación"));
    quitAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    connect(quitAction_, &QAction::triggered, this, &MainWindow::terminate);
    menus_.insert(static_cast<int>(MenuId::Machines),
                  menuBar()->addMenu(QStringLiteral("Máquinas")));
    QMenu* pin = menuBar()->addMenu(QStringLiteral("PIN"));
    menus_.insert(static_cast<int>(MenuId::Pin), pin);
    QAction* admin = pin->addAction(QStringLiteral("Administración de PINs..."));
    admin->setStatusTip(QStringLiteral("Permite generar nuevos PINs y ver los ya creados"));
    connect(admin, &QAction::triggered, this, [this] { showPage(PageId::Pin); });
    pin->menuAction()->setVisible(core_.settings().serviceMode == 1);
    connect(&core_, &ServerCore::serviceModeChanged, this,
            [pin](int mode) { pin->menuAction()->setVisible(mode == 1); });
    menus_.insert(static_cast<int>(MenuId::Reports),
                  menuBar()->addMenu(QStringLiteral("Reportes")));
    menus_.insert(static_cast<int>(MenuId::Help), menuBar()->addMenu(QStringLiteral("Ayuda")));
}

QMenu* MainWindow::menu(MenuId id) const {
    return menus_.value(static_cast<int>(id), nullptr);
}

void MainWindow::setPage(PageId id, QWidget* frame) {
    const int i = Index(id);
    // The console is the window's own page.
    if (frame == nullptr || frame == slots_[i] || id == PageId::Console)
        return;
    QWidget* old = slots_[i];
    const bool wasCurrent = pages_->currentWidget() == old;
    pages_->insertWidget(pages_->indexOf(old), frame);
    pages_->removeWidget(old);
    old->deleteLater();
    slots_[i] = frame;
    if (wasCurrent)
        pages_->setCurrentWidget(frame);
}

QWidget* MainWindow::page(PageId id) const {
    return slots_[Index(id)];
}

QAbstractButton* MainWindow::sideBarItem(PageId id) const {
    return items_[Index(id)];
}

void MainWindow::selectItem(PageId id) {
    // Current before the check, so that the check's own signal asks nothing.
    current_ = id;
    const SideBarEntry& e = kEntries[Index(id)];
    sideBar_->setCurrentIndex(e.folder);
    items_[Index(id)]->setChecked(true);
    pages_->setCurrentWidget(slots_[Index(id)]);
}

bool MainWindow::showPage(PageId id) {
    if (id == PageId::Pin && id != current_ && pinGate_ && !pinGate_()) {
        selectItem(current_);
        return false;
    }
    selectItem(id);
    Q_EMIT pageShown(id);
    return true;
}

void MainWindow::setCentralStatus(const QString& text) {
    if (!central_) {
        central_ = new QLabel(this);
        central_->setAccessibleName(QStringLiteral("Central"));
        statusBar()->addPermanentWidget(central_);
    }
    central_->setText(text);
    central_->setVisible(!text.isEmpty());
}

QString MainWindow::panelText(int panel) const {
    return panel >= 0 && panel < 4 ? panels_[panel]->text() : QString();
}

void MainWindow::appendLine(const QString& text, bool header) {
    QTextCharFormat format;
    format.setForeground(header ? QColor(0, 128, 0) : QColor(Qt::black));
    format.setFontWeight(header ? QFont::Bold : QFont::Normal);
    QTextCursor c(console_->document());
    c.movePosition(QTextCursor::End);
    if (!console_->document()->isEmpty())
        c.insertBlock();
    c.insertText(text, format);
    console_->verticalScrollBar()->setValue(console_->verticalScrollBar()->maximum());
}

void MainWindow::terminate() {
    if (terminateHandler_) {
        terminateHandler_();
        return;
    }
    terminating_ = true;
    close();
}

void MainWindow::restoreAndRaise() {
    // The window manager may still report the minimised state of before for
    // a moment; that report must not send the window back to the tray.
    restoring_ = true;
    QTimer::singleShot(kRestoreGraceMs, this, [this] { restoring_ = false; });
    showNormal();
    raise();
    activateWindow();
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && hideWhenMinimized_ && isMinimized() &&
        !restoring_) {
        // Hidden, the window has no task-bar entry; the icon brings it back.
        QTimer::singleShot(0, this, [this] {
            if (isMinimized() && !restoring_)
                hide();
        });
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (closeHandler_) {
        if (closeHandler_())
            event->accept();
        else
            event->ignore();
        return;
    }
    // Without a notification area there is nowhere to hide to, so the close
    // button then takes the orderly close path too.
    if (!terminating_ && QSystemTrayIcon::isSystemTrayAvailable()) {
        event->ignore();
        core_.requestMinimize();
        return;
    }
    if (!closed_) {
        closed_ = true;
        core_.closeDown();
    }
    event->accept();
}

} // namespace tarvina::server
