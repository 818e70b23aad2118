#pragma once

#include "xbase/File.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tarvina::xbase {

// Wraps another file system and makes its writes fail on request: the n-th
// write fails outright, the n-th write stores only half its bytes, or the
// process "dies" once a number of bytes has been written (the write that
// crosses the limit stores only the bytes up to it; every later write, truncate
// and sync fails without effect). The wrapped file system then holds what a
// killed process would have left on disk.
//
// With TrackPowerCut it also remembers what has reached the device: the bytes
// of a file as its last Sync left them, and the entries of a folder as its
// last SyncFolder (or a Rename into it) left them. PowerCut then makes the
// wrapped file system hold only that, as the machine finds its disk after the
// power went: data not synced is gone, files created since their folder was
// last synced are gone, files removed since then are back. Files that existed
// before tracking began count as synced.
class FaultyFileSystem : public IFileSystem {
public:
    explicit FaultyFileSystem(IFileSystem& inner) : inner_(inner) {}

    void FailWrite(int n) { failWrite_ = n; }
    void ShortWrite(int n) { shortWrite_ = n; }
    void CrashAfterBytes(std::int64_t n) { crashBudget_ = n; }
    // The n-th change (a write, truncate, sync, create, remove, rename or
    // folder sync, counted from 1) is where the process dies: a write stores
    // half its bytes, any other change does not happen.
    void CrashAtChange(int n) { crashChange_ = n; }
    void FailSync(bool on) { failSync_ = on; }
    // Runs at the start of every file sync: what happens elsewhere while the
    // disk is busy (a slow device, a station's next line).
    void DuringSync(std::function<void()> f) { duringSync_ = std::move(f); }
    void Reset();
    bool Crashed() const { return crashed_; }
    int Writes() const { return writes_; }
    int Changes() const { return changes_; }
    std::int64_t BytesWritten() const { return bytes_; }

    void TrackPowerCut();
    // The power goes: see above. The process is gone too (as after a crash).
    void PowerCut();

    std::unique_ptr<IFile> Open(const std::string& path, bool writable) override;
    std::unique_ptr<IFile> Create(const std::string& path) override;
    bool Exists(const std::string& path) override { return inner_.Exists(path); }
    bool IsFolder(const std::string& path) override { return inner_.IsFolder(path); }
    void Remove(const std::string& path) override;
    void Rename(const std::string& from, const std::string& to) override;
    std::vector<std::string> List(const std::string& folder) override {
        return inner_.List(folder);
    }
    void MakeFolders(const std::string& path) override;
    void SyncFolder(const std::string& folder) override;

    // What one file holds on the device, shared by every handle on it.
    struct Stored {
        std::vector<unsigned char> synced;
    };

private:
    friend class FaultyFile;
    // Returns how many of n bytes may be stored; throws after storing when the
    // write is to fail.
    std::size_t Admit(std::size_t n, bool& failAfter);
    void CheckAlive();
    // Counts one change other than a write; throws when the process dies at it.
    void AdmitChange();
    std::shared_ptr<Stored> Known(const std::string& path);
    void Synced(const std::shared_ptr<Stored>& stored, IFile& file);
    void SnapshotFolder(const std::string& folder);

    IFileSystem& inner_;
    int failWrite_ = 0;
    int shortWrite_ = 0;
    std::int64_t crashBudget_ = -1;
    int crashChange_ = 0;
    bool failSync_ = false;
    std::function<void()> duringSync_;
    bool crashed_ = false;
    int writes_ = 0;
    int changes_ = 0;
    std::int64_t bytes_ = 0;

    bool tracking_ = false;
    // Every path seen while tracking; the files under each name now, and as
    // the device holds the folders.
    std::set<std::string> seen_;
    std::map<std::string, std::shared_ptr<Stored>> live_;
    std::map<std::string, std::shared_ptr<Stored>> durable_;
};

} // namespace tarvina::xbase
