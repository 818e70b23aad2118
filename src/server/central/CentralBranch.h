#pragma once

#include "server/central/CapturingFileSystem.h"
#include "server/central/CentralCopier.h"
#include "server/central/Outbox.h"

#include <QString>
#include <functional>
#include <memory>

namespace tarvina::platform {
class Clock;
}

namespace tarvina::server::central {

// The branch's side of the central copy for one run: the outbox in the data
// folder, the tables' rows staged into it, and the copier's thread.
class CentralBranch {
public:
    struct Hooks {
        // Both called on the copier's thread.
        std::function<void(const QString&)> status;
        std::function<void(const QString&)> console;
    };

    CentralBranch(CapturingFileSystem& fs, platform::Clock& clock);
    ~CentralBranch();
    CentralBranch(const CentralBranch&) = delete;
    CentralBranch& operator=(const CentralBranch&) = delete;

    // Opens the outbox (data folder + "Central.box") before the tables are
    // written, and starts the copy. Nothing happens without a branch name.
    // Returns a failure for the console, or empty.
    QString start(const QString& dataFolder, const QString& branch, const QString& conninfo,
                  const QString& password, Hooks hooks);
    // The copy stops; the tables are written on without it.
    void stop();
    bool running() const { return copier_ != nullptr; }
    std::size_t pending() const { return box_ ? box_->pending() : 0; }

private:
    CapturingFileSystem& fs_;
    platform::Clock& clock_;
    std::unique_ptr<Outbox> box_;
    std::unique_ptr<CentralCopier> copier_;
};

} // namespace tarvina::server::central
