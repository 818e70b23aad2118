#include "server/shell/LastActivityStamp.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QtEndian>
#include <cmath>
#include <cstring>

namespace tarvina::server {

QString LastActivityStamp::PathFor(const QString& programFolder, const QString& programName) {
    return QDir(programFolder).filePath(programName + QStringLiteral(".dtu"));
}

bool LastActivityStamp::write(const common::DateTime& now) {
    const double days = now.days();
    quint64 bits;
    std::memcpy(&bits, &days, sizeof bits);
    char raw[8];
    qToLittleEndian(bits, raw);
    QSaveFile f(path_);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(raw, sizeof raw);
    return f.commit();
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
    if (!std::isfinite(days))
        return std::nullopt;
    const common::DateTime t = common::DateTime::FromDays(days);
    if (!t.isValid())
        return std::nullopt;
    return t;
}

} // namespace tarvina::server
