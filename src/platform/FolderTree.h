#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarvina::platform {

// What an entry of a folder is, read without following it.
enum class EntryType { File, Folder, Link, Special };

struct FolderEntry {
    EntryType type = EntryType::Special;
    unsigned mode = 0; // permission bits (07777)
    std::uint64_t size = 0;
    std::uint64_t device = 0;
};

// A failed call on a folder: what was tried and the system's error number.
// The caller names the path, the folder only knows the entry's name.
class FolderError : public std::runtime_error {
public:
    FolderError(const char* what, int err) : std::runtime_error(what), err_(err) {}
    int err() const { return err_; }

private:
    int err_;
};

// The system's error number as a short Spanish phrase (defined by the
// system's back end).
std::string FolderErrorText(int err);

class FileReader {
public:
    virtual ~FileReader() = default;
    // Up to n bytes; 0 at the end.
    virtual std::size_t read(unsigned char* buf, std::size_t n) = 0;
};

class FileWriter {
public:
    virtual ~FileWriter() = default;
    virtual void write(const unsigned char* buf, std::size_t n) = 0;
    // All bytes written: the file gets its mode and is closed.
    virtual void finish(unsigned mode) = 0;
};

// An open folder. Every call works on one entry of it by name (bytes, any
// byte but '/' and NUL), never follows a symbolic link and never opens a
// FIFO, socket or device; a folder opened from another is the very folder
// that was looked at, even when its name changes meanwhile. Failures throw
// FolderError.
class Folder {
public:
    virtual ~Folder() = default;
    // The file system the folder lies on.
    virtual std::uint64_t device() const = 0;
    virtual std::vector<std::string> list() = 0;
    // Empty when there is no such entry.
    virtual std::optional<FolderEntry> stat(const std::string& name) = 0;
    virtual std::unique_ptr<Folder> open(const std::string& name) = 0;
    virtual std::unique_ptr<FileReader> read(const std::string& name) = 0;
    // A new file (the name must be free).
    virtual std::unique_ptr<FileWriter> create(const std::string& name) = 0;
    virtual void rename(const std::string& from, const std::string& to) = 0;
    // A file, link or special entry; an empty folder when folder is true.
    virtual void remove(const std::string& name, bool folder) = 0;
    virtual void makeFolder(const std::string& name, unsigned mode) = 0;
    virtual std::string readLink(const std::string& name) = 0;
    virtual void makeLink(const std::string& name, const std::string& target) = 0;
    // Files and folders only.
    virtual void setMode(const std::string& name, unsigned mode) = 0;
    // Everything written to this folder's file system reaches the disk.
    virtual void syncAll() = 0;
};

// Opens folders by full path (the roots of a walk).
class FolderOpener {
public:
    virtual ~FolderOpener() = default;
    virtual std::unique_ptr<Folder> openRoot(const std::string& path) = 0;
};

} // namespace tarvina::platform
