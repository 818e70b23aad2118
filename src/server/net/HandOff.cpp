#include "server/net/HandOff.h"

namespace tarvina::server {

void HandOff::setWake(Wake wake) {
    std::lock_guard<std::mutex> guard(mutex_);
    wake_ = std::move(wake);
}

void HandOff::post(UiEvent event) {
    Wake wake;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        const bool wasEmpty = events_.empty();
        events_.push_back(std::move(event));
        if (wasEmpty)
            wake = wake_;
    }
    if (wake)
        wake();
}

std::deque<UiEvent> HandOff::take() {
    std::lock_guard<std::mutex> guard(mutex_);
    std::deque<UiEvent> out;
    out.swap(events_);
    return out;
}

bool HandOff::empty() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return events_.empty();
}

} // namespace tarvina::server
