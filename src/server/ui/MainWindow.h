#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QTextEdit>

namespace tarvina::server {

class ServerCore;

// taquilla's main window, minimal for now: the console frame "Cónsola" and
// the status bar with its four panels. It draws from ServerCore and asks it
// for the orderly close.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(ServerCore& core, QWidget* parent = nullptr);

    // "Cerrar aplicación": the orderly close, then the window goes.
    void terminate();
    bool terminating() const { return terminating_; }
    QTextEdit* consoleView() const { return console_; }
    QString panelText(int panel) const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void appendLine(const QString& text, bool header);

    ServerCore& core_;
    QTextEdit* console_;
    QLabel* panels_[4];
    bool terminating_ = false;
    bool closed_ = false;
};

} // namespace tarvina::server
