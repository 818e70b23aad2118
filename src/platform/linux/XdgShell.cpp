#include "platform/linux/XdgShell.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace tarvina::platform {

XdgShell::XdgShell(QString opener) : opener_(std::move(opener)) {}

bool XdgShell::openDocument(const QString& target) {
    if (target.isEmpty()) {
        return false;
    }
    // A local path goes as a file URL so that a name beginning with "-" or
    // holding a colon is never read as an option or a scheme.
    QString argument = target;
    const QUrl url(target, QUrl::StrictMode);
    const bool isUrl = url.isValid() && url.scheme().size() > 1;
    if (!isUrl) {
        argument =
            QUrl::fromLocalFile(QFileInfo(target).absoluteFilePath()).toString(QUrl::FullyEncoded);
    }
    return QProcess::startDetached(opener_, {argument});
}

bool XdgShell::startProgram(const QString& program, const QStringList& arguments) {
    if (program.isEmpty())
        return false;
    // Started in the customer's home, as a program started from the desktop.
    return QProcess::startDetached(program, arguments, QDir::homePath());
}

} // namespace tarvina::platform
