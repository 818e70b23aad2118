#pragma once

#include "platform/Power.h"

#include <QStringList>

namespace tarvina::platform {

// Records the requests; refuses them all while `refuse` is set.
class FakePower final : public Power {
public:
    QStringList calls;
    bool refuse = false;

    bool powerOff() override { return record(QStringLiteral("PowerOff")); }
    bool reboot() override { return record(QStringLiteral("Reboot")); }
    bool logOff() override { return record(QStringLiteral("LogOff")); }

private:
    bool record(const QString& what) {
        calls << what;
        return !refuse;
    }
};

} // namespace tarvina::platform
