#include "support/MemoryFileSystem.h"

#include "xbase/Error.h"

#include <algorithm>
#include <cstring>

namespace tarvina::xbase {

struct MemoryFileSystem::Node {
    std::vector<unsigned char> data;
    // offset -> owner -> mode
    std::map<std::uint64_t, std::map<int, LockMode>> locks;
};

namespace {

class MemoryFile : public IFile {
public:
    MemoryFile(std::shared_ptr<MemoryFileSystem::Node> node, int owner, bool writable)
        : node_(std::move(node)), owner_(owner), writable_(writable) {}
    ~MemoryFile() override {
        for (auto& [offset, holders] : node_->locks)
            holders.erase(owner_);
    }

    std::size_t ReadAt(std::uint64_t offset, void* data, std::size_t n) override {
        auto& d = node_->data;
        if (offset >= d.size())
            return 0;
        std::size_t count = std::min<std::size_t>(n, d.size() - offset);
        std::memcpy(data, d.data() + offset, count);
        return count;
    }

    void WriteAt(std::uint64_t offset, const void* data, std::size_t n) override {
        if (!writable_)
            Fail(XBaseError::Code::Io, "file opened read-only");
        auto& d = node_->data;
        if (offset + n > d.size())
            d.resize(offset + n, 0);
        if (n)
            std::memcpy(d.data() + offset, data, n);
    }

    std::uint64_t Size() override { return node_->data.size(); }
    void Truncate(std::uint64_t size) override { node_->data.resize(size, 0); }
    void Sync() override {}

    bool Lock(std::uint64_t offset, LockMode mode, bool wait) override {
        auto& holders = node_->locks[offset];
        for (const auto& [owner, held] : holders) {
            if (owner == owner_)
                continue;
            if (mode == LockMode::Exclusive || held == LockMode::Exclusive) {
                if (wait)
                    Fail(XBaseError::Code::Locked, "lock held by another open file");
                return false;
            }
        }
        holders[owner_] = mode;
        return true;
    }

    void Unlock(std::uint64_t offset) override { node_->locks[offset].erase(owner_); }

private:
    std::shared_ptr<MemoryFileSystem::Node> node_;
    int owner_;
    bool writable_;
};

} // namespace

std::unique_ptr<IFile> MemoryFileSystem::Open(const std::string& path, bool writable) {
    auto it = files_.find(path);
    if (it == files_.end())
        Fail(XBaseError::Code::NotFound, "file not found: " + path);
    return std::make_unique<MemoryFile>(it->second, nextOwner_++, writable);
}

std::unique_ptr<IFile> MemoryFileSystem::Create(const std::string& path) {
    auto& node = files_[path];
    if (!node)
        node = std::make_shared<Node>();
    node->data.clear();
    return std::make_unique<MemoryFile>(node, nextOwner_++, true);
}

bool MemoryFileSystem::Exists(const std::string& path) {
    return files_.count(path) != 0 || IsFolder(path);
}

bool MemoryFileSystem::IsFolder(const std::string& path) {
    if (path.empty() || folders_.count(path))
        return true;
    std::string prefix = path + "/";
    auto it = files_.lower_bound(prefix);
    return it != files_.end() && it->first.compare(0, prefix.size(), prefix) == 0;
}

void MemoryFileSystem::Remove(const std::string& path) {
    files_.erase(path);
}

void MemoryFileSystem::Rename(const std::string& from, const std::string& to) {
    auto it = files_.find(from);
    if (it == files_.end())
        Fail(XBaseError::Code::NotFound, "file not found: " + from);
    auto node = it->second;
    files_.erase(it);
    files_[to] = node;
}

std::vector<std::string> MemoryFileSystem::List(const std::string& folder) {
    std::set<std::string> names;
    auto consider = [&](std::string path) {
        // The entry itself and every folder above it that sits in `folder`.
        while (!path.empty() && path != "/") {
            if (FolderOf(path) == folder)
                names.insert(FileNameOf(path));
            path = FolderOf(path);
        }
    };
    for (const auto& [path, node] : files_)
        consider(path);
    for (const auto& f : folders_)
        consider(f);
    return std::vector<std::string>(names.begin(), names.end());
}

void MemoryFileSystem::MakeFolder(const std::string& path) {
    folders_.insert(path);
}

void MemoryFileSystem::MakeFolders(const std::string& path) {
    for (std::string p = path; !p.empty() && p != "/"; p = FolderOf(p))
        folders_.insert(p);
}

std::vector<unsigned char> MemoryFileSystem::Contents(const std::string& path) const {
    auto it = files_.find(path);
    return it == files_.end() ? std::vector<unsigned char>() : it->second->data;
}

void MemoryFileSystem::SetContents(const std::string& path,
                                   const std::vector<unsigned char>& bytes) {
    auto& node = files_[path];
    if (!node)
        node = std::make_shared<Node>();
    node->data = bytes;
}

} // namespace tarvina::xbase
