#pragma once

#include <mutex>

namespace tarvina::server {

// ComputersLock: one process-wide recursive mutex.
//
// Ownership rule. Whoever reads or writes a TCompItem field, the two indexes,
// the rows, the connection <-> record bindings, the client parameters or the
// screenshot buffer holds ComputersLock. Connection threads hold it across a
// whole locked handler (but never while they wait for the network on a
// station's block or counted lines: those are read first, then applied under
// the lock, so a slow or hostile station cannot stall the others). The UI
// thread takes it for each operation that reads or changes records. Nobody
// holding it ever waits for the UI thread: effects on the user interface are
// posted to the HandOff queue, which has its own short-lived mutex and never
// calls out while holding it. Writes to a station may happen under the lock;
// they are bounded in time (StationConnection::kWriteTimeoutMs).
using ComputersLock = std::recursive_mutex;
using ComputersGuard = std::lock_guard<ComputersLock>;

} // namespace tarvina::server
