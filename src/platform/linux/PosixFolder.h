#pragma once

#include "platform/FolderTree.h"

namespace tarvina::platform {

// Folders through the *at calls on open descriptors: openat with O_NOFOLLOW,
// fstatat with AT_SYMLINK_NOFOLLOW, unlinkat, renameat; a special file is
// never opened (its type is checked before, and O_NONBLOCK keeps a FIFO that
// appears meanwhile from blocking; the descriptor is checked again after).
class PosixFolderOpener final : public FolderOpener {
public:
    std::unique_ptr<Folder> openRoot(const std::string& path) override;
};

} // namespace tarvina::platform
