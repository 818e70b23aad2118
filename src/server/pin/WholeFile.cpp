#include "server/pin/WholeFile.h"

#include "xbase/File.h"

#include <QFile>
#include <stdexcept>

namespace tarvina::server {

std::string FsPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString FromFsPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

QString SideFileOf(const QString& path) {
    return path + QStringLiteral(".tmp");
}

void ReplaceWholeFile(xbase::IFileSystem& fs, const QString& path, const QByteArray& bytes) {
    const std::string target = FsPath(path);
    const std::string side = FsPath(SideFileOf(path));
    try {
        fs.MakeFolders(xbase::FolderOf(target));
        {
            const std::unique_ptr<xbase::IFile> file = fs.Create(side);
            file->WriteAt(0, bytes.constData(), std::size_t(bytes.size()));
            file->Sync();
        }
        fs.Rename(side, target);
    } catch (const std::exception& e) {
        try {
            fs.Remove(side);
        } catch (...) {
            // The side file is overwritten at the next attempt anyway.
        }
        throw std::runtime_error(
            ("No se pudo escribir " + path + ": ").toLocal8Bit().toStdString() + e.what());
    }
}

} // namespace tarvina::server
