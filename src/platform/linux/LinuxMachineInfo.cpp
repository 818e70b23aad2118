#include "platform/linux/LinuxMachineInfo.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace tarvina::platform {

namespace {

constexpr qint64 kMaxCommandOutput = 1024 * 1024;

QByteArray ReadBounded(const QString& path, qint64 max) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.read(max);
}

// At most max bytes of a regular file; empty for anything else. The file is
// opened without blocking, so that a pipe or a device put in its place
// cannot hold the start.
QByteArray ReadRegularFile(const QString& path, qint64 max) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    QByteArray out;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        out.resize(max);
        qint64 got = 0;
        while (got < max) {
            const ssize_t n = ::read(fd, out.data() + got, size_t(max - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += n;
        }
        out.truncate(got);
    }
    ::close(fd);
    return out;
}

// One value of an os-release assignment as the shell reads it: single quotes
// keep everything, double quotes let a backslash escape only " \ $ and `,
// outside quotes a backslash escapes any character; a quote left open ends
// with the line, and blanks that end the value outside quotes are dropped.
QByteArray ShellValue(QByteArrayView raw) {
    enum class Quote { None, Single, Double } quote = Quote::None;
    QByteArray out;
    qsizetype kept = 0;
    qsizetype i = 0;
    while (i < raw.size() && (raw[i] == ' ' || raw[i] == '\t'))
        ++i;
    for (; i < raw.size(); ++i) {
        const char c = raw[i];
        if (quote == Quote::Single) {
            if (c == '\'')
                quote = Quote::None;
            else
                out += c;
            kept = out.size();
            continue;
        }
        if (quote == Quote::Double) {
            if (c == '"') {
                quote = Quote::None;
            } else if (c == '\\' && i + 1 < raw.size() &&
                       QByteArrayView("\"\\$`").contains(raw[i + 1])) {
                out += raw[++i];
            } else {
                out += c;
            }
            kept = out.size();
            continue;
        }
        if (c == '\'') {
            quote = Quote::Single;
        } else if (c == '"') {
            quote = Quote::Double;
        } else if (c == '\\') {
            if (i + 1 < raw.size())
                out += raw[++i];
            kept = out.size();
        } else {
            out += c;
            if (c != ' ' && c != '\t')
                kept = out.size();
        }
    }
    out.truncate(kept);
    return out;
}

// Printable characters only: the name goes to the console, the technical
// information page and the diagnostic report.
QString Printable(const QByteArray& utf8) {
    QString out;
    for (char32_t c : QString::fromUtf8(utf8).toUcs4()) {
        if (QChar::isSpace(c))
            c = U' ';
        if (QChar::isPrint(c))
            out += QString::fromUcs4(&c, 1);
    }
    return out.simplified();
}

QByteArray ParseMacText(const QByteArray& text) {
    const QByteArray t = text.trimmed();
    const QList<QByteArray> parts = t.split(':');
    if (parts.size() != 6)
        return {};
    QByteArray out;
    for (const QByteArray& p : parts) {
        bool ok = false;
        const uint v = p.toUInt(&ok, 16);
        if (!ok || p.size() != 2)
            return {};
        out += char(v);
    }
    return out;
}

} // namespace

