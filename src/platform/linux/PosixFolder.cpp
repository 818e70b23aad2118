#include "platform/linux/PosixFolder.h"

#include "platform/linux/UniqueFd.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvina::platform {

std::string FolderErrorText(int err) {
    switch (err) {
    case EACCES:
        return "permiso denegado";
    case EPERM:
        return "operación no permitida";
    case ENOENT:
        return "no existe";
    case ENOSPC:
        return "no queda espacio en el disco";
    case EDQUOT:
        return "cuota de disco agotada";
    case EROFS:
        return "sistema de archivos de solo lectura";
    case EBUSY:
        return "está en uso";
    case EIO:
        return "error de entrada o salida";
    case ENOTEMPTY:
        return "la carpeta no está vacía";
    case ENOTDIR:
        return "no es una carpeta";
    case ELOOP:
        return "es un enlace simbólico";
    case EXDEV:
        return "está en otro sistema de archivos";
    case ENAMETOOLONG:
        return "nombre demasiado largo";
    case EEXIST:
        return "ya existe";
    default:
        return "error del sistema " + std::to_string(err);
    }
}

namespace {

[[noreturn]] void Fail(const char* what, int err = errno) {
    throw FolderError(what, err);
}

using Fd = UniqueFd;

FolderEntry ToEntry(const struct stat& st) {
    FolderEntry e;
    if (S_ISREG(st.st_mode))
        e.type = EntryType::File;
    else if (S_ISDIR(st.st_mode))
        e.type = EntryType::Folder;
    else if (S_ISLNK(st.st_mode))
        e.type = EntryType::Link;
    else
        e.type = EntryType::Special;
    e.mode = st.st_mode & 07777;
    e.size = static_cast<std::uint64_t>(st.st_size);
    e.device = static_cast<std::uint64_t>(st.st_dev);
    return e;
}

class PosixReader final : public FileReader {
public:
    explicit PosixReader(int fd) : fd_(fd) {}
    std::size_t read(unsigned char* buf, std::size_t n) override {
        for (;;) {
            const ssize_t r = ::read(fd_.get(), buf, n);
            if (r >= 0)
                return static_cast<std::size_t>(r);
            if (errno != EINTR)
                Fail("leer");
        }
    }

private:
    Fd fd_;
};

class PosixWriter final : public FileWriter {
public:
    explicit PosixWriter(int fd) : fd_(fd) {}
    void write(const unsigned char* buf, std::size_t n) override {
        while (n > 0) {
            const ssize_t w = ::write(fd_.get(), buf, n);
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                Fail("escribir");
            }
            buf += w;
            n -= static_cast<std::size_t>(w);
        }
    }
    void finish(unsigned mode) override {
        if (::fchmod(fd_.get(), mode) != 0)
            Fail("cambiar los permisos");
        if (::close(fd_.release()) != 0)
            Fail("escribir");
    }

private:
    Fd fd_;
};

class PosixFolder final : public Folder {
public:
    PosixFolder(int fd, std::uint64_t device) : fd_(fd), device_(device) {}

    // A folder from a descriptor just opened (negative: the open failed),
    // with the file system it lies on.
    static std::unique_ptr<Folder> Adopt(int raw) {
        Fd fd(raw);
        if (fd.get() < 0)
            Fail("abrir la carpeta");
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0)
            Fail("abrir la carpeta");
        return std::make_unique<PosixFolder>(fd.release(), static_cast<std::uint64_t>(st.st_dev));
    }

    std::uint64_t device() const override { return device_; }

    std::vector<std::string> list() override {
        // fdopendir takes the descriptor it is given: a duplicate keeps ours.
        const int dup = ::openat(fd_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dup < 0)
            Fail("leer la carpeta");
        DIR* dir = ::fdopendir(dup);
        if (!dir) {
            const int err = errno;
            ::close(dup);
            Fail("leer la carpeta", err);
        }
        std::vector<std::string> names;
        for (;;) {
            errno = 0;
            const dirent* d = ::readdir(dir);
            if (!d)
                break;
            if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0)
                continue;
            names.emplace_back(d->d_name);
        }
        const int err = errno;
        ::closedir(dir);
        if (err != 0)
            Fail("leer la carpeta", err);
        return names;
    }

    std::optional<FolderEntry> stat(const std::string& name) override {
        struct stat st {};
        if (::fstatat(fd_.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                return std::nullopt;
            Fail("examinar");
        }
        return ToEntry(st);
    }

    std::unique_ptr<Folder> open(const std::string& name) override {
        return Adopt(::openat(fd_.get(), name.c_str(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    }

    std::unique_ptr<FileReader> read(const std::string& name) override {
        Fd fd(::openat(fd_.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
        if (fd.get() < 0)
            Fail("leer");
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0)
            Fail("leer");
        if (!S_ISREG(st.st_mode))
            Fail("leer", EPERM);
        return std::make_unique<PosixReader>(fd.release());
    }

    std::unique_ptr<FileWriter> create(const std::string& name) override {
        const int fd = ::openat(fd_.get(), name.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            Fail("crear");
        return std::make_unique<PosixWriter>(fd);
    }

    void rename(const std::string& from, const std::string& to) override {
        if (::renameat(fd_.get(), from.c_str(), fd_.get(), to.c_str()) != 0)
            Fail("reemplazar");
    }

    void remove(const std::string& name, bool folder) override {
        if (::unlinkat(fd_.get(), name.c_str(), folder ? AT_REMOVEDIR : 0) != 0)
            Fail("borrar");
    }

    void makeFolder(const std::string& name, unsigned mode) override {
        if (::mkdirat(fd_.get(), name.c_str(), mode) != 0)
            Fail("crear la carpeta");
        // The process's umask must not decide the model's permissions.
        setMode(name, mode);
    }

    std::string readLink(const std::string& name) override {
        std::string target(4096, '\0');
        const ssize_t n = ::readlinkat(fd_.get(), name.c_str(), target.data(), target.size());
        if (n < 0)
            Fail("leer el enlace");
        if (static_cast<std::size_t>(n) >= target.size())
            Fail("leer el enlace", ENAMETOOLONG);
        target.resize(static_cast<std::size_t>(n));
        return target;
    }

    void makeLink(const std::string& name, const std::string& target) override {
        if (::symlinkat(target.c_str(), fd_.get(), name.c_str()) != 0)
            Fail("crear el enlace");
    }

    void setMode(const std::string& name, unsigned mode) override {
        // glibc does this without following a link (through O_PATH); on a
        // link it refuses, which is what is wanted.
        if (::fchmodat(fd_.get(), name.c_str(), mode, AT_SYMLINK_NOFOLLOW) != 0)
            Fail("cambiar los permisos");
    }

    void syncAll() override {
        if (::syncfs(fd_.get()) != 0)
            Fail("guardar en el disco");
    }

private:
    Fd fd_;
    std::uint64_t device_;
};

} // namespace

std::unique_ptr<Folder> PosixFolderOpener::openRoot(const std::string& path) {
    return PosixFolder::Adopt(
        ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK));
}

} // namespace tarvina::platform
