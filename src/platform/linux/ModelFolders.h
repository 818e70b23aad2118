#pragma once

#include "platform/FolderTree.h"

#include <sys/types.h>

namespace tarvina::platform {

// The folders of a model save run as root: the home is read with the
// station user's file-system identity (so root's rights never reach a file
// the user could not read, such as a link planted to a system file), and
// every mode written into the model goes through ModelEntryMode (no
// set-user-ID file owned by root ever appears there, even for a moment).
// Other paths go to the inner opener as they are.
class ModelSaveFolders final : public FolderOpener {
public:
    ModelSaveFolders(FolderOpener& inner, std::string home, std::string model, uid_t uid,
                     gid_t gid);
    std::unique_ptr<Folder> openRoot(const std::string& path) override;

private:
    FolderOpener& inner_;
    std::string home_, model_;
    uid_t uid_;
    gid_t gid_;
};

} // namespace tarvina::platform
