#include "simulator/ReportedPort.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <algorithm>

namespace tarvina::sim {

namespace {

// The line comes early; a program that printed this much without it is not
// going to print it.
constexpr qint64 kMaxLook = 1 << 20;

} // namespace

quint16 PortInOutput(QByteArrayView output) {
    static constexpr QByteArrayView kLead("Escuchando en el puerto ");
    const qsizetype at = output.indexOf(kLead);
    if (at < 0)
        return 0;
    const qsizetype from = at + kLead.size();
    qsizetype end = from;
    // Six digits at most: enough to tell a number past the last port.
    while (end < output.size() && end - from < 6 && output[end] >= '0' && output[end] <= '9')
        ++end;
    if (end == from)
        return 0;
    bool ok = false;
    const uint port = output.sliced(from, end - from).toUInt(&ok);
    return ok && port > 0 && port < 65536 ? static_cast<quint16>(port) : 0;
}

quint16 WaitReportedPort(QProcess& taquilla, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const QByteArray seen = taquilla.peek(std::min(taquilla.bytesAvailable(), kMaxLook));
        if (const quint16 port = PortInOutput(seen))
            return port;
        if (taquilla.state() != QProcess::Running || deadline.hasExpired() ||
            seen.size() >= kMaxLook)
            return 0;
        taquilla.waitForReadyRead(
            static_cast<int>(std::min<qint64>(deadline.remainingTime(), 1000)));
    }
}

quint16 WaitReportedPortInFile(const QString& outputFile, QProcess& taquilla, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        QFile f(outputFile);
        if (f.open(QIODevice::ReadOnly))
            if (const quint16 port = PortInOutput(f.read(kMaxLook)))
                return port;
        if (taquilla.state() != QProcess::Running || deadline.hasExpired())
            return 0;
        // Nothing tells of a write to a file: look again shortly, or at once
        // when the program ends.
        taquilla.waitForFinished(static_cast<int>(std::min<qint64>(deadline.remainingTime(), 50)));
    }
}

} // namespace tarvina::sim
