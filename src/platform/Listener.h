#pragma once

#include "platform/Stream.h"

#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>

namespace tarvina::platform {

// Accepts streams on a port of every local address. Lives on the thread
// that calls listen(), whose event loop runs the accepting: each accepted
// stream is handed to onAccept there, not yet started.
class Listener {
public:
    using Accepted = std::function<void(std::unique_ptr<Stream>)>;

    virtual ~Listener() = default;

    // Port 0 takes any free port (port() tells which). backlog: how many
    // connections the system may hold before they are accepted. False, with
    // errorString(), when the port cannot be had.
    virtual bool listen(quint16 port, int backlog, Accepted onAccept) = 0;
    virtual void close() = 0;
    virtual bool isListening() const = 0;
    virtual quint16 port() const = 0;
    virtual QString errorString() const = 0;
};

} // namespace tarvina::platform
