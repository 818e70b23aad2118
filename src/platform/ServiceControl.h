#pragma once

#include <QString>

namespace tarvina::platform {

// The station's companion service: whether it is there at all, whether it
// runs, and pause/continue.
class ServiceControl {
public:
    virtual ~ServiceControl() = default;
    // False where the service does not exist on this machine (nothing to
    // supervise, nothing to complain about).
    virtual bool isInstalled(const QString& service) = 0;
    // A service that cannot be queried reads as not running.
    virtual bool isRunning(const QString& service) = 0;
    // False with a reason when the control could not be sent.
    virtual bool pause(const QString& service, QString* error) = 0;
    virtual bool resume(const QString& service, QString* error) = 0;
};

} // namespace tarvina::platform
