#include "client/control/ReceivedFiles.h"

#include "common/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace tarvina::client {

ReceivedFiles::ReceivedFiles(QString folder, QString exeName)
    : folder_(std::move(folder)), exeName_(QFileInfo(exeName).fileName()) {}

std::optional<QString> ReceivedFiles::safeName(const QString& serverPath, QString* error) const {
    auto refuse = [error](const QString& why) -> std::optional<QString> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    // Judged on a bounded part: a name longer than this is refused anyway.
    const QString bounded = serverPath.right(4 * kMaxName);
    const qsizetype cut = std::max(bounded.lastIndexOf(u'\\'), bounded.lastIndexOf(u'/'));
    QString name;
    for (QChar c : bounded.mid(cut + 1))
        if (c.unicode() >= 0x20 && c.unicode() != 0x7F)
            name += c;
    name = name.trimmed();
    if (serverPath.size() > 4 * kMaxName && cut < 0)
        return refuse(QStringLiteral("Nombre de archivo demasiado largo"));
    if (name.size() > kMaxName)
        return refuse(QStringLiteral("Nombre de archivo demasiado largo"));
    if (name.isEmpty() || name == u"." || name == u"..")
        return refuse(QStringLiteral("Nombre de archivo no válido: '") + name + u'\'');
    const QString lower = name.toLower();
    if ((!exeName_.isEmpty() && lower == exeName_.toLower()) || lower == u"cliexcept.log" ||
        lower == u"noalarm.txt" || lower.endsWith(QLatin1String(".lng")))
        return refuse(QStringLiteral("El archivo '") + name +
                      QStringLiteral("' es del programa y no se reemplaza"));
    return name;
}

std::optional<QString> ReceivedFiles::store(const QString& serverPath, QByteArrayView bytes,
                                            QString* error) const {
    std::optional<QString> name = safeName(serverPath, error);
    if (!name)
        return std::nullopt;
    QDir().mkpath(folder_);
    // The file already there under another case is the one replaced.
    const QString path = common::FindFileCaseInsensitive(folder_, *name);
    if (path.isEmpty()) {
        if (error)
            *error = QStringLiteral("Nombre de archivo no válido: '") + *name + u'\'';
        return std::nullopt;
    }
    name = QFileInfo(path).fileName();
    // A link of that name goes first: the save below would write through it.
    if (QFileInfo(path).isSymLink() && !QFile::remove(path)) {
        if (error)
            *error = QStringLiteral("No se pudo reemplazar '") + *name + u'\'';
        return std::nullopt;
    }
    if (QFileInfo(path).isDir()) {
        if (error)
            *error = QStringLiteral("'") + *name + QStringLiteral("' es una carpeta");
        return std::nullopt;
    }
    // Written beside and renamed over: a failed transfer leaves the old file
    // whole.
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(bytes.data(), bytes.size()) != bytes.size() || !file.commit()) {
        if (error)
            *error = QStringLiteral("No se pudo escribir '") + *name + QStringLiteral("': ") +
                     file.errorString();
        return std::nullopt;
    }
    return name;
}

bool LooksLikePicture(QByteArrayView head) {
    auto starts = [head](QByteArrayView magic) { return head.startsWith(magic); };
    return starts("BM") || starts("GIF87a") || starts("GIF89a") || starts("\x89PNG\r\n\x1a\n") ||
           starts("\xFF\xD8\xFF") || starts(QByteArrayView("\x00\x00\x01\x00", 4));
}

} // namespace tarvina::client
