#pragma once

#include "platform/ScreenGrabber.h"

#include <QByteArray>
#include <QRect>
#include <functional>

namespace tarvina::platform {

// The root window of an X display read with GetImage, in squares of 50 by 50
// pixels (see SquarePlan): every request is sent before the first answer is
// read, so the whole screen costs one round trip.
//
// Opens its own connection for each picture: a capture is rare, and the
// station's main connection then never waits behind a large transfer.
class X11ScreenGrabber final : public ScreenGrabber {
public:
    // display: as in $DISPLAY; empty takes the environment's.
    explicit X11ScreenGrabber(QByteArray display = {});
    std::optional<ScreenImage> grab(QString* error) override;
    // The primary monitor's part of the root window, in pixels; without one
    // (or with an empty one) the whole root is taken.
    void setPrimaryArea(std::function<QRect()> area) { area_ = std::move(area); }

private:
    QByteArray display_;
    std::function<QRect()> area_;
};

} // namespace tarvina::platform
