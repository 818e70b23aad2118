#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace tarvina::server {

class ServerCore;

// The message boxes of the program's shell. Without a display (the
// offscreen platform) none is shown: what a box would say goes to the
// console (and a notice to the activity log as well), a question is
// answered no, and nothing waits.
class ShellBoxes {
public:
    // `owner`: the window a box belongs to, or none.
    ShellBoxes(ServerCore& core, bool headless, std::function<QWidget*()> owner);

    // icon: a QMessageBox::Icon.
    void notice(const QString& title, const QString& text, int icon);
    bool ask(const QString& title, const QString& text);
    // The general error handling: the error is recorded (exception log,
    // console) and its box shown.
    void unexpectedError(const QString& sender, const QString& text);

    // The boxes shown (or that would have been): title and text.
    QStringList shown() const { return shown_; }

private:
    ServerCore& core_;
    bool headless_;
    std::function<QWidget*()> owner_;
    QStringList shown_;
};

} // namespace tarvina::server
