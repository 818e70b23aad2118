#pragma once

#include "xbase/File.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tarvina::xbase {

// Files held in memory, with the same byte-lock rules as the real ones (a lock
// belongs to one open file). A lock that would have to wait throws
// XBaseError(Locked): the engine is single-threaded per handle, so waiting here
// could only hang.
class MemoryFileSystem : public IFileSystem {
public:
    struct Node;

    std::unique_ptr<IFile> Open(const std::string& path, bool writable) override;
    std::unique_ptr<IFile> Create(const std::string& path) override;
    bool Exists(const std::string& path) override;
    bool IsFolder(const std::string& path) override;
    void Remove(const std::string& path) override;
    void Rename(const std::string& from, const std::string& to) override;
    std::vector<std::string> List(const std::string& folder) override;
    void MakeFolders(const std::string& path) override;
    // Nothing is lost in memory: FaultyFileSystem models what a power cut
    // takes.
    void SyncFolder(const std::string&) override {}

    void MakeFolder(const std::string& path);
    // Direct access for tests: the bytes of a file (empty when missing).
    std::vector<unsigned char> Contents(const std::string& path) const;
    void SetContents(const std::string& path, const std::vector<unsigned char>& bytes);

private:
    std::map<std::string, std::shared_ptr<Node>> files_;
    std::set<std::string> folders_;
    int nextOwner_ = 1;
};

} // namespace tarvina::xbase
