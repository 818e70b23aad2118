#pragma once

#include <QByteArray>
#include <QString>

namespace tarvina::xbase {
class IFileSystem;
}

namespace tarvina::server {

// Replaces the file with these bytes as one step: they go to a side file that
// is flushed to the disk and then renamed over the old one, so a crash or a
// power cut leaves either the old file or the new one, never a mix. Throws
// (with the path in the message) when the file could not be written; the old
// file is then left as it was.
void ReplaceWholeFile(xbase::IFileSystem& fs, const QString& path, const QByteArray& bytes);

// The side file ReplaceWholeFile writes first.
QString SideFileOf(const QString& path);

// The file system's name of a path, and back.
std::string FsPath(const QString& path);
QString FromFsPath(const std::string& path);

} // namespace tarvina::server
