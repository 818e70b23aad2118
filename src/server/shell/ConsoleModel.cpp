#include "server/shell/ConsoleModel.h"

#include "common/BoundedRead.h"
#include "common/Cp1252.h"

#include <QFile>
#include <QSaveFile>

namespace tarvina::server {

ConsoleModel::ConsoleModel(QObject* parent) : QObject(parent) {}

void ConsoleModel::show(const QString& caption, const QString& text, const common::DateTime& now) {
    const QString stamp = common::FormatDateTime(QStringLiteral("dd/mm/yy hh:nn:ss"), now);
    if (!caption.isEmpty())
        add({stamp + QStringLiteral(" [") + caption + QStringLiteral("]:"), true});
    add({text, false});
    Q_EMIT messageShown(stamp, caption, text);
}

void ConsoleModel::add(Line line) {
    lines_.append(line);
    Q_EMIT lineAdded(lines_.last());
    if (lines_.size() > kTrimAbove) {
        const int n = static_cast<int>(std::min<qsizetype>(kTrimCount, lines_.size()));
        lines_.remove(0, n);
        Q_EMIT trimmed(n);
    }
}

QStringList ConsoleModel::texts() const {
    QStringList out;
    out.reserve(lines_.size());
    for (const Line& l : lines_)
        out.append(l.text);
    return out;
}

void ConsoleModel::clear() {
    lines_.clear();
    Q_EMIT cleared();
}

bool ConsoleModel::Archive(const QString& path, const QStringList& lines, QString* error) {
    QList<QByteArray> old;
    QFile in(path);
    if (in.open(QIODevice::ReadOnly)) {
        // Bounded: an archive is rewritten at every close and never grows
        // past a few thousand lines; a foreign huge file is cut to its tail.
        const qint64 kMaxRead = 64LL * 1024 * 1024;
        if (in.size() > kMaxRead)
            in.seek(in.size() - kMaxRead);
        const QByteArray all = common::ReadAtMost(in, kMaxRead);
        old = all.split('\n');
        if (!old.isEmpty() && old.last().isEmpty())
            old.removeLast();
        for (QByteArray& l : old)
            if (l.endsWith('\r'))
                l.chop(1);
        in.close();
    }
    if (old.size() > 1024)
        old.remove(0, 512);
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        if (error)
            *error = out.errorString();
        return false;
    }
    QByteArray bytes;
    for (const QByteArray& l : old)
        bytes += l + '\n';
    bytes += "------------------------------------------\n";
    for (const QString& l : lines)
        bytes += common::ToCp1252(l) + '\n';
    out.write(bytes);
    if (!out.commit()) {
        if (error)
            *error = out.errorString();
        return false;
    }
    return true;
}

} // namespace tarvina::server
