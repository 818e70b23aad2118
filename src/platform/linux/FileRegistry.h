#pragma once

#include "platform/AtomicFile.h"
#include "platform/TreeRegistry.h"

#include <QString>
#include <QStringList>

namespace tarvina::platform {

// The registry kept in two REGEDIT4 files, one per root (format in
// platform/RegFile.h).
//
// When changes reach the disk: every write, creation or deletion saves its
// root's file at once (atomically, see WriteFileAtomically), unless a batch is
// open (Registry::beginBatch / SaveBatch), in which case the batch's end saves
// once. A save that fails leaves the change in memory, marks the root dirty
// and returns false; the next change, flush() or the destructor tries again.
// So nothing acknowledged as written is ever lost, and a process killed at
// any moment leaves each file with its old or its new content.
//
// Files are read once, when the object is made. Two processes sharing
// machine.reg never corrupt it (each save replaces the whole file
// atomically), but the last one to save wins: a program writes back what it
// read plus its own changes.
class FileRegistry final : public TreeRegistry {
public:
    struct Paths {
        QString user;
        QString machine;
    };
    // TARVINA_REGISTRY/user.reg and machine.reg; else
    // $XDG_CONFIG_HOME/tarvina/user.reg (~/.config when unset) and
    // /etc/tarvina/machine.reg.
    static Paths DefaultPaths();

    explicit FileRegistry(Paths paths = DefaultPaths());
    ~FileRegistry() override;

    const Paths& paths() const { return paths_; }
    // What the loader skipped in a root's file, "line N: reason".
    QStringList loadProblems(Root root) const;
    // The last save error of a root (empty after a good save).
    QString lastError(Root root) const;
    // Test hook called at each step of every save.
    void setSaveHook(AtomicWriteHook hook);

protected:
    bool persist(Root root, const RegistryTree& tree) override;

private:
    Paths paths_;
    QStringList problems_[2];
    mutable QMutex errorMutex_;
    QString errors_[2];
    AtomicWriteHook hook_;
};

} // namespace tarvina::platform
