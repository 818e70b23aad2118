#pragma once

#include "platform/SystemTime.h"

#include <QDBusConnection>
#include <QString>

namespace tarvina::platform {

// The computer's clock through systemd-timedated (org.freedesktop.timedate1
// SetTime on D-Bus, not interactive): polkit decides, by the rule the
// station's package installs for its group, so the station needs no
// privilege of its own. timedated refuses while the clock is kept by network
// time; the refusal and its reason come back as the error.
class TimedateTime final : public SystemTimeSetter {
public:
    // bus: the system bus, or a test's private one.
    explicit TimedateTime(QDBusConnection bus = QDBusConnection::systemBus(), int timeoutMs = 5000);
    bool setLocalTime(const common::DateTime& when, QString* error) override;

private:
    QDBusConnection bus_;
    int timeoutMs_;
};

} // namespace tarvina::platform
