#include "server/ui/MainWindow.h"

#include "server/shell/ServerCore.h"

#include <QCloseEvent>
#include <QMenuBar>
#include <QScrollBar>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>

namespace tarvina::server {

MainWindow::MainWindow(ServerCore& core, QWidget* parent) : QMainWindow(parent), core_(core) {
    setObjectName(QStringLiteral("frmZUCaja"));
    setWindowTitle(QStringLiteral("Tarvina"));
    auto* frame = new QWidget(this);
    frame->setObjectName(QStringLiteral("Cónsola"));
    auto* layout = new QVBoxLayout(frame);
    auto* title = new QLabel(QStringLiteral("Mensajes de Consola "), frame);
    console_ = new QTextEdit(frame);
    console_->setReadOnly(true);
    layout->addWidget(title);
    layout->addWidget(console_);
    setCentralWidget(frame);

    static const int kWidths[4] = {330, 100, 50, 50};
    for (int i = 0; i < 4; ++i) {
        panels_[i] = new QLabel(this);
        panels_[i]->setMinimumWidth(kWidths[i]);
        statusBar()->addWidget(panels_[i], i == 0 ? 1 : 0);
        panels_[i]->setText(core_.statusText(i));
    }

    QMenu* session = menuBar()->addMenu(QStringLiteral("Sesión"));
    QAction* clear = session->addAction(QStringLiteral("Borrar mensajes de cónsola"));
    connect(clear, &QAction::triggered, &core_.console(), &ConsoleModel::clear);
    QAction* quit = session->addAction(QStringLiteral("Cerrar aplicación"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    connect(quit, &QAction::triggered, this, &MainWindow::terminate);

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
    connect(&core_, &ServerCore::statusTextChanged, this, [this](int panel, const QString& t) {
        if (panel >= 0 && panel < 4)
            panels_[panel]->setText(t);
    });
    core_.hooks().closeMainWindow = [this] { terminate(); };
    core_.hooks().minimize = [this] { showMinimized(); };
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
    terminating_ = true;
    close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
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
