#include "client/config/LogoBackup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tarvina::client::config {

QString LogoBackup::folder() const {
    return QDir(folder_).filePath(QStringLiteral("Logos"));
}

QString LogoBackup::BackupName(platform::Desktop::Logo::Role role) {
    switch (role) {
    case platform::Desktop::Logo::Role::Start:
        return QStringLiteral("logo.sys");
    case platform::Desktop::Logo::Role::ShutDown:
        return QStringLiteral("logos.sys");
    case platform::Desktop::Logo::Role::Exit:
        break;
    }
    return QStringLiteral("logow.sys");
}

bool LogoBackup::backup(bool force) {
    const QString dir = folder();
    if (!force && QFileInfo(dir).isDir())
        return true;
    if (!QDir().mkpath(dir))
        return false;
    for (const platform::Desktop::Logo& logo : desktop_.logos()) {
        if (!QFileInfo(logo.path).isFile())
            continue;
        // Copied beside and renamed over, so a failed copy never leaves half
        // a picture where a good backup was.
        const QString target = QDir(dir).filePath(BackupName(logo.role));
        const QString part = target + QStringLiteral(".part");
        QFile::remove(part);
        if (QFile::copy(logo.path, part)) {
            QFile::remove(target);
            QFile::rename(part, target);
        } else {
            QFile::remove(part);
        }
    }
    return QFileInfo(dir).isDir();
}

} // namespace tarvina::client::config
