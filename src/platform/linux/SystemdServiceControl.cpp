#include "platform/linux/SystemdServiceControl.h"

#include <QProcess>
#include <QProcessEnvironment>

namespace tarvina::platform {

SystemdServiceControl::SystemdServiceControl(QString systemctl)
    : systemctl_(std::move(systemctl)) {}

QString SystemdServiceControl::UnitFor(const QString& service) {
    if (service.compare(QStringLiteral("ServiceZU"), Qt::CaseInsensitive) == 0)
        return QString::fromLatin1(kGuardianUnit);
    return service.contains(u'.') ? service : service + QStringLiteral(".service");
}

QStringList SystemdServiceControl::ImportedEnvironment() {
    static const char* const names[] = {"DISPLAY",       "XAUTHORITY",       "WAYLAND_DISPLAY",
                                        "TARVINA_HOME",  "TARVINA_REGISTRY", "TARVINA_PORT",
                                        "XDG_DATA_HOME", "XDG_CONFIG_HOME"};
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QStringList present;
    for (const char* n : names)
        if (env.contains(QString::fromLatin1(n)))
            present << QString::fromLatin1(n);
    return present;
}

bool SystemdServiceControl::run(const QStringList& args, QString* error, QByteArray* out) {
    QProcess p;
    QStringList all{QStringLiteral("--user")};
    all += args;
    p.start(systemctl_, all);
    if (!p.waitForStarted(3000) || !p.waitForFinished(10000)) {
        if (error)
            *error = p.errorString();
        p.kill();
        p.waitForFinished(1000);
        return false;
    }
    if (out)
        *out = p.readAllStandardOutput();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        if (error) {
            *error = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
            if (error->isEmpty())
                *error = QStringLiteral("systemctl: %1").arg(p.exitCode());
        }
        return false;
    }
    return true;
}

QString SystemdServiceControl::property(const QString& unit, const QString& name) {
    QByteArray out;
    if (!run({QStringLiteral("show"), QStringLiteral("-p"), name, QStringLiteral("--value"), unit},
             nullptr, &out))
        return {};
    return QString::fromLatin1(out).trimmed();
}

bool SystemdServiceControl::isInstalled(const QString& service) {
    // No systemctl, no user instance, or no such unit file: all "not here".
    return property(UnitFor(service), QStringLiteral("LoadState")) == u"loaded";
}

bool SystemdServiceControl::isRunning(const QString& service) {
    return property(UnitFor(service), QStringLiteral("ActiveState")) == u"active";
}

bool SystemdServiceControl::pause(const QString& service, QString* error) {
    return run({QStringLiteral("stop"), UnitFor(service)}, error);
}

bool SystemdServiceControl::resume(const QString& service, QString* error) {
    const QStringList env = ImportedEnvironment();
    if (!env.isEmpty()) {
        QStringList args{QStringLiteral("import-environment")};
        args += env;
        // A failed hand-over still leaves the start worth trying.
        run(args, nullptr);
    }
    return run({QStringLiteral("start"), UnitFor(service)}, error);
}

} // namespace tarvina::platform
