#pragma once

#include <functional>

class QObject;

namespace tarvina::platform {

// SIGTERM, SIGINT and SIGHUP (a shutdown, a log-out, Ctrl+C) handed to
// `handler` on the thread of `context`'s event loop, where the program's own
// orderly close can run; the signal handler itself only writes one byte.
// Once per process. False when the signals could not be taken over.
bool OnTerminationSignal(QObject* context, std::function<void()> handler);

} // namespace tarvina::platform
