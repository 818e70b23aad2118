#include "server/shell/LastActivityStamp.h"

#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QtEndian>
#include <cmath>
#include <cstring>

namespace tarvina::server {

namespace {
// 1 January 1900 and 31 December 9999 as days since 30 December 1899.
constexpr double kFirstDay = 2;
constexpr double kLastDay = 2958465;
} // namespace

QString LastActivityStamp::PathFor(const QString& programFolder, const QString& programName) {
    return QDir(programFolder).filePath(programName + QStringLiteral(".dtu"));
}

bool LastActivityStamp::write(const common::DateTime& now, QString* error) const {
    const double days = now.days();
    quint64 bits;
    std::memcpy(&bits, &days, sizeof bits);
    char raw[8];
    qToLittleEndian(bits, raw);
    return platform::WriteFileAtomically(path_, QByteArray(raw, sizeof raw), 0644, error);
}

std::optional<common::DateTime> LastActivityStamp::read() const {
    QFile f(path_);
    if (!f.open(QIODevice::ReadOnly) || f.size() != 8)
        return std::nullopt;
    const QByteArray raw = f.read(8);
    if (raw.size() != 8)
        return std::nullopt;
    const quint64 bits = qFromLittleEndian<quint64>(raw.constData());
    double days;
    std::memcpy(&days, &bits, sizeof days);
    if (!std::isfinite(days) || days < kFirstDay || days > kLastDay)
        return std::nullopt;
    const common::DateTime t = common::DateTime::FromDays(days);
    if (!t.isValid())
        return std::nullopt;
    return t;
}

} // namespace tarvina::server
