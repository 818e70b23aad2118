#include "platform/linux/StationServices.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
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

namespace {
QByteArray ReadSmall(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.read(256).trimmed() : QByteArray();
}
} // namespace

QString SysfsDrives::identity(const QString& name) const {
    const QString device = QDir(sysBlock_).filePath(name + QStringLiteral("/device"));
    QByteArray serial;
    // The serial number is the USB device's, some levels above the disk.
    QDir up(QFileInfo(device).canonicalFilePath());
    for (int i = 0; i < 8 && serial.isEmpty() && !up.isRoot() && !up.path().isEmpty(); ++i) {
        serial = ReadSmall(up.filePath(QStringLiteral("serial")));
        if (!up.cdUp())
            break;
    }
    const QByteArray id = ReadSmall(device + QStringLiteral("/vendor")) + '|' +
                          ReadSmall(device + QStringLiteral("/model")) + '|' + serial;
    // Nothing to tell it by: its name is all there is.
    const QString text = QString::fromUtf8(id).simplified();
    return text == u"||" ? QStringLiteral("name:") + name : text;
}

void SysfsDrives::loadLetters() const {
    if (loaded_)
        return;
    loaded_ = true;
    if (lettersFile_.isEmpty())
        return;
    QFile f(lettersFile_);
    if (!f.open(QIODevice::ReadOnly))
        return;
    // One "letter<TAB>identity" a line, a line for each of the 23 letters.
    for (const QByteArray& line : f.read(16 * 1024).split('\n')) {
        const qsizetype tab = line.indexOf('\t');
        if (tab != 1 || line[0] < 'D' || line[0] > 'Z' || remembered_.size() >= 23)
            continue;
        const QChar letter{QLatin1Char(line[0])};
        const QString id = QString::fromUtf8(line.mid(2, 600)).simplified();
        bool taken = false;
        for (const auto& r : remembered_)
            taken = taken || r.first == letter || r.second == id;
        if (!taken && !id.isEmpty())
            remembered_.append({letter, id});
    }
}

void SysfsDrives::saveLetters() const {
    if (lettersFile_.isEmpty())
        return;
    QByteArray text;
    for (const auto& r : remembered_)
        text += QByteArray(1, r.first.toLatin1()) + '\t' + r.second.toUtf8() + '\n';
    QDir().mkpath(QFileInfo(lettersFile_).absolutePath());
    QFile f(lettersFile_);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(text);
}

QList<SysfsDrives::Drive> SysfsDrives::drives() const {
    loadLetters();
    QList<Drive> out;
    QStringList names = QDir(sysBlock_).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    QList<QPair<QString, bool>> present; // name, optical
    for (const QString& n : names) {
        const bool optical = n.startsWith(QStringLiteral("sr"));
        const bool removable =
            ReadSmall(QDir(sysBlock_).filePath(n + QStringLiteral("/removable"))) == "1";
        if (optical || removable)
            present.append({n, optical});
    }
    bool changed = false;
    QList<QChar> used;
    for (const auto& [n, optical] : present) {
        const QString id = identity(n);
        qsizetype at = -1;
        for (qsizetype i = 0; i < remembered_.size(); ++i)
            if (remembered_[i].second == id && !used.contains(remembered_[i].first))
                at = i;
        if (at < 0) {
            // Letters start at D, after the A-C of the system's own disks.
            QChar letter;
            for (char c = 'D'; c <= 'Z' && letter.isNull(); ++c) {
                bool known = false;
                for (const auto& r : remembered_)
                    known = known || r.first == QLatin1Char(c);
                if (!known)
                    letter = QLatin1Char(c);
            }
            if (letter.isNull()) {
                // Every letter remembered: the one not seen the longest.
                for (qsizetype i = 0; i < remembered_.size() && at < 0; ++i)
                    if (!used.contains(remembered_[i].first))
                        at = i;
                if (at < 0)
                    continue;
                letter = remembered_[at].first;
                remembered_.removeAt(at);
            }
            remembered_.append({letter, id});
            at = remembered_.size() - 1;
            changed = true;
        }
        used << remembered_[at].first;
        out.append({remembered_[at].first, QDir(dev_).filePath(n), optical});
    }
    if (changed)
        saveLetters();
    std::sort(out.begin(), out.end(),
              [](const Drive& a, const Drive& b) { return a.letter < b.letter; });
    return out;
}

QString SysfsDrives::deviceOf(QChar letter) const {
    for (const Drive& d : drives())
        if (d.letter == letter.toUpper())
            return QFileInfo(d.device).fileName();
    return {};
}

Drives::Kind SysfsDrives::kindOf(QChar letter) {
    for (const Drive& d : drives())
        if (d.letter == letter.toUpper())
            return d.optical ? Kind::CdRom : Kind::Removable;
    return letter.toUpper() == u'C' ? Kind::Fixed : Kind::None;
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
