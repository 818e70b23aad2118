#include "client/control/RestoreLogos.h"

#include "client/config/LogoBackup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tarvina::client {

namespace {

QString RestoringText(platform::Desktop::Logo::Role role) {
    switch (role) {
    case platform::Desktop::Logo::Role::Start:
        return QStringLiteral("El logotipo de windows está siendo restituído");
    case platform::Desktop::Logo::Role::ShutDown:
        return QStringLiteral("El logotipo de apagado de windows (logos) está siendo restituído");
    case platform::Desktop::Logo::Role::Exit:
        break;
    }
    return QStringLiteral("El logotipo de salida de windows (logow) está siendo restituído");
}

// Copied beside the live file and renamed over it: a failed copy never
// leaves half a picture where the system looks for one.
bool CopyOver(const QString& from, const QString& to) {
    const QString part = to + QStringLiteral(".part");
    QFile::remove(part);
    if (!QFile::copy(from, part)) {
        QFile::remove(part);
        return false;
    }
    QFile::remove(to);
    if (!QFile::rename(part, to)) {
        QFile::remove(part);
        return false;
    }
    return true;
}

} // namespace

bool SameFileBytes(const QString& a, const QString& b) {
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly))
        return false;
    if (fa.size() != fb.size())
        return false;
    constexpr qint64 kBlock = 20480;
    for (;;) {
        const QByteArray ba = fa.read(kBlock);
        const QByteArray bb = fb.read(kBlock);
        if (ba != bb)
            return false;
        if (ba.isEmpty())
            return !fa.error() && !fb.error();
    }
}

int RestoreLogos(platform::Desktop& desktop, const QString& workingFolder,
                 const std::function<void(const QString&)>& tellCashier) {
    const config::LogoBackup backup(desktop, workingFolder);
    int restored = 0;
    bool failed = false;
    for (const platform::Desktop::Logo& logo : desktop.logos()) {
        const QString copy =
            QDir(backup.folder()).filePath(config::LogoBackup::BackupName(logo.role));
        if (!QFileInfo(copy).isFile() || logo.path.isEmpty())
            continue;
        if (QFileInfo(logo.path).isFile() && SameFileBytes(copy, logo.path))
            continue;
        tellCashier(RestoringText(logo.role));
        if (CopyOver(copy, logo.path))
            ++restored;
        else
            failed = true;
    }
    if (failed)
        tellCashier(QStringLiteral("Falló restitución de logotipos."));
    return restored;
}

} // namespace tarvina::client
