#pragma once

#include "platform/ScreenGrabber.h"

namespace tarvina::platform {

// Hands out the picture a test set, or fails when there is none.
class FakeScreenGrabber final : public ScreenGrabber {
public:
    std::optional<ScreenImage> image;
    int grabs = 0;

    std::optional<ScreenImage> grab(QString* error) override {
        ++grabs;
        if (!image && error)
            *error = QStringLiteral("no hay pantalla");
        return image;
    }
};

} // namespace tarvina::platform
