#pragma once

#include "platform/Clock.h"

#include <QMutex>

namespace tarvina::platform {

// A clock that moves only when told; the steady clock moves with it (but
// never back when the wall clock is set back).
class FakeClock final : public Clock {
public:
    explicit FakeClock(common::DateTime start = common::DateTime::FromParts(2024, 1, 15, 10, 0, 0))
        : now_(start) {}

    common::DateTime now() const override {
        QMutexLocker lock(&mutex_);
        return now_;
    }
    qint64 steadyMs() const override {
        QMutexLocker lock(&mutex_);
        return steady_;
    }

    void set(common::DateTime t) {
        QMutexLocker lock(&mutex_);
        const qint64 delta = now_.msecsTo(t);
        if (delta > 0)
            steady_ += delta;
        now_ = t;
    }
    void advanceMs(qint64 ms) {
        QMutexLocker lock(&mutex_);
        now_ = now_.addMSecs(ms);
        if (ms > 0)
            steady_ += ms;
    }
    void advanceSeconds(qint64 s) { advanceMs(s * 1000); }
    void advanceMinutes(qint64 m) { advanceMs(m * 60000); }

private:
    mutable QMutex mutex_;
    common::DateTime now_;
    qint64 steady_ = 1000000;
};

} // namespace tarvina::platform
