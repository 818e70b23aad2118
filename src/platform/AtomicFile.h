#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

namespace tarvina::platform {

// Points of a save at which a test may stop the process (or inject a fault).
enum class AtomicStage { TempCreated, HalfWritten, Written, Synced, Renamed };
using AtomicWriteHook = std::function<void(AtomicStage)>;

// Defined by the system's back end the library is built with
// (linux/AtomicFile.cpp), so that code above the platform saves through it
// without choosing one.
//
// Replaces the file at path with data so that, whatever happens to the
// process or the machine, the path holds either the old content or the new:
// the data goes to a temporary file in the same folder, which is flushed to
// disk, renamed over the path, and the folder is flushed too. Temporary files
// left behind by processes that died mid-save are removed. The folder is
// created when missing. mode is used for a new file; an existing file keeps
// its own permissions.
bool WriteFileAtomically(const QString& path, const QByteArray& data, unsigned mode,
                         QString* error = nullptr, const AtomicWriteHook& hook = {});

} // namespace tarvina::platform
