#include "client/control/RunCommand.h"

#include "platform/Shell.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

namespace tarvina::client {

QStringList SplitCommandLine(const QString& text) {
    QStringList out;
    QString current;
    bool inQuotes = false, have = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'"') {
            if (inQuotes && i + 1 < text.size() && text[i + 1] == u'"') {
                current += u'"';
                ++i;
            } else {
                inQuotes = !inQuotes;
            }
            have = true;
        } else if (c.isSpace() && !inQuotes) {
            if (have)
                out << current;
            current.clear();
            have = false;
        } else {
            current += c;
            have = true;
        }
    }
    if (have)
        out << current;
    return out;
}

QString RunCommand::FindOnPath(const QString& nameOrPath) {
    if (nameOrPath.isEmpty())
        return {};
    if (nameOrPath.contains(u'/')) {
        const QFileInfo info(QDir::cleanPath(nameOrPath));
        return info.isFile() && info.isExecutable() ? info.absoluteFilePath() : QString();
    }
    return QStandardPaths::findExecutable(nameOrPath);
}

RunCommand RunCommand::Parse(const QString& input, const FindExecutable& findExecutable) {
    RunCommand cmd;
    const QString text = input.trimmed();
    if (text.isEmpty())
        return cmd;
    // A web address or any address with a scheme of its own ("mailto:").
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    if (scheme.match(text).hasMatch()) {
        cmd.kind = Kind::Open;
        cmd.target = text;
        return cmd;
    }
    // "www.example.com" is a web address, as a browser takes it.
    if (text.startsWith(QLatin1String("www."), Qt::CaseInsensitive) && !text.contains(u' ')) {
        cmd.kind = Kind::Open;
        cmd.target = QStringLiteral("http://") + text;
        return cmd;
    }
    // The whole text naming a folder or a file (a name with blanks typed
    // without quotes).
    const QString whole = text.size() > 1 && text.startsWith(u'"') && text.endsWith(u'"')
                              ? text.mid(1, text.size() - 2)
                              : text;
    const QFileInfo wholeInfo(whole);
    if (whole.contains(u'/') && wholeInfo.exists()) {
        if (wholeInfo.isFile() && wholeInfo.isExecutable()) {
            cmd.kind = Kind::Program;
            cmd.target = wholeInfo.absoluteFilePath();
        } else {
            cmd.kind = Kind::Open;
            cmd.target = wholeInfo.absoluteFilePath();
        }
        return cmd;
    }
    const QStringList parts = SplitCommandLine(text);
    if (parts.isEmpty())
        return cmd;
    const QString program = findExecutable ? findExecutable(parts.first()) : QString();
    if (!program.isEmpty()) {
        cmd.kind = Kind::Program;
        cmd.target = program;
        cmd.arguments = parts.mid(1);
        return cmd;
    }
    // A document named first, with words after it that no handler takes.
    const QFileInfo first(parts.first());
    if (parts.first().contains(u'/') && first.exists()) {
        cmd.kind = Kind::Open;
        cmd.target = first.absoluteFilePath();
        return cmd;
    }
    return cmd;
}

bool RunCommand::run(platform::Shell& shell) const {
    switch (kind) {
    case Kind::Program:
        return shell.startProgram(target, arguments);
    case Kind::Open:
        return shell.openDocument(target);
    case Kind::None:
        break;
    }
    return false;
}

} // namespace tarvina::client
