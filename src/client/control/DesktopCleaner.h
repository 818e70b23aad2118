#pragma once

#include "platform/FolderTree.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace tarvina::client {

// Makes one folder tree match another, entry by entry, without ever
// following a symbolic link or leaving the target's file system: extra
// entries go, differing files (content or mode) and links are put back,
// missing ones are made. Special files (FIFOs, sockets, devices) are removed
// without being opened. Folders the customer closed (read-only, unreadable)
// are opened up first. Names are bytes. The first failure stops the run: it
// never guesses.
class DesktopCleaner {
public:
    struct Result {
        bool ok = true;
        std::string error; // the first failure, for the cashier
        std::uint64_t removed = 0;
        std::uint64_t restored = 0;
        std::uint64_t bytes = 0;
        // Folders on another file system, left as they were.
        std::vector<std::string> mountPoints;
    };

    // keep: paths below the home ("a/b", bytes) that belong to the station
    // itself; they and the folders that lead to them stay.
    DesktopCleaner(platform::FolderOpener& fs, std::vector<std::string> keep);

    // The end of a use: home becomes what model holds, the kept paths aside.
    Result clean(const std::string& home, const std::string& model);
    // "Guardar este escritorio como modelo": model becomes what home holds,
    // without the kept paths, special files and other file systems.
    Result saveModel(const std::string& home, const std::string& model);

    // The name of the file a restore writes before it takes its place.
    static constexpr const char* kTempName = ".tarvina-limpieza.tmp";
    static constexpr int kMaxDepth = 128;

private:
    struct Side;
    Result run(const std::string& source, const std::string& target, bool homeIsTarget);
    void syncFolder(platform::Folder* src, platform::Folder& dst, const std::string& rel,
                    int depth);
    void syncEntry(platform::Folder* src, const platform::FolderEntry* s, platform::Folder& dst,
                   const platform::FolderEntry* d, const std::string& name, const std::string& rel,
                   int depth);
    void copyFile(platform::Folder& src, platform::Folder& dst, const std::string& name,
                  unsigned mode, const std::string& rel);
    bool sameContent(platform::Folder& src, platform::Folder& dst, const std::string& name,
                     const std::string& rel);
    void removeTree(platform::Folder& dst, const std::string& name, const platform::FolderEntry& d,
                    const std::string& rel, int depth);
    std::unique_ptr<platform::Folder> openOpened(platform::Folder& dst, const std::string& name,
                                                 const platform::FolderEntry& d,
                                                 const std::string& rel);
    bool kept(const std::string& rel) const { return keep_.count(rel) != 0; }
    bool leadsToKept(const std::string& rel) const;

    platform::FolderOpener& fs_;
    std::set<std::string> keep_;
    bool homeIsTarget_ = true;
    std::uint64_t srcDevice_ = 0, dstDevice_ = 0;
    Result result_;
    std::vector<unsigned char> bufA_, bufB_;
};

// A path as a readable line: control bytes as \xNN, so that a name with a
// newline cannot break a log or a protocol line.
std::string PrintablePath(const std::string& rel);

} // namespace tarvina::client
