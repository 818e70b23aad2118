#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarvina::xbase {

enum class LockMode { Shared, Exclusive };
struct FieldDef;

// Told of every record a handle writes (an append, an edit, a deletion):
// first with the bytes about to be written, then whether they were. Whoever
// keeps a copy of the rows elsewhere learns of each one in the same step as
// the table, so a kill between the two leaves at most the last one in doubt.
// A handle asks its file system for one when it opens a table.
class WriteObserver {
public:
    virtual ~WriteObserver() = default;
    // May throw: the record is then not written and the error leaves the
    // engine's operation as an XBaseError.
    virtual void BeforeWrite(const std::string& path, const std::vector<FieldDef>& fields,
                             std::uint32_t recno, const char* record) = 0;
    virtual void AfterWrite(bool written) = 0;
};

// One open file. The engine does every read and write through this interface
// so that tests can run it on memory and inject failures and crashes.
class IFile {
public:
    virtual ~IFile() = default;
    // Reads up to n bytes at offset; returns fewer only at the end of the file.
    virtual std::size_t ReadAt(std::uint64_t offset, void* data, std::size_t n) = 0;
    // Writes all n bytes or throws XBaseError(Io); a failed write may have
    // stored a prefix of the data.
    virtual void WriteAt(std::uint64_t offset, const void* data, std::size_t n) = 0;
    virtual std::uint64_t Size() = 0;
    virtual void Truncate(std::uint64_t size) = 0;
    // Flushes the data to the device (fdatasync).
    virtual void Sync() = 0;
    // A lock on one byte, owned by this open file (not by the process), so two
    // handles in one process exclude each other as two processes do. With
    // wait == false a conflicting holder makes it return false at once.
    virtual bool Lock(std::uint64_t offset, LockMode mode, bool wait) = 0;
    virtual void Unlock(std::uint64_t offset) = 0;
    // The file's first n bytes mapped read-only and shared with every other
    // open of the file, so that a value other handles rewrite can be looked
    // at without a system call; null where that cannot be had (the file is
    // shorter than n, or the file is not an operating-system file). Valid
    // while the object lives; never truncate the file below n meanwhile.
    virtual const unsigned char* MapHead(std::size_t /*n*/) { return nullptr; }
};

class IFileSystem {
public:
    virtual ~IFileSystem() = default;
    // Opens an existing file; throws XBaseError(NotFound) when it is missing.
    virtual std::unique_ptr<IFile> Open(const std::string& path, bool writable) = 0;
    // Creates the file, or empties it when it exists.
    virtual std::unique_ptr<IFile> Create(const std::string& path) = 0;
    virtual bool Exists(const std::string& path) = 0;
    virtual bool IsFolder(const std::string& path) = 0;
    // Removing a missing file is not an error.
    virtual void Remove(const std::string& path) = 0;
    // Replaces `to` when it exists.
    virtual void Rename(const std::string& from, const std::string& to) = 0;
    // Names (not paths) of the entries of a folder; empty when it is missing.
    virtual std::vector<std::string> List(const std::string& folder) = 0;
    // Creates the folder and every missing folder above it.
    virtual void MakeFolders(const std::string& path) = 0;
    // Makes the folder's entries as they are now (files created, removed or
    // renamed in it) survive a power cut, as Sync does for a file's bytes. A
    // Rename does this itself for the folder it renames into.
    virtual void SyncFolder(const std::string& folder) = 0;
    // Who is told of the records written to the table at `path` (as the
    // handle opens it); null for nobody. Not owned.
    virtual WriteObserver* ObserverFor(const std::string& /*path*/) { return nullptr; }
};

// File names are compared without regard to ASCII case, as on the system the
// tables come from: returns the existing path whose components match `path`
// case-insensitively, or `path` itself when nothing matches.
std::string ResolvePath(IFileSystem& fs, const std::string& path);

std::string FolderOf(const std::string& path);
std::string FileNameOf(const std::string& path);
std::string JoinPath(const std::string& folder, const std::string& name);
// `path` with its extension (after the last dot of the file name) replaced.
std::string WithExtension(const std::string& path, const std::string& ext);
bool EqualsNoCase(const std::string& a, const std::string& b);
std::string UpperAscii(std::string s);

} // namespace tarvina::xbase
