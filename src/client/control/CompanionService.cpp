#include "client/control/CompanionService.h"

#include "client/link/StationLink.h"
#include "client/station/StationContext.h"
#include "client/station/StationLog.h"
#include "common/Cp1252.h"
#include "platform/ServiceControl.h"
#include "protocol/StationLines.h"

#include <cstdio>

namespace tarvina::client {

namespace {
const QString kServiceName = QStringLiteral("ServiceZU");
} // namespace

// Systems older than the one the service was written for have no services.
bool CompanionService::watched() const {
    return ctx_.env.osMajor > 3 && !absent_;
}

void CompanionService::logOnce(const QString& text) {
    if (text == lastLogged_)
        return;
    lastLogged_ = text;
    ctx_.log.LogException(text);
}

void CompanionService::AtShow() {
    if (!watched())
        return;
    platform::ServiceControl& service = ctx_.platform.service;
    if (!service.isInstalled(kServiceName)) {
        absent_ = true;
        std::fprintf(stderr, "puesto: no hay servicio guardián (tarvina-guardian): si terminan "
                             "el puesto, no se reinicia solo\n");
        std::fflush(stderr);
        return;
    }
    lastCheck_ = ctx_.now();
    if (service.isRunning(kServiceName))
        return;
    QString err;
    if (service.resume(kServiceName, &err))
        return;
    logOnce(QStringLiteral("SetService (Resume) ") + err);
    const QByteArray msg = common::ToCp1252(u"\"ZU Service\" falla en ejecución.");
    if (link_.connected()) {
        link_.SendReply(protocol::station::ClientMessage(msg));
        link_.SendFreeMessage(msg);
    }
}

void CompanionService::Tick(const common::DateTime& t) {
    if (!watched() || lastCheck_.days() == 0 || lastCheck_.msecsTo(t) <= 60000)
        return;
    lastCheck_ = t;
    platform::ServiceControl& service = ctx_.platform.service;
    if (service.isRunning(kServiceName))
        return;
    link_.SendClientMessage(
        QStringLiteral("\"ZU Service\" falla en ejecución. Se verificará nuevamente en 60 segundos "
                       "contados desde  ") +
        common::FormatDateTime(QStringLiteral("hh:nn"), t) +
        QStringLiteral("\r.Verifique que \"ServiceZU\" está en ejecución.\r") +
        QStringLiteral("La falla de este servico es un problema potencial de seguridad."));
    link_.SendFreeMessage(
        common::ToCp1252(u"\"ZU Service\" falla en ejecución. Ver mensaje en consola."));
    QString err;
    if (!service.resume(kServiceName, &err))
        logOnce(QStringLiteral("SetService (Resume) ") + err);
}

void CompanionService::PauseForClose() {
    if (!watched())
        return;
    QString err;
    if (!ctx_.platform.service.pause(kServiceName, &err))
        ctx_.log.LogException(QStringLiteral("FormCloseQuery ") + err);
}

} // namespace tarvina::client
