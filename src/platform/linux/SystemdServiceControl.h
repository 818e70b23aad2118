#pragma once

#include "platform/ServiceControl.h"

#include <QHash>
#include <QString>
#include <QStringList>

namespace tarvina::platform {

// The companion service as a unit of the user's systemd instance. The
// station's service name ("ServiceZU") stands for the guardian unit
// "tarvina-guardian.service"; other names get ".service" added. Running is
// the unit being active, pause stops it and continue starts it (first
// handing the unit the display and the station's folders, so the puesto it
// restarts finds the same desktop and files).
class SystemdServiceControl final : public ServiceControl {
public:
    static constexpr char kGuardianUnit[] = "tarvina-guardian.service";

    explicit SystemdServiceControl(QString systemctl = QStringLiteral("systemctl"));

    bool isInstalled(const QString& service) override;
    bool isRunning(const QString& service) override;
    bool pause(const QString& service, QString* error) override;
    bool resume(const QString& service, QString* error) override;

    // The unit a service name stands for.
    static QString UnitFor(const QString& service);
    // The environment names handed to the unit before a start.
    static QStringList ImportedEnvironment();

private:
    bool run(const QStringList& args, QString* error, QByteArray* out = nullptr);
    QString property(const QString& unit, const QString& name);
    QString systemctl_;
};

} // namespace tarvina::platform
