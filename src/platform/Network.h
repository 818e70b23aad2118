#pragma once

#include "platform/LinkSecurity.h"
#include "platform/Listener.h"
#include "platform/Stream.h"

#include <QString>
#include <functional>
#include <memory>

namespace tarvina::platform {

// Where streams come from: a listener for the server, a connect for the
// station. The programs pass the real network down; tests may pass another.
class Network {
public:
    virtual ~Network() = default;

    virtual std::unique_ptr<Listener> makeListener() = 0;

    // The protection of the streams made from now on (accepted by every
    // listener of this network, or connected): plain until set. Any thread;
    // streams already made keep theirs. A network without encryption keeps
    // every stream plain.
    virtual void setSecurity(const LinkSecurity& security) { (void)security; }

    // Connects to host:port (empty host: this machine), giving up after
    // timeoutMs (0 or less: no limit) or as soon as stop() says so, which is
    // polled. localAddress (an IPv4 text, empty for any) binds the local end
    // first, so that several stations can run from one machine. The stream
    // is not started yet. Null, with the reason in *error, on failure.
    virtual std::unique_ptr<Stream> connect(const QString& host, quint16 port, int timeoutMs,
                                            QString* error, const std::function<bool()>& stop,
                                            const QString& localAddress) = 0;
};

} // namespace tarvina::platform
