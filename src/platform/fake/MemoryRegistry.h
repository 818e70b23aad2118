#pragma once

#include "platform/TreeRegistry.h"

#include <atomic>

namespace tarvina::platform {

// A registry held in memory only, for tests. setFailSaves(true) makes every
// change report that it could not be made durable (the change stays in
// memory, as with a file that cannot be written); saveCount() counts the
// saves that were attempted.
class MemoryRegistry final : public TreeRegistry {
public:
    void setFailSaves(bool fail) { failSaves_ = fail; }
    int saveCount() const { return saves_; }

protected:
    bool persist(Root, const RegistryTree&) override {
        ++saves_;
        return !failSaves_;
    }

private:
    std::atomic<bool> failSaves_{false};
    std::atomic<int> saves_{0};
};

} // namespace tarvina::platform
