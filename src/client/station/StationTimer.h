#pragma once

#include <QObject>
#include <QTimer>

namespace tarvina::client {

// A timer of the station as the logic sees it: enabled and interval are
// state that tests read, and a real QTimer runs only when the program drives
// the timers (tests call the tick methods themselves). An interval of 0 never
// fires, as a timer of interval 0 does not on the original platform.
class StationTimer {
public:
    template <typename F> StationTimer(QObject* owner, F&& tick) : qt_(new QTimer(owner)) {
        QObject::connect(qt_, &QTimer::timeout, owner, std::forward<F>(tick));
    }

    bool enabled() const { return enabled_; }
    int interval() const { return interval_; }

    void setEnabled(bool on) {
        enabled_ = on;
        apply();
    }
    void setInterval(int ms) {
        interval_ = ms;
        apply();
    }
    void setDriven(bool on) {
        driven_ = on;
        apply();
    }

private:
    void apply() {
        if (driven_ && enabled_ && interval_ > 0) {
            if (!qt_->isActive() || qt_->interval() != interval_)
                qt_->start(interval_);
        } else {
            qt_->stop();
        }
    }

    QTimer* qt_;
    bool enabled_ = false;
    bool driven_ = false;
    int interval_ = 0;
};

} // namespace tarvina::client
