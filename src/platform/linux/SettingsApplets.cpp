#include "platform/linux/SettingsApplets.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QSet>
#include <optional>

namespace tarvina::platform {

namespace {

constexpr int kMaxApplets = 500;
constexpr qint64 kMaxEntrySize = 64 * 1024;

struct Entry {
    bool settings = false;
    bool hidden = false;
    QString name;
    QString spanishName;
};

// Reads the "[Desktop Entry]" group of one desktop entry.
std::optional<Entry> ReadEntry(const QString& path) {
    QFile f(path);
    if (f.size() > kMaxEntrySize || !f.open(QIODevice::ReadOnly))
        return std::nullopt;
    Entry e;
    bool inGroup = false;
    for (const QByteArray& raw : f.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(u'[')) {
            inGroup = line == QStringLiteral("[Desktop Entry]");
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (!inGroup || eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QStringLiteral("Categories"))
            e.settings = value.split(u';').contains(QStringLiteral("Settings"));
        else if (key == QStringLiteral("Hidden"))
            e.hidden = value == QStringLiteral("true");
        else if (key == QStringLiteral("Name"))
            e.name = value;
        else if (key == QStringLiteral("Name[es]") ||
                 (key == QStringLiteral("Name[es_ES]") && e.spanishName.isEmpty()))
            e.spanishName = value;
    }
    return e;
}

} // namespace

QStringList ApplicationFolders() {
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    if (home.isEmpty())
        home = QDir::homePath() + QStringLiteral("/.local/share");
    QString dirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dirs.isEmpty())
        dirs = QStringLiteral("/usr/local/share:/usr/share");
    QStringList out{home + QStringLiteral("/applications")};
    for (const QString& d : dirs.split(u':', Qt::SkipEmptyParts))
        out << d + QStringLiteral("/applications");
    return out;
}

QList<ControlApplet> ListSettingsApplets(const QStringList& applicationFolders) {
    QMap<QString, ControlApplet> found; // sorted by file name
    QSet<QString> seen;
    for (const QString& folder : applicationFolders) {
        const QStringList files =
            QDir(folder).entryList({QStringLiteral("*.desktop")}, QDir::Files, QDir::Name);
        for (const QString& file : files) {
            if (seen.contains(file) || seen.size() >= 4 * kMaxApplets)
                continue;
            seen.insert(file);
            const auto e = ReadEntry(QDir(folder).filePath(file));
            if (!e || !e->settings || e->hidden)
                continue;
            found.insert(file, {file, e->spanishName.isEmpty() ? e->name : e->spanishName});
            if (found.size() >= kMaxApplets)
                return found.values();
        }
    }
    return found.values();
}

} // namespace tarvina::platform
