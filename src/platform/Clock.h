#pragma once

#include "common/DateTime.h"

#include <QtGlobal>

namespace tarvina::platform {

// Every rule that depends on the time of day or on elapsed time reads one of
// these, never the system clock, so tests can drive time.
class Clock {
public:
    virtual ~Clock() = default;
    // Local wall-clock time.
    virtual common::DateTime now() const = 0;
    // Milliseconds on a steady clock that never goes back (for elapsed times).
    virtual qint64 steadyMs() const = 0;
};

// The system's clocks.
class RealClock final : public Clock {
public:
    common::DateTime now() const override;
    qint64 steadyMs() const override;
};

} // namespace tarvina::platform
