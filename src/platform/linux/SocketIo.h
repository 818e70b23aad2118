#pragma once

#include <QString>
#include <optional>

// Blocking-with-deadline writes on non-blocking POSIX sockets, shared by the
// station server's connection threads and the station's own link.
namespace tarvina::platform {

// Waits for `events` (poll flags) on fd for at most msecs (negative: no
// limit). True when ready or in error (the next read or write tells which),
// false when the time ran out.
bool WaitForSocket(int fd, short events, int msecs);

// Writes all of `data`, waiting at most timeoutMs (negative: no limit) for
// each bit of progress. Never raises SIGPIPE. Returns the error text on
// failure.
std::optional<QString> WriteAllToSocket(int fd, const char* data, qint64 size, int timeoutMs);

} // namespace tarvina::platform