QList<NetworkAdapter> LinuxMachineInfo::adapters() const {
    struct Found {
        unsigned index;
        NetworkAdapter adapter;
    };
    QList<Found> found;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) == 0) {
        for (ifaddrs* a = list; a; a = a->ifa_next) {
            if (!a->ifa_addr || a->ifa_addr->sa_family != AF_PACKET)
                continue;
            const auto* ll = reinterpret_cast<const sockaddr_ll*>(a->ifa_addr);
            NetworkAdapter na;
            na.name = QString::fromLocal8Bit(a->ifa_name);
            if (ll->sll_halen == 6)
                na.hardwareAddress = QByteArray(reinterpret_cast<const char*>(ll->sll_addr), 6);
            na.loopback = (a->ifa_flags & IFF_LOOPBACK) != 0;
            na.up = (a->ifa_flags & IFF_UP) != 0;
            found.append({unsigned(ll->sll_ifindex), na});
        }
        ::freeifaddrs(list);
    }
    // Addresses by adapter name, and whether the adapter is a card of its own.
    if (::getifaddrs(&list) == 0) {
        for (ifaddrs* a = list; a; a = a->ifa_next) {
            if (!a->ifa_addr)
                continue;
            bool global = false;
            if (a->ifa_addr->sa_family == AF_INET) {
                const quint32 ip =
                    ntohl(reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr);
                global = (ip >> 24) != 127 && (ip >> 16) != 0xA9FE && ip != 0;
            } else if (a->ifa_addr->sa_family == AF_INET6) {
                const auto* in6 = &reinterpret_cast<const sockaddr_in6*>(a->ifa_addr)->sin6_addr;
                global = !IN6_IS_ADDR_LINKLOCAL(in6) && !IN6_IS_ADDR_LOOPBACK(in6) &&
                         !IN6_IS_ADDR_UNSPECIFIED(in6);
            }
            if (!global)
                continue;
            const QString name = QString::fromLocal8Bit(a->ifa_name);
            for (Found& f : found)
                if (f.adapter.name == name)
                    f.adapter.globalAddress = true;
        }
        ::freeifaddrs(list);
    }
    for (Found& f : found)
        f.adapter.physical = QFileInfo::exists(sources_.sysClassNet + u'/' + f.adapter.name +
                                               QStringLiteral("/device"));
    if (found.isEmpty()) {
        // Without packet sockets (some sandboxes), sysfs still lists them.
        const QDir net(sources_.sysClassNet);
        for (const QString& name : net.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            NetworkAdapter na;
            na.name = name;
            na.hardwareAddress = ParseMacText(ReadBounded(net.filePath(name + "/address"), 64));
            const uint flags =
                ReadBounded(net.filePath(name + "/flags"), 32).trimmed().toUInt(nullptr, 16);
            na.loopback = (flags & IFF_LOOPBACK) != 0;
            na.up = (flags & IFF_UP) != 0;
            const uint index = ReadBounded(net.filePath(name + "/ifindex"), 32).trimmed().toUInt();
            na.physical = QFileInfo::exists(net.filePath(name + "/device"));
            found.append({index, na});
        }
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const Found& a, const Found& b) { return a.index < b.index; });
    QList<NetworkAdapter> out;
    for (const Found& f : found)
        out.append(f.adapter);
    return out;
}

std::optional<QByteArray> LinuxMachineInfo::newTimeBasedIdentifier() {
    // RFC 4122 version 1: 100 ns ticks since 1582-10-15.
    constexpr quint64 kGregorianOffset = 0x01B21DD213814000ULL;
    const quint64 ticks = quint64(QDateTime::currentMSecsSinceEpoch()) * 10000ULL +
                          kGregorianOffset + QRandomGenerator::global()->bounded(10000u);
    QByteArray id(16, '\0');
    const quint32 timeLow = quint32(ticks);
    const quint16 timeMid = quint16(ticks >> 32);
    const quint16 timeHi = quint16((ticks >> 48) & 0x0FFF) | 0x1000;
    const quint16 clockSeq = quint16(QRandomGenerator::global()->bounded(0x4000u)) | 0x8000;
    for (int i = 0; i < 4; ++i)
        id[i] = char(timeLow >> (24 - 8 * i));
    id[4] = char(timeMid >> 8);
    id[5] = char(timeMid);
    id[6] = char(timeHi >> 8);
    id[7] = char(timeHi);
    id[8] = char(clockSeq >> 8);
    id[9] = char(clockSeq);
    QByteArray node;
    for (const NetworkAdapter& a : adapters()) {
        if (!a.loopback && a.hardwareAddress.size() == 6 && a.hardwareAddress != QByteArray(6, 0)) {
            node = a.hardwareAddress;
            break;
        }
    }
    if (node.isEmpty()) {
        // No adapter: a random node with the multicast bit, as RFC 4122 says.
        node.resize(6);
        for (char& c : node)
            c = char(QRandomGenerator::global()->bounded(256));
        node[0] = char(node[0] | 0x01);
    }
    id.replace(10, 6, node);
    return id;
}

std::optional<QByteArray> LinuxMachineInfo::addressCommandOutput() {
    if (sources_.addressCommand.isEmpty())
        return std::nullopt;
    QProcess p;
    p.setProgram(sources_.addressCommand.first());
    p.setArguments(sources_.addressCommand.mid(1));
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(QIODevice::ReadOnly);
    if (!p.waitForStarted(sources_.commandTimeoutMs))
        return std::nullopt;
    // Read while it runs so that a large output cannot stall the command.
    QByteArray out;
    QDeadlineTimer deadline(sources_.commandTimeoutMs);
    while (p.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        p.waitForReadyRead(100);
        const QByteArray chunk = p.readAllStandardOutput();
        if (out.size() < kMaxCommandOutput)
            out += chunk.left(kMaxCommandOutput - out.size());
        p.readAllStandardError();
    }
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(1000);
        return std::nullopt;
    }
    const QByteArray rest = p.readAllStandardOutput();
    if (out.size() < kMaxCommandOutput)
        out += rest.left(kMaxCommandOutput - out.size());
    if (p.exitStatus() != QProcess::NormalExit)
        return std::nullopt;
    return out;
}

QString LinuxMachineInfo::hostName() const {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0)
        return QString();
    return QString::fromLocal8Bit(buf);
}

