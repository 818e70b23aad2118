#pragma once

#include "xbase/File.h"

#include <cstdint>
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

    void MakeFolder(const std::string& path);
    // Direct access for tests: the bytes of a file (empty when missing).
    std::vector<unsigned char> Contents(const std::string& path) const;
    void SetContents(const std::string& path, const std::vector<unsigned char>& bytes);

private:
    std::map<std::string, std::shared_ptr<Node>> files_;
    std::set<std::string> folders_;
    int nextOwner_ = 1;
};

// Wraps another file system and makes its writes fail on request: the n-th
// write fails outright, the n-th write stores only half its bytes, or the
// process "dies" once a number of bytes has been written (the write that
// crosses the limit stores only the bytes up to it; every later write, truncate
// and sync fails without effect). The wrapped file system then holds what a
// killed process would have left on disk.
class FaultyFileSystem : public IFileSystem {
public:
    explicit FaultyFileSystem(IFileSystem& inner) : inner_(inner) {}

    void FailWrite(int n) { failWrite_ = n; }
    void ShortWrite(int n) { shortWrite_ = n; }
    void CrashAfterBytes(std::int64_t n) { crashBudget_ = n; }
    void FailSync(bool on) { failSync_ = on; }
    void Reset();
    bool Crashed() const { return crashed_; }
    int Writes() const { return writes_; }
    std::int64_t BytesWritten() const { return bytes_; }

    std::unique_ptr<IFile> Open(const std::string& path, bool writable) override;
    std::unique_ptr<IFile> Create(const std::string& path) override;
    bool Exists(const std::string& path) override { return inner_.Exists(path); }
    bool IsFolder(const std::string& path) override { return inner_.IsFolder(path); }
    void Remove(const std::string& path) override;
    void Rename(const std::string& from, const std::string& to) override;
    std::vector<std::string> List(const std::string& folder) override {
        return inner_.List(folder);
    }

private:
    friend class FaultyFile;
    // Returns how many of n bytes may be stored; throws after storing when the
    // write is to fail.
    std::size_t Admit(std::size_t n, bool& failAfter);
    void CheckAlive();

    IFileSystem& inner_;
    int failWrite_ = 0;
    int shortWrite_ = 0;
    std::int64_t crashBudget_ = -1;
    bool failSync_ = false;
    bool crashed_ = false;
    int writes_ = 0;
    std::int64_t bytes_ = 0;
};

} // namespace tarvina::xbase
