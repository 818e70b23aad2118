#include "server/ui/shell/ShellBoxes.h"

#include "server/shell/ServerCore.h"
#include "server/shell/UnexpectedError.h"

#include <QMessageBox>

namespace tarvina::server {

ShellBoxes::ShellBoxes(ServerCore& core, bool headless, std::function<QWidget*()> owner)
    : core_(core), headless_(headless), owner_(std::move(owner)) {}

void ShellBoxes::notice(const QString& title, const QString& text, int icon) {
    shown_ << title + QStringLiteral(": ") + text;
    if (headless_) {
        // No one could see the box: the console and the activity log keep
        // what it would have said, and nothing waits for it.
        core_.ShowRemoteMessage(nullptr, text);
        core_.logActivity(text);
        return;
    }
    QMessageBox box(static_cast<QMessageBox::Icon>(icon), title, text, QMessageBox::Ok, owner_());
    box.exec();
}

bool ShellBoxes::ask(const QString& title, const QString& text) {
    shown_ << title + QStringLiteral(": ") + text;
    if (headless_) {
        core_.ShowRemoteMessage(nullptr, text + QStringLiteral(" No (sin pantalla)."));
        return false;
    }
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No,
                    owner_());
    return box.exec() == QMessageBox::Yes;
}

void ShellBoxes::unexpectedError(const QString& sender, const QString& text) {
    const QString box = UnexpectedError::Record(core_, sender, text);
    if (headless_) {
        shown_ << QStringLiteral("Error: ") + box;
        core_.ShowRemoteMessage(nullptr, box);
        return;
    }
    notice(QStringLiteral("Error"), box, QMessageBox::Critical);
}

} // namespace tarvina::server
