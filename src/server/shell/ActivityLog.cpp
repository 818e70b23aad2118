#include "server/shell/ActivityLog.h"

#include "common/Cp1252.h"

#include <QDir>
#include <QFileInfo>

namespace tarvina::server {

ActivityLog::ActivityLog(const QString& folder)
    : file_(QDir(folder).filePath(QLatin1String(kFileName))) {}

bool ActivityLog::exceeds(qint64 limit) const {
    const QFileInfo info(file_.fileName());
    return info.exists() && info.size() > limit;
}

bool ActivityLog::remove() {
    close();
    return QFile::remove(file_.fileName());
}

bool ActivityLog::open() {
    if (file_.isOpen())
        return true;
    if (file_.open(QIODevice::WriteOnly | QIODevice::Append))
        return true;
    if (file_.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return true;
    QFile::remove(file_.fileName());
    return file_.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

QByteArray ActivityLog::FormatLine(const QString& text, const common::DateTime& now) {
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    const QString line = common::FormatDateTime(QStringLiteral("dd/mm/yyyy hh:nn:ss"), now) +
                         QStringLiteral(" [localhost, n/a],'") + quoted + QLatin1Char('\'');
    return common::ToCp1252(line) + '\n';
}

bool ActivityLog::write(const QString& text, const common::DateTime& now) {
    if (!file_.isOpen())
        return false;
    const QByteArray line = FormatLine(text, now);
    const bool ok = file_.write(line) == line.size();
    file_.flush();
    return ok;
}

void ActivityLog::close() {
    if (file_.isOpen())
        file_.close();
}

} // namespace tarvina::server
