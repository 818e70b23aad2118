#pragma once

#include <QStringList>

namespace tarvina::platform {

// The computers of the local network that offer the café's service.
class NetworkBrowser {
public:
    virtual ~NetworkBrowser() = default;
    // Names or addresses, each once, at most kMaxComputers. May take up to
    // timeoutMs: call it off the UI thread. Nothing found (or nothing to
    // ask) is an empty list, never an error.
    virtual QStringList computers(int timeoutMs) = 0;

    static constexpr int kMaxComputers = 250;
};

} // namespace tarvina::platform
