#include "server/net/HandOff.h"

#include <chrono>

namespace tarvina::server {

namespace {

thread_local quint64 tSource = 0;

} // namespace

HandOff::SourceScope::SourceScope(quint64 source) : previous_(tSource) {
    tSource = source;
}

HandOff::SourceScope::~SourceScope() {
    tSource = previous_;
}

qint64 HandOff::Cost(const UiEvent& event) {
    return static_cast<qint64>(sizeof(UiEvent)) + event.text.size() * 2 + event.data.size();
}

void HandOff::setWake(Wake wake) {
    std::lock_guard<std::mutex> guard(mutex_);
    wake_ = std::move(wake);
}

void HandOff::post(UiEvent event) {
    Wake wake;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        event.source = tSource;
        if (event.source != 0) {
            Pending& p = pending_[event.source];
            const qint64 cost = Cost(event);
            ++p.events;
            p.bytes += cost;
            totalBytes_ += cost;
        }
        const bool wasEmpty = events_.empty();
        events_.push_back(std::move(event));
        if (wasEmpty)
            wake = wake_;
    }
    if (wake)
        wake();
}

std::deque<UiEvent> HandOff::take(size_t maxCount) {
    std::deque<UiEvent> out;
    bool released = false;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (maxCount >= events_.size()) {
            out.swap(events_);
        } else {
            for (size_t i = 0; i < maxCount; ++i) {
                out.push_back(std::move(events_.front()));
                events_.pop_front();
            }
        }
        for (const UiEvent& e : out) {
            if (e.source == 0)
                continue;
            const auto it = pending_.find(e.source);
            if (it == pending_.end())
                continue;
            const qint64 cost = Cost(e);
            it->second.bytes -= cost;
            totalBytes_ -= cost;
            if (--it->second.events <= 0)
                pending_.erase(it);
            released = true;
        }
    }
    if (released)
        taken_.notify_all();
    return out;
}

bool HandOff::empty() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return events_.empty();
}

size_t HandOff::size() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return events_.size();
}

bool HandOff::hasRoom(quint64 source) const {
    const auto it = pending_.find(source);
    if (it == pending_.end())
        return true;
    const Pending& p = it->second;
    if (p.events >= kMaxPendingEvents || p.bytes >= kMaxPendingBytes)
        return false;
    return totalBytes_ < kMaxTotalBytes || p.events < kFairShare;
}

bool HandOff::waitForRoom(quint64 source, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (hasRoom(source))
        return true;
    ++waiting_;
    const bool room = taken_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                      [&] { return hasRoom(source); });
    --waiting_;
    return room;
}

int HandOff::waiting() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return waiting_;
}

} // namespace tarvina::server
