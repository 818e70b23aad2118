#include "server/shell/ActivityStamp.h"

#include "platform/linux/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <cmath>
#include <cstring>

namespace tarvina::server {

namespace {
// 1 January 1900 and 31 December 9999 as days since 30 December 1899.
constexpr double kFirstDay = 2;
constexpr double kLastDay = 2958465;
} // namespace

ActivityStamp::ActivityStamp(const QString& folder)
    : path_(QDir(folder).filePath(QStringLiteral("taquilla.dtu"))) {}

bool ActivityStamp::write(const common::DateTime& now, QString* error) const {
    const double d = now.days();
    QByteArray bytes(sizeof d, '\0');
    std::memcpy(bytes.data(), &d, sizeof d);
    return platform::WriteFileAtomically(path_, bytes, 0644, error);
}

common::DateTime ActivityStamp::read(const common::DateTime& fallback) const {
    QFile f(path_);
    double d = 0;
    if (!f.open(QIODevice::ReadOnly) || f.size() != sizeof d ||
        f.read(reinterpret_cast<char*>(&d), sizeof d) != sizeof d)
        return fallback;
    if (!std::isfinite(d) || d < kFirstDay || d > kLastDay)
        return fallback;
    return common::DateTime::FromDays(d);
}

} // namespace tarvina::server