OsVersion LinuxMachineInfo::VersionFromRelease(const QString& sysname, const QString& release) {
    OsVersion v;
    v.platformId = 2;
    static const QRegularExpression re(QStringLiteral("^(\\d+)(?:\\.(\\d+))?(?:\\.(\\d+))?"));
    const QRegularExpressionMatch m = re.match(release);
    if (m.hasMatch()) {
        v.major = m.captured(1).left(6).toInt();
        v.minor = m.captured(2).left(6).toInt();
        v.build = m.captured(3).left(6).toInt();
    }
    v.servicePack = (sysname + u' ' + release).trimmed();
    return v;
}

QString LinuxMachineInfo::SystemNameFromOsRelease(QByteArrayView text) {
    QString pretty, name, version;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        QByteArrayView line = text.sliced(start, end - start).trimmed();
        start = end + 1;
        const qsizetype eq = line.indexOf('=');
        if (line.isEmpty() || line.front() == '#' || eq <= 0)
            continue;
        const QByteArrayView key = line.first(eq).trimmed();
        QString* field = key == "PRETTY_NAME" ? &pretty
                         : key == "NAME"      ? &name
                         : key == "VERSION"   ? &version
                                              : nullptr;
        // A later assignment wins, as it does for the shell.
        if (field != nullptr)
            *field = Printable(ShellValue(line.sliced(eq + 1)));
    }
    QString out = !pretty.isEmpty() ? pretty : (name + u' ' + version).trimmed();
    // Cut between characters, never inside a surrogate pair.
    if (out.size() > kMaxSystemName) {
        qsizetype cut = kMaxSystemName;
        if (out.at(cut).isLowSurrogate())
            --cut;
        out = out.left(cut).trimmed();
    }
    return out;
}

OsVersion LinuxMachineInfo::osVersion() const {
    QString system;
    for (const QString& path : sources_.osRelease) {
        const QByteArray text = ReadRegularFile(path, kMaxOsRelease);
        if (!text.isEmpty()) {
            system = SystemNameFromOsRelease(text);
            break;
        }
    }
    OsVersion v;
    utsname u{};
    if (::uname(&u) == 0)
        v = VersionFromRelease(QString::fromLocal8Bit(u.sysname),
                               QString::fromLocal8Bit(u.release));
    // Without an os-release the kernel alone names the system.
    const QString kernel = v.servicePack.isEmpty() ? QStringLiteral("Linux") : v.servicePack;
    v.description = system.isEmpty() ? kernel : system + u' ' + kernel;
    return v;
}

std::optional<quint32> LinuxMachineInfo::SerialFromUuid(const QString& uuid) {
    QString hex;
    for (const QChar c : uuid) {
        if (c == u'-')
            continue;
        if (!QStringLiteral("0123456789abcdefABCDEF").contains(c))
            return std::nullopt;
        hex += c;
        if (hex.size() == 8)
            break;
    }
    if (hex.size() != 8)
        return std::nullopt;
    return hex.toUInt(nullptr, 16);
}

std::optional<QPair<unsigned, unsigned>>
LinuxMachineInfo::RootDeviceFromMountInfo(const QByteArray& text) {
    // Fields: id parent major:minor root mount-point ...; the last line for
    // "/" is the mount that is visible.
    std::optional<QPair<unsigned, unsigned>> found;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        if (f.size() < 5 || f[4] != "/")
            continue;
        const QList<QByteArray> mm = f[2].split(':');
        bool ok1 = false, ok2 = false;
        if (mm.size() != 2)
            continue;
        const unsigned major = mm[0].toUInt(&ok1);
        const unsigned minor = mm[1].toUInt(&ok2);
        if (ok1 && ok2)
            found = qMakePair(major, minor);
    }
    return found;
}

std::optional<quint32> LinuxMachineInfo::rootVolumeSerial() const {
    const auto dev = RootDeviceFromMountInfo(ReadBounded(sources_.mountInfo, 4 * 1024 * 1024));
    if (dev) {
        const QDir byUuid(sources_.byUuid);
        for (const QString& name :
             byUuid.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
            struct stat st;
            if (::stat(QFile::encodeName(byUuid.filePath(name)).constData(), &st) != 0)
                continue;
            if (S_ISBLK(st.st_mode) && ::major(st.st_rdev) == dev->first &&
                ::minor(st.st_rdev) == dev->second) {
                if (const auto s = SerialFromUuid(name))
                    return s;
            }
        }
    }
    struct statfs sf {};
    if (::statfs("/", &sf) == 0) {
        quint32 v[2];
        static_assert(sizeof(sf.f_fsid) == sizeof v);
        std::memcpy(v, &sf.f_fsid, sizeof v);
        const quint32 serial = v[0] ^ v[1];
        if (serial != 0)
            return serial;
    }
    return std::nullopt;
}

} // namespace tarvina::platform
