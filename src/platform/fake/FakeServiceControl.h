#pragma once

#include "platform/ServiceControl.h"

#include <QStringList>

namespace tarvina::platform {

class FakeServiceControl final : public ServiceControl {
public:
    bool installed = true;
    bool running = true;
    bool controlsFail = false;
    QStringList calls; // "pause <name>", "resume <name>"
    int queries = 0;   // isInstalled and isRunning calls

    bool isInstalled(const QString&) override {
        ++queries;
        return installed;
    }
    bool isRunning(const QString&) override {
        ++queries;
        return installed && running;
    }
    bool pause(const QString& s, QString* error) override {
        calls << QStringLiteral("pause ") + s;
        if (controlsFail || !installed) {
            if (error)
                *error = QStringLiteral("denied");
            return false;
        }
        running = false;
        return true;
    }
    bool resume(const QString& s, QString* error) override {
        calls << QStringLiteral("resume ") + s;
        if (controlsFail || !installed) {
            if (error)
                *error = QStringLiteral("denied");
            return false;
        }
        running = true;
        return true;
    }
};

} // namespace tarvina::platform
