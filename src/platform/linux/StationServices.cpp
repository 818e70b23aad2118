#include "platform/linux/StationServices.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvina::platform {

bool IcmpPinger::ping(const QString& host, int timeoutMs) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* res = nullptr;
    if (host.isEmpty() || ::getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &res) != 0)
        return false;
    sockaddr_in addr{};
    std::memcpy(&addr, res->ai_addr, sizeof addr);
    ::freeaddrinfo(res);
    bool raw = false;
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) {
        fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        raw = true;
    }
    if (fd < 0)
        return false;
    unsigned char packet[64] = {};
    packet[0] = ICMP_ECHO;
    const quint16 ident = static_cast<quint16>(::getpid());
    packet[4] = ident >> 8;
    packet[5] = ident & 0xFF;
    packet[7] = 1;
    std::memcpy(packet + 8, "tarvina-ping-payload", 20);
    quint32 sum = 0;
    for (size_t i = 0; i < sizeof packet; i += 2)
        sum += (packet[i] << 8) | packet[i + 1];
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    const quint16 csum = static_cast<quint16>(~sum);
    packet[2] = csum >> 8;
    packet[3] = csum & 0xFF;
    bool ok = false;
    if (::sendto(fd, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr) ==
        sizeof packet) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) > 0) {
            unsigned char reply[1500];
            const ssize_t n = ::recv(fd, reply, sizeof reply, 0);
            const ssize_t at = raw ? (n > 0 ? (reply[0] & 0x0F) * 4 : 0) : 0;
            ok = n > at + 8 && reply[at] == ICMP_ECHOREPLY;
        }
    }
    ::close(fd);
    return ok;
}

bool LinuxSystemTime::setLocalTime(const common::DateTime& when, QString* error) {
    const QDateTime local = when.toQDateTime();
    if (!local.isValid()) {
        if (error)
            *error = QStringLiteral("invalid date");
        return false;
    }
    const qint64 ms = local.toMSecsSinceEpoch();
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ms / 1000);
    ts.tv_nsec = static_cast<long>((ms % 1000) * 1000000);
    if (::clock_settime(CLOCK_REALTIME, &ts) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
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
