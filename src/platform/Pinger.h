#pragma once

#include <QString>

namespace tarvina::platform {

// ICMP echo: a failed ping is a result, never an error.
class Pinger {
public:
    virtual ~Pinger() = default;
    // True when an echo reply with data came back within timeoutMs.
    virtual bool ping(const QString& host, int timeoutMs) = 0;
};

} // namespace tarvina::platform
