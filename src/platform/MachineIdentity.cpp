#include "platform/MachineIdentity.h"

namespace tarvina::platform {

namespace {

bool IsMacText(QStringView s) {
    if (s.size() != 17)
        return false;
    for (int i = 0; i < 17; ++i) {
        const QChar c = s[i];
        if (i % 3 == 2) {
            if (c != u':' && c != u'-')
                return false;
        } else if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') ||
                     (c >= u'A' && c <= u'F'))) {
            return false;
        }
    }
    return true;
}

} // namespace

QString FormatMac(const QByteArray& sixBytes) {
    if (sixBytes.size() != 6)
        return QString::fromLatin1(kMacNotFound);
    return QString::fromLatin1(sixBytes.toHex('-').toUpper());
}

QString MacFromFirstAdapter(const MachineInfo& info) {
    for (const NetworkAdapter& a : info.adapters()) {
        if (a.loopback || a.hardwareAddress.size() != 6)
            continue;
        if (a.hardwareAddress == QByteArray(6, '\0'))
            continue;
        return FormatMac(a.hardwareAddress);
    }
    return QString::fromLatin1(kMacNotFound);
}

QString MacFromPhysicalAdapter(const MachineInfo& info) {
    const QList<NetworkAdapter> all = info.adapters();
    const auto usable = [](const NetworkAdapter& a) {
        return a.physical && !a.loopback && a.hardwareAddress.size() == 6 &&
               a.hardwareAddress != QByteArray(6, '\0');
    };
    for (int rank = 0; rank < 3; ++rank) {
        for (const NetworkAdapter& a : all) {
            if (!usable(a))
                continue;
            if ((rank == 0 && a.up && a.globalAddress) || (rank == 1 && a.up) || rank == 2)
                return FormatMac(a.hardwareAddress);
        }
    }
    return QString::fromLatin1(kMacNotFound);
}

QString MacFromIdentifier(MachineInfo& info, const IdentityErrorLog& log) {
    const std::optional<QByteArray> id = info.newTimeBasedIdentifier();
    if (!id || id->size() != 16) {
        if (log)
            log(QStringLiteral("GetMACAddressGUID no se pudo crear el identificador"));
        return QString::fromLatin1(kMacNotFound);
    }
    return FormatMac(id->right(6));
}

QString MacFromCommandText(const QByteArray& output) {
    // "ip link": the address follows "link/ether ".
    static const QByteArray etherLabel("link/ether");
    const qsizetype e = output.indexOf(etherLabel);
    if (e >= 0) {
        qsizetype p = e + etherLabel.size();
        while (p < output.size() && (output[p] == ' ' || output[p] == '\t'))
            ++p;
        qsizetype q = p;
        while (q < output.size() && q - p < 22 && !QChar::isSpace(uchar(output[q])))
            ++q;
        const QString token = QString::fromLatin1(output.mid(p, q - p));
        if (IsMacText(token))
            return token.toUpper().replace(u':', u'-');
        if (!token.isEmpty())
            return token;
    }
    // The Windows console's labels: English, Spanish in code page 850, and
    // Spanish in code page 1252.
    static const QByteArray labels[] = {QByteArray("Physical Address"),
                                        QByteArray("Direcci\xA2n f\xA1sica"),
                                        QByteArray("Direcci\xF3n f\xEDsica")};
    for (const QByteArray& label : labels) {
        const qsizetype at = output.indexOf(label);
        if (at < 0)
            continue;
        const qsizetype colon = output.indexOf(':', at + 17);
        if (colon < 0)
            return QString::fromLatin1(kMacNotFound);
        return QString::fromLatin1(output.mid(colon + 1, 22).trimmed());
    }
    return QString::fromLatin1(kMacNotFound);
}

QString MacFromCommandOutput(MachineInfo& info, const IdentityErrorLog& log) {
    const std::optional<QByteArray> out = info.addressCommandOutput();
    if (!out) {
        if (log)
            log(QStringLiteral("GetMACAddressIPCONFIG no se pudo ejecutar el comando"));
        return QString::fromLatin1(kMacNotFound);
    }
    return MacFromCommandText(*out);
}

QString GetMacAddress(MachineInfo& info, Program program, const IdentityErrorLog& log) {
    const QString notFound = QString::fromLatin1(kMacNotFound);
    if (program == Program::Taquilla) {
        const QString mac = MacFromFirstAdapter(info);
        return mac != notFound ? mac : MacFromCommandOutput(info);
    }
    // The station first looks for its own network card: the command's first
    // address may belong to a bridge or a container link that is down.
    const QString card = MacFromPhysicalAdapter(info);
    if (card != notFound)
        return card;
    const OsVersion v = info.osVersion();
    // Windows after NT 4 lists its adapters with the command; a system that
    // describes itself (Linux) is taken alike whatever its kernel's number.
    if (v.platformId == 2 && (v.major > 4 || !v.description.isEmpty())) {
        const QString mac = MacFromCommandOutput(info, log);
        return mac != notFound ? mac : MacFromFirstAdapter(info);
    }
    const QString first = MacFromFirstAdapter(info);
    if (first != notFound)
        return first;
    const QString fromId = MacFromIdentifier(info, log);
    if (fromId == notFound)
        return MacFromCommandOutput(info, log);
    // A random identifier gives a different tail each time: only a tail that
    // repeats is an adapter address.
    if (MacFromIdentifier(info, log) == fromId)
        return fromId;
    return MacFromCommandOutput(info, log);
}

WindowsVersion GetWindowsVersion(const MachineInfo& info, Program program) {
    const OsVersion v = info.osVersion();
    const int build = v.platformId == 1 ? (v.build & 0xFFFF) : v.build;
    WindowsVersion out;
    out.major = v.major;
    out.minor = v.minor;
    out.build = build;
    if (!v.description.isEmpty()) {
        out.text = v.description;
        return out;
    }
    QString prefix;
    switch (v.platformId) {
    case 0:
        prefix = QStringLiteral("Windows 3.x ");
        break;
    case 1:
        prefix = QStringLiteral("Windows 95/98 ");
        break;
    case 2:
        prefix = program == Program::Puesto ? QStringLiteral("Windows XP/NT/2000 ")
                                            : QStringLiteral("Windows NT/2000 ");
        break;
    default:
        break;
    }
    out.text = prefix + QStringLiteral("Versión %1.%2.%3").arg(v.major).arg(v.minor).arg(build) +
               u' ' + v.servicePack;
    return out;
}

QString GetDiskSerial(const MachineInfo& info) {
    const std::optional<quint32> serial = info.rootVolumeSerial();
    if (!serial)
        return QStringLiteral("Sin serial (o sin \"C\")");
    return QStringLiteral("%1-%2")
        .arg(*serial >> 16, 4, 16, QChar(u'0'))
        .arg(*serial & 0xFFFF, 4, 16, QChar(u'0'))
        .toUpper();
}

std::optional<QString> GetComputerName(const Registry& registry, const MachineInfo& info,
                                       common::LastCommand* lastCommand) {
    const std::optional<QString> stored = registry.readString(
        Root::LocalMachine,
        QStringLiteral("\\System\\CurrentControlSet\\Control\\Computername\\Computername"),
        QStringLiteral("Computername"));
    if (!stored) {
        if (lastCommand)
            lastCommand->set(QStringLiteral("NameOfComputer"));
        return std::nullopt;
    }
    if (!stored->isEmpty())
        return *stored;
    // The system's name as a buffer of 16 characters holds it.
    return info.hostName().left(15);
}

} // namespace tarvina::platform
