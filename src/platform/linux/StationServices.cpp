#include "platform/linux/StationServices.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace tarvina::platform {

// One echo request, answered by the same exchange the network test uses.
bool IcmpPinger::ping(const QString& host, int timeoutMs) {
    return echo(host, 1, timeoutMs).has_value();
}

QList<SysfsDrives::Drive> SysfsDrives::drives() const {
    QList<Drive> out;
    QStringList names = QDir(sysBlock_).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    // Letters start at D, after the A-C of the system's own disks.
    char letter = 'D';
    for (const QString& n : names) {
        if (letter > 'Z')
            break;
        const bool optical = n.startsWith(QStringLiteral("sr"));
        QFile rem(QDir(sysBlock_).filePath(n + QStringLiteral("/removable")));
        bool removable = false;
        if (rem.open(QIODevice::ReadOnly))
            removable = rem.read(4).trimmed() == "1";
        if (!optical && !removable)
            continue;
        out.append({QChar(QLatin1Char(letter++)), QDir(dev_).filePath(n), optical});
    }
    return out;
}

QString SysfsDrives::deviceOf(QChar letter) const {
    for (const Drive& d : drives())
        if (d.letter == letter.toUpper())
            return QFileInfo(d.device).fileName();
    return {};
}

QString SysfsDrives::cdDriveLetters() {
    QString s;
    for (const Drive& d : drives())
        if (d.optical)
            s += d.letter;
    return s;
}

QString SysfsDrives::lettersWithMedia() {
    QString s;
    for (const Drive& d : drives()) {
        QFile size(
            QDir(sysBlock_).filePath(QFileInfo(d.device).fileName() + QStringLiteral("/size")));
        if (size.open(QIODevice::ReadOnly) && size.read(32).trimmed().toLongLong() > 0)
            s += d.letter;
    }
    return s;
}

bool SysfsDrives::setTray(QChar letter, bool open, QString* error) {
    for (const Drive& d : drives()) {
        if (d.letter != letter.toUpper() || !d.optical)
            continue;
        const int fd =
            ::open(d.device.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            if (error)
                *error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        const int rc = ::ioctl(fd, open ? CDROMEJECT : CDROMCLOSETRAY, 0);
        const int err = errno;
        ::close(fd);
        if (rc != 0 && error)
            *error = QString::fromLocal8Bit(std::strerror(err));
        return rc == 0;
    }
    if (error)
        *error = QStringLiteral("no such drive");
    return false;
}

} // namespace tarvina::platform
