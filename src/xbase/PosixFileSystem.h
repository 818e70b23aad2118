#pragma once

#include "xbase/File.h"

namespace tarvina::xbase {

// The operating system's files: pread/pwrite, fdatasync, open-file-description
// (OFD) byte locks.
class PosixFileSystem : public IFileSystem {
public:
    std::unique_ptr<IFile> Open(const std::string& path, bool writable) override;
    std::unique_ptr<IFile> Create(const std::string& path) override;
    bool Exists(const std::string& path) override;
    bool IsFolder(const std::string& path) override;
    void Remove(const std::string& path) override;
    void Rename(const std::string& from, const std::string& to) override;
    std::vector<std::string> List(const std::string& folder) override;
    void MakeFolders(const std::string& path) override;
    void SyncFolder(const std::string& folder) override;
};

// The process-wide real file system.
IFileSystem& RealFileSystem();

} // namespace tarvina::xbase
