#pragma once

#include "common/DateTime.h"

#include <QString>

namespace tarvina::platform {

// Setting the computer's clock (the server keeps the room on its time).
class SystemTimeSetter {
public:
    virtual ~SystemTimeSetter() = default;
    // Sets the local time; false with a reason when the system refuses.
    virtual bool setLocalTime(const common::DateTime& when, QString* error) = 0;
};

} // namespace tarvina::platform
