#include "platform/linux/XdgAutostart.h"

#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tarvina::platform {

XdgAutostart::XdgAutostart(Registry& registry, QString program, QString folder)
    : registry_(registry), program_(std::move(program)), folder_(std::move(folder)) {}

QString XdgAutostart::DefaultFolder() {
    QString dirs = qEnvironmentVariable("XDG_CONFIG_DIRS");
    QString first = dirs.section(u':', 0, 0);
    if (first.isEmpty() || !QDir::isAbsolutePath(first))
        first = QStringLiteral("/etc/xdg");
    return first + QStringLiteral("/autostart");
}

QString XdgAutostart::entryPath() const {
    return QDir(folder_).filePath(QString::fromLatin1(kEntryName));
}

QByteArray XdgAutostart::EntryText(const QString& program) {
    QString exec = program;
    // A path with blanks or reserved characters is quoted; inside quotes
    // '"', '`', '$' and '\\' take a backslash, which the entry's own string
    // escaping doubles once more.
    static const QString reserved = QStringLiteral(" \t\"'\\><~|&;$*?#()`");
    bool quote = false;
    for (QChar c : exec)
        quote = quote || reserved.contains(c);
    if (quote) {
        QString q;
        for (QChar c : exec) {
            if (c == u'\\')
                q += QStringLiteral("\\\\\\\\");
            else if (c == u'"' || c == u'`' || c == u'$')
                q += QStringLiteral("\\\\") + c;
            else
                q += c;
        }
        exec = u'"' + q + u'"';
    }
    exec.replace(QStringLiteral("%"), QStringLiteral("%%"));
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Tarvina Puesto\n"
                          "Comment=Bloquea la computadora hasta que la caja asigne tiempo\n"
                          "Exec=%1\n"
                          "Icon=tarvina-puesto\n"
                          "Terminal=false\n"
                          "NoDisplay=true\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(exec)
        .toUtf8();
}

bool XdgAutostart::isEnabled() {
    return !registry_
                .readString(Root::LocalMachine, QString::fromLatin1(kRunKey),
                            QString::fromLatin1(kRunValue))
                .value_or(QString())
                .isEmpty();
}

bool XdgAutostart::setEnabled(bool on, QString* error) {
    const QString key = QString::fromLatin1(kRunKey);
    const QString name = QString::fromLatin1(kRunValue);
    bool ok = true;
    QString why;
    if (on) {
        if (!registry_.writeString(Root::LocalMachine, key, name, program_)) {
            ok = false;
            why = QStringLiteral("no se pudo guardar el valor de inicio");
        }
        QString fileError;
        if (!WriteFileAtomically(entryPath(), EntryText(program_), 0644, &fileError)) {
            ok = false;
            if (why.isEmpty())
                why = QStringLiteral("no se pudo escribir %1 (%2)").arg(entryPath(), fileError);
        }
    } else {
        if (registry_.valueExists(Root::LocalMachine, key, name) &&
            !registry_.deleteValue(Root::LocalMachine, key, name)) {
            ok = false;
            why = QStringLiteral("no se pudo borrar el valor de inicio");
        }
        QFile entry(entryPath());
        if (entry.exists() && !entry.remove()) {
            ok = false;
            if (why.isEmpty())
                why = QStringLiteral("no se pudo borrar %1 (%2)")
                          .arg(entryPath(), entry.errorString());
        }
    }
    if (!ok && error)
        *error = why;
    return ok;
}

} // namespace tarvina::platform
