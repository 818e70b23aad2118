#pragma once

#include "platform/Power.h"

#include <QDBusConnection>
#include <QString>

namespace tarvina::platform {

// systemd-logind over D-Bus: PowerOff and Reboot of the manager (not
// interactive: the station asks no one for a password, polkit's rules for
// the active local session decide), and Terminate of the session the
// station runs in.
class LogindPower final : public Power {
public:
    // bus: the system bus, or a test's private one. sessionId: the session to
    // end at log-off; empty takes $XDG_SESSION_ID, and without it "auto"
    // (logind's name for the caller's own session).
    explicit LogindPower(QDBusConnection bus = QDBusConnection::systemBus(), QString sessionId = {},
                         int timeoutMs = 5000);

    bool powerOff() override;
    bool reboot() override;
    bool logOff() override;
    // The last refusal or failure, for the station's log.
    QString lastError() const { return lastError_; }

private:
    bool callManager(const QString& method, const QVariantList& args);
    QDBusConnection bus_;
    QString sessionId_;
    int timeoutMs_;
    QString lastError_;
};

} // namespace tarvina::platform
