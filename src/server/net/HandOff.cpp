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

std::deque<UiEvent> HandOff::take(size_t maxCount) {
    std::lock_guard<std::mutex> guard(mutex_);
    std::deque<UiEvent> out;
    if (maxCount >= events_.size()) {
        out.swap(events_);
        return out;
    }
    for (size_t i = 0; i < maxCount; ++i) {
        out.push_back(std::move(events_.front()));
        events_.pop_front();
    }
    return out;
}

bool HandOff::empty() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return events_.empty();
}

} // namespace tarvina::server
