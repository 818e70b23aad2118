#include "platform/Clock.h"

#include <QDateTime>
#include <chrono>

namespace tarvina::platform {

common::DateTime RealClock::now() const {
    return common::DateTime::FromQDateTime(QDateTime::currentDateTime());
}

qint64 RealClock::steadyMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace tarvina::platform
