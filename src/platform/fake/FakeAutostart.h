#pragma once

#include "platform/Autostart.h"

#include <QStringList>

namespace tarvina::platform {

class FakeAutostart final : public Autostart {
public:
    bool enabled = false;
    bool fails = false;
    QStringList calls; // "on", "off"

    bool isEnabled() override { return enabled; }
    bool setEnabled(bool on, QString* error) override {
        calls << (on ? QStringLiteral("on") : QStringLiteral("off"));
        if (fails) {
            if (error)
                *error = QStringLiteral("denegado");
            return false;
        }
        enabled = on;
        return true;
    }
};

} // namespace tarvina::platform
