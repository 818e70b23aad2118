#include "platform/linux/AvahiBrowser.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QProcess>

namespace tarvina::platform {

namespace {
// The browser's answer for one small network is a few kilobytes.
constexpr qint64 kMaxOutput = 1024 * 1024;
} // namespace

QStringList AvahiBrowser::ParseBrowseOutput(const QByteArray& output, quint16 port) {
    QStringList found;
    for (const QByteArray& raw : output.split('\n')) {
        if (found.size() >= kMaxComputers)
            break;
        // =;interface;protocol;name;type;domain;host;address;port;txt
        const QList<QByteArray> f = raw.trimmed().split(';');
        if (f.size() < 9 || f[0] != "=" || f[2] != "IPv4")
            continue;
        bool ok = false;
        const uint p = f[8].toUInt(&ok);
        if (!ok || p != port)
            continue;
        const QHostAddress address(QString::fromLatin1(f[7]));
        if (address.protocol() != QAbstractSocket::IPv4Protocol)
            continue;
        const QString text = address.toString();
        if (!found.contains(text))
            found << text;
    }
    return found;
}

QStringList AvahiBrowser::computers(int timeoutMs) {
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.setStandardErrorFile(QProcess::nullDevice());
    // -r resolve, -t end once the cache is listed, -p parsable.
    p.start(command_, {QStringLiteral("-r"), QStringLiteral("-t"), QStringLiteral("-p"),
                       QString::fromLatin1(kServiceType)});
    if (!p.waitForStarted(qMin(timeoutMs, 3000)))
        return {};
    QByteArray out;
    QDeadlineTimer deadline(timeoutMs);
    while (p.state() != QProcess::NotRunning && !deadline.hasExpired() && out.size() < kMaxOutput) {
        p.waitForReadyRead(static_cast<int>(qMin<qint64>(deadline.remainingTime(), 100)));
        out += p.read(kMaxOutput - out.size());
    }
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(1000);
    }
    if (out.size() < kMaxOutput)
        out += p.read(kMaxOutput - out.size());
    return ParseBrowseOutput(out, port_);
}

} // namespace tarvina::platform
