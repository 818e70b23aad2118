#pragma once

#include <cstdint>
#include <string>

namespace tarvina::platform {

// What a save of the desktop model did, as the station tells it.
struct ModelSaveReport {
    bool ok = false;
    std::string error; // Spanish, for the dialog
    std::uint64_t removed = 0, restored = 0, bytes = 0;
};

// Saves the station user's home as the desktop model where the user may not
// write the model folder (so that no customer, who runs as the same user,
// can change what every later customer gets): the system asks for an
// administrator's password first. Blocks until done: call it off the user
// interface's thread.
class ElevatedModelSave {
public:
    virtual ~ElevatedModelSave() = default;
    // False when the system has no way to do it (nothing installed).
    virtual bool available() const = 0;
    virtual ModelSaveReport save(const std::string& model) = 0;
};

} // namespace tarvina::platform
