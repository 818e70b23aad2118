#include "common/ExceptionLog.h"

#include "common/Cp1252.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>

namespace tarvina::common {

namespace {
// Both programs log from more than one thread; entries must not interleave.
QMutex g_logMutex;

QString Stamp(const DateTime& now) {
    return FormatDateTime(QStringLiteral("dd/mm/yyyy hh:nn:ss"), now);
}
} // namespace

bool AppendWithSizeCheck(const QString& path, qint64 sizeLimit, const QByteArray& entry,
                         QString* error) {
    QMutexLocker lock(&g_logMutex);
    QFile file(path);
    QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Append;
    const QFileInfo info(path);
    if (info.exists() && info.size() > sizeLimit) {
        // When the old log cannot be removed it is emptied instead, so the
        // limit holds either way.
        if (!QFile::remove(path))
            mode = QIODevice::WriteOnly | QIODevice::Truncate;
    }
    if (!file.open(mode)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const qint64 written = file.write(entry);
    const bool flushed = file.flush();
    if (written != entry.size() || !flushed) {
        if (error)
            *error = file.errorString();
        file.close();
        return false;
    }
    file.close();
    return true;
}

QByteArray ClientExceptionEntry(const DateTime& now, const QString& text) {
    return ToCp1252(Stamp(now) + u' ' + text + u'\n' + u'\n');
}

QByteArray ClientAppExceptionEntry(const DateTime& now, const QString& senderClass,
                                   const QString& message, int helpContext,
                                   const QString& lastCommand) {
    const QString line = Stamp(now) + QStringLiteral(" S: ") + senderClass +
                         QStringLiteral(" E: ") + message + QStringLiteral(" H: ") +
                         QString::number(helpContext) + QStringLiteral(" L: ") + lastCommand;
    return ToCp1252(line + u'\n' + u'\n');
}

QByteArray ServerExceptionEntry(const DateTime& now, const ServerExceptionInfo& info) {
    QString t;
    t += Stamp(now) + QStringLiteral(" S: ") + info.senderClass + QStringLiteral(" E: ") +
         info.errorText + QStringLiteral(" H: ") + QString::number(info.helpContext) + u'\n';
    t += QStringLiteral(" M: ") + QString::number(info.knownMacs) + QStringLiteral(" I: ") +
         QString::number(info.knownNames) + QStringLiteral(" P: 0") + QStringLiteral(" U: ") +
         QString::number(info.tallyLength) + u'\n';
    t += QStringLiteral("Ultimo comando ") + info.lastCommand + u'\n';
    t += u'\n';
    t += QStringLiteral(" C: ") + QString::number(info.computers.size());
    if (info.computers.isEmpty())
        t += u'\n'; // the count line still ends before the closing empty line
    for (const auto& row : info.computers)
        t += u' ' + row.first + u' ' + row.second + u'\n';
    t += u'\n';
    return ToCp1252(t);
}

QString ClientLogFailureText(const QString& errorText) {
    return QStringLiteral("Excepción/Falla no manejable \"") + errorText +
           QStringLiteral("\". Por favor refiera a soporte técnico. Gracias.");
}

QString ServerErrorBoxText(const QString& errorText) {
    return QStringLiteral("Excepción/Falla \"") + errorText +
           QStringLiteral("\". Por favor refiera a soporte técnico (última opción del menú de "
                          "ayuda). Gracias.");
}

} // namespace tarvina::common
