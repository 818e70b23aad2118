#include "xbase/PosixFileSystem.h"

#include "xbase/Error.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvina::xbase {

namespace {

std::string ErrnoText(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

// fsync of the folder itself; errno tells why when it returns false.
bool FlushFolder(const std::string& folder) {
    const int dfd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0)
        return false;
    int rc;
    while ((rc = ::fsync(dfd)) != 0 && errno == EINTR) {
    }
    const int saved = errno;
    ::close(dfd);
    errno = saved;
    return rc == 0;
}

class PosixFile : public IFile {
public:
    PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~PosixFile() override {
        if (head_ != nullptr)
            ::munmap(head_, headLength_);
        ::close(fd_);
    }

    std::size_t ReadAt(std::uint64_t offset, void* data, std::size_t n) override {
        auto* p = static_cast<char*>(data);
        std::size_t done = 0;
        while (done < n) {
            ssize_t r = ::pread(fd_, p + done, n - done, static_cast<off_t>(offset + done));
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                Fail(XBaseError::Code::Io, ErrnoText("cannot read", path_));
            }
            if (r == 0)
                break;
            done += static_cast<std::size_t>(r);
        }
        return done;
    }

    void WriteAt(std::uint64_t offset, const void* data, std::size_t n) override {
        const auto* p = static_cast<const char*>(data);
        std::size_t done = 0;
        while (done < n) {
            ssize_t r = ::pwrite(fd_, p + done, n - done, static_cast<off_t>(offset + done));
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                Fail(XBaseError::Code::Io, ErrnoText("cannot write", path_));
            }
            if (r == 0)
                Fail(XBaseError::Code::Io, "cannot write " + path_ + ": no progress");
            done += static_cast<std::size_t>(r);
        }
    }

    std::uint64_t Size() override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0)
            Fail(XBaseError::Code::Io, ErrnoText("cannot stat", path_));
        return static_cast<std::uint64_t>(st.st_size);
    }

    void Truncate(std::uint64_t size) override {
        while (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
            if (errno != EINTR)
                Fail(XBaseError::Code::Io, ErrnoText("cannot truncate", path_));
        }
    }

    void Sync() override {
        while (::fdatasync(fd_) != 0) {
            if (errno != EINTR)
                Fail(XBaseError::Code::Io, ErrnoText("cannot flush", path_));
        }
    }

    bool Lock(std::uint64_t offset, LockMode mode, bool wait) override {
        struct flock fl {};
        fl.l_type = mode == LockMode::Shared ? F_RDLCK : F_WRLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = static_cast<off_t>(offset);
        fl.l_len = 1;
        for (;;) {
            if (::fcntl(fd_, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0)
                return true;
            if (errno == EINTR)
                continue;
            if (!wait && (errno == EAGAIN || errno == EACCES))
                return false;
            Fail(XBaseError::Code::Io, ErrnoText("cannot lock", path_));
        }
    }

    void Unlock(std::uint64_t offset) override {
        struct flock fl {};
        fl.l_type = F_UNLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = static_cast<off_t>(offset);
        fl.l_len = 1;
        ::fcntl(fd_, F_OFD_SETLK, &fl);
    }

    const unsigned char* MapHead(std::size_t n) override {
        if (head_ != nullptr)
            return headLength_ >= n ? static_cast<const unsigned char*>(head_) : nullptr;
        if (n == 0 || Size() < n)
            return nullptr;
        void* p = ::mmap(nullptr, n, PROT_READ, MAP_SHARED, fd_, 0);
        if (p == MAP_FAILED)
            return nullptr;
        head_ = p;
        headLength_ = n;
        return static_cast<const unsigned char*>(head_);
    }

private:
    int fd_;
    std::string path_;
    void* head_ = nullptr;
    std::size_t headLength_ = 0;
};

} // namespace

std::unique_ptr<IFile> PosixFileSystem::Open(const std::string& path, bool writable) {
    int fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            Fail(XBaseError::Code::NotFound, "file not found: " + path);
        Fail(XBaseError::Code::Io, ErrnoText("cannot open", path));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        Fail(XBaseError::Code::Invalid, "not a regular file: " + path);
    }
    return std::make_unique<PosixFile>(fd, path);
}

std::unique_ptr<IFile> PosixFileSystem::Create(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        Fail(XBaseError::Code::Io, ErrnoText("cannot create", path));
    return std::make_unique<PosixFile>(fd, path);
}

bool PosixFileSystem::Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool PosixFileSystem::IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void PosixFileSystem::Remove(const std::string& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        Fail(XBaseError::Code::Io, ErrnoText("cannot remove", path));
}

void PosixFileSystem::Rename(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0)
        Fail(XBaseError::Code::Io, ErrnoText("cannot rename", from));
    // The new name must survive a power loss as the data did. The rename
    // itself is done, so a folder that cannot be flushed does not undo it.
    FlushFolder(FolderOf(to));
}

void PosixFileSystem::MakeFolders(const std::string& path) {
    if (path.empty() || IsFolder(path))
        return;
    const std::string parent = FolderOf(path);
    if (parent != path)
        MakeFolders(parent);
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
        Fail(XBaseError::Code::Io, ErrnoText("cannot create folder", path));
    SyncFolder(parent);
}

void PosixFileSystem::SyncFolder(const std::string& folder) {
    if (!FlushFolder(folder))
        Fail(XBaseError::Code::Io, ErrnoText("cannot flush folder", folder));
}

std::vector<std::string> PosixFileSystem::List(const std::string& folder) {
    std::vector<std::string> names;
    DIR* d = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!d)
        return names;
    while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..")
            names.push_back(n);
    }
    ::closedir(d);
    return names;
}

IFileSystem& RealFileSystem() {
    static PosixFileSystem fs;
    return fs;
}

} // namespace tarvina::xbase
