#pragma once

#include "platform/SystemTime.h"

#include <QList>

namespace tarvina::platform {

class FakeSystemTimeSetter final : public SystemTimeSetter {
public:
    QList<double> set; // days
    bool refuse = false;
    bool setLocalTime(const common::DateTime& when, QString* error) override {
        if (refuse) {
            if (error)
                *error = QStringLiteral("Operation not permitted");
            return false;
        }
        set << when.days();
        return true;
    }
};

} // namespace tarvina::platform
