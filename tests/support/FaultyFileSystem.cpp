#include "support/FaultyFileSystem.h"

#include "xbase/Error.h"

#include <algorithm>

namespace tarvina::xbase {

namespace {

std::vector<unsigned char> ReadAll(IFile& file) {
    std::vector<unsigned char> bytes(static_cast<std::size_t>(file.Size()));
    bytes.resize(file.ReadAt(0, bytes.data(), bytes.size()));
    return bytes;
}

} // namespace

class FaultyFile : public IFile {
public:
    FaultyFile(FaultyFileSystem& fs, std::unique_ptr<IFile> inner,
               std::shared_ptr<FaultyFileSystem::Stored> stored)
        : fs_(fs), inner_(std::move(inner)), stored_(std::move(stored)) {}

    std::size_t ReadAt(std::uint64_t offset, void* data, std::size_t n) override {
        return inner_->ReadAt(offset, data, n);
    }
    void WriteAt(std::uint64_t offset, const void* data, std::size_t n) override {
        bool failAfter = false;
        std::size_t allowed = fs_.Admit(n, failAfter);
        if (allowed)
            inner_->WriteAt(offset, data, allowed);
        if (failAfter)
            Fail(XBaseError::Code::Io, "injected write failure");
    }
    std::uint64_t Size() override { return inner_->Size(); }
    void Truncate(std::uint64_t size) override {
        fs_.AdmitChange();
        inner_->Truncate(size);
    }
    void Sync() override {
        if (fs_.duringSync_)
            fs_.duringSync_();
        fs_.AdmitChange();
        if (fs_.failSync_)
            Fail(XBaseError::Code::Io, "injected sync failure");
        inner_->Sync();
        fs_.Synced(stored_, *inner_);
    }
    bool Lock(std::uint64_t offset, LockMode mode, bool wait) override {
        return inner_->Lock(offset, mode, wait);
    }
    void Unlock(std::uint64_t offset) override { inner_->Unlock(offset); }

private:
    FaultyFileSystem& fs_;
    std::unique_ptr<IFile> inner_;
    std::shared_ptr<FaultyFileSystem::Stored> stored_;
};

void FaultyFileSystem::Reset() {
    failWrite_ = shortWrite_ = crashChange_ = 0;
    crashBudget_ = -1;
    failSync_ = crashed_ = false;
    writes_ = changes_ = 0;
    bytes_ = 0;
}

void FaultyFileSystem::CheckAlive() {
    if (crashed_)
        Fail(XBaseError::Code::Io, "injected crash: process is gone");
}

void FaultyFileSystem::AdmitChange() {
    CheckAlive();
    if (++changes_ == crashChange_) {
        crashed_ = true;
        Fail(XBaseError::Code::Io, "injected crash: process is gone");
    }
}

std::size_t FaultyFileSystem::Admit(std::size_t n, bool& failAfter) {
    CheckAlive();
    ++writes_;
    failAfter = false;
    std::size_t allowed = n;
    if (failWrite_ && writes_ == failWrite_) {
        failAfter = true;
        allowed = 0;
    } else if (shortWrite_ && writes_ == shortWrite_) {
        failAfter = true;
        allowed = n / 2;
    }
    if (++changes_ == crashChange_) {
        allowed = n / 2;
        crashed_ = true;
        failAfter = true;
    }
    if (crashBudget_ >= 0) {
        std::int64_t left = crashBudget_ - bytes_;
        if (static_cast<std::int64_t>(allowed) >= left && n > 0) {
            allowed = static_cast<std::size_t>(std::max<std::int64_t>(left, 0));
            crashed_ = true;
            failAfter = true;
        }
    }
    bytes_ += static_cast<std::int64_t>(allowed);
    return allowed;
}

// ---- what the device holds ----

void FaultyFileSystem::TrackPowerCut() {
    tracking_ = true;
    seen_.clear();
    live_.clear();
    durable_.clear();
}

std::shared_ptr<FaultyFileSystem::Stored> FaultyFileSystem::Known(const std::string& path) {
    if (!tracking_)
        return nullptr;
    if (seen_.insert(path).second && inner_.Exists(path) && !inner_.IsFolder(path)) {
        // First met: it was on the device before tracking began.
        auto stored = std::make_shared<Stored>();
        stored->synced = ReadAll(*inner_.Open(path, false));
        live_[path] = durable_[path] = stored;
    }
    auto it = live_.find(path);
    return it == live_.end() ? nullptr : it->second;
}

void FaultyFileSystem::Synced(const std::shared_ptr<Stored>& stored, IFile& file) {
    if (stored)
        stored->synced = ReadAll(file);
}

void FaultyFileSystem::SnapshotFolder(const std::string& folder) {
    if (!tracking_)
        return;
    for (const std::string& path : seen_) {
        if (FolderOf(path) != folder)
            continue;
        auto it = live_.find(path);
        if (it != live_.end())
            durable_[path] = it->second;
        else
            durable_.erase(path);
    }
}

void FaultyFileSystem::PowerCut() {
    crashed_ = true;
    for (const std::string& path : seen_) {
        auto it = durable_.find(path);
        if (it == durable_.end()) {
            inner_.Remove(path);
            continue;
        }
        auto file = inner_.Create(path);
        const auto& bytes = it->second->synced;
        if (!bytes.empty())
            file->WriteAt(0, bytes.data(), bytes.size());
    }
    live_ = durable_;
}

// ---- the file system ----

std::unique_ptr<IFile> FaultyFileSystem::Open(const std::string& path, bool writable) {
    auto stored = Known(path);
    return std::make_unique<FaultyFile>(*this, inner_.Open(path, writable), std::move(stored));
}

std::unique_ptr<IFile> FaultyFileSystem::Create(const std::string& path) {
    AdmitChange();
    auto stored = Known(path);
    auto file = inner_.Create(path);
    if (tracking_ && !stored) {
        // A new file: nothing of it is on the device until it is synced, and
        // its name only once its folder is.
        stored = std::make_shared<Stored>();
        live_[path] = stored;
    }
    return std::make_unique<FaultyFile>(*this, std::move(file), std::move(stored));
}

void FaultyFileSystem::Remove(const std::string& path) {
    AdmitChange();
    Known(path);
    inner_.Remove(path);
    live_.erase(path);
}

void FaultyFileSystem::Rename(const std::string& from, const std::string& to) {
    AdmitChange();
    auto stored = Known(from);
    Known(to);
    inner_.Rename(from, to);
    if (tracking_) {
        live_.erase(from);
        if (stored)
            live_[to] = stored;
        else
            live_.erase(to);
        // A rename is on the device once it returns (the folder is synced).
        SnapshotFolder(FolderOf(to));
        if (FolderOf(from) != FolderOf(to))
            SnapshotFolder(FolderOf(from));
    }
}

void FaultyFileSystem::MakeFolders(const std::string& path) {
    AdmitChange();
    inner_.MakeFolders(path);
}

void FaultyFileSystem::SyncFolder(const std::string& folder) {
    AdmitChange();
    inner_.SyncFolder(folder);
    SnapshotFolder(folder);
}

} // namespace tarvina::xbase
