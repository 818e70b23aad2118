#include "client/config/ControlIni.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>
#include <optional>
#include <utility>

namespace tarvina::client::config {

namespace {

const QString kSection = QStringLiteral("don't load");

bool IsSection(const QString& trimmed) {
    return trimmed.startsWith(u'[') && trimmed.endsWith(u']');
}

QString SectionName(const QString& trimmed) {
    return trimmed.mid(1, trimmed.size() - 2).trimmed();
}

// The file as lines, or nothing when it cannot be read whole.
std::optional<QStringList> ReadLines(const QString& path, QString* error) {
    QFile f(path);
    if (!f.exists())
        return QStringList{};
    if (f.size() > ControlIni::kMaxSize) {
        if (error)
            *error = QStringLiteral("\"%1\" es demasiado grande.").arg(path);
        return std::nullopt;
    }
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("No se puede leer \"%1\": %2").arg(path, f.errorString());
        return std::nullopt;
    }
    QStringList lines = QString::fromUtf8(f.read(ControlIni::kMaxSize)).split(u'\n');
    for (QString& l : lines)
        if (l.endsWith(u'\r'))
            l.chop(1);
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// [first, end) of the section's entry lines; first = -1 when absent.
std::pair<int, int> FindSection(const QStringList& lines) {
    int first = -1;
    for (int i = 0; i < lines.size(); ++i) {
        const QString t = lines[i].trimmed();
        if (!IsSection(t))
            continue;
        if (first >= 0)
            return {first, i};
        if (SectionName(t).compare(kSection, Qt::CaseInsensitive) == 0)
            first = i + 1;
    }
    return {first, static_cast<int>(lines.size())};
}

} // namespace

QHash<QString, QString> ControlIni::dontLoad() const {
    QHash<QString, QString> out;
    const auto lines = ReadLines(path_, nullptr);
    if (!lines)
        return out;
    const auto [first, end] = FindSection(*lines);
    for (int i = first; first >= 0 && i < end; ++i) {
        const QString& l = (*lines)[i];
        const qsizetype eq = l.indexOf(u'=');
        if (eq > 0)
            out.insert(l.left(eq).trimmed().toLower(), l.mid(eq + 1).trimmed());
    }
    return out;
}

bool ControlIni::apply(const QList<AppletLine>& choices, QString* error) const {
    auto read = ReadLines(path_, error);
    if (!read)
        return false;
    QStringList lines = std::move(*read);
    auto [first, end] = FindSection(lines);
    bool changed = false;

    for (const AppletLine& c : choices) {
        const QString name = c.file.trimmed();
        if (name.isEmpty() || name.contains(u'=') || name.contains(u'\n'))
            continue;
        int at = -1;
        for (int i = first; first >= 0 && i < end; ++i) {
            const qsizetype eq = lines[i].indexOf(u'=');
            if (eq > 0 && lines[i].left(eq).trimmed().compare(name, Qt::CaseInsensitive) == 0) {
                at = i;
                break;
            }
        }
        const bool isNo = at >= 0 && lines[at]
                                             .mid(lines[at].indexOf(u'=') + 1)
                                             .trimmed()
                                             .compare(u"no", Qt::CaseInsensitive) == 0;
        if (c.shown && isNo) {
            lines.removeAt(at);
            --end;
            changed = true;
        } else if (!c.shown && !isNo) {
            if (at >= 0) {
                lines[at] = name + QStringLiteral("=no");
            } else {
                if (first < 0) {
                    lines << QStringLiteral("[") + kSection + QStringLiteral("]");
                    first = end = static_cast<int>(lines.size());
                }
                lines.insert(end++, name + QStringLiteral("=no"));
            }
            changed = true;
        }
    }
    if (!changed)
        return true;

    QSaveFile out(path_);
    if (!out.open(QIODevice::WriteOnly)) {
        if (error)
            *error =
                QStringLiteral("No se puede escribir \"%1\": %2").arg(path_, out.errorString());
        return false;
    }
    out.write((lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8());
    if (!out.commit()) {
        if (error)
            *error =
                QStringLiteral("No se puede escribir \"%1\": %2").arg(path_, out.errorString());
        return false;
    }
    return true;
}

} // namespace tarvina::client::config
