#pragma once

#include "platform/DisplayModes.h"

#include <QList>

namespace tarvina::platform {

// A screen whose mode tests set and change; records every mode asked for.
class FakeDisplayModes final : public DisplayModes {
public:
    std::optional<ScreenMode> mode = ScreenMode{1280, 1024, 60};
    QList<ScreenMode> sets;

    std::optional<ScreenMode> current() override { return mode; }
    bool set(const ScreenMode& m, QString*) override {
        sets << m;
        mode = m;
        return true;
    }
};

} // namespace tarvina::platform
