#include "common/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace tarvina::common {

namespace {

QString ExecutableFolder() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    const QFileInfo self(QStringLiteral("/proc/self/exe"));
    const QString target = self.symLinkTarget();
    return target.isEmpty() ? QString() : QFileInfo(target).absolutePath();
}

bool IsPlainName(const QString& name) {
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/') &&
           !name.contains(u'\\') && !name.contains(QChar(0));
}

} // namespace

bool IsPortableFolder(const QString& dir) {
    if (dir.isEmpty() || !QFileInfo(dir).isWritable())
        return false;
    const QString canonical = QFileInfo(dir).canonicalFilePath();
    for (const char* system : {"/usr", "/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32"}) {
        const QString s = QString::fromLatin1(system);
        if (canonical == s || canonical.startsWith(s + u'/'))
            return false;
    }
    return true;
}

QString ProgramFolder(const QString& programName) {
    const QString home = qEnvironmentVariable("TARVINA_HOME");
    if (!home.isEmpty())
        return QDir(home).absolutePath();
    const QString exe = ExecutableFolder();
    if (IsPortableFolder(exe))
        return exe;
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty())
        data = QDir::homePath() + QStringLiteral("/.local/share");
    const QString folder = data + QStringLiteral("/tarvina/") + programName;
    QDir().mkpath(folder);
    return folder;
}

QString FindFileCaseInsensitive(const QString& folder, const QString& name) {
    if (!IsPlainName(name))
        return QString();
    const QDir dir(folder);
    if (QFileInfo::exists(dir.filePath(name)))
        return dir.filePath(name);
    // Sorted so that the choice among several case variants is always the same.
    const QStringList entries = dir.entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& entry : entries) {
        if (QString::compare(entry, name, Qt::CaseInsensitive) == 0)
            return dir.filePath(entry);
    }
    return dir.filePath(name);
}

std::optional<QString> ResolveInFolder(const QString& folder, const QString& relativePath) {
    if (relativePath.isEmpty() || relativePath.startsWith(u'/') || relativePath.startsWith(u'\\'))
        return std::nullopt;
    QString path = relativePath;
    path.replace(u'\\', u'/');
    const QStringList parts = path.split(u'/');
    QString current = folder;
    for (const QString& part : parts) {
        // Windows drive prefixes ("C:") are as absolute as a leading slash.
        if (!IsPlainName(part) || part.contains(u':'))
            return std::nullopt;
        current = FindFileCaseInsensitive(current, part);
    }
    return current;
}

} // namespace tarvina::common
