#pragma once

#include "platform/DisplayModes.h"

namespace tarvina::platform {

// The mode of the X screen through the xrandr program, on the display of
// $DISPLAY. Each call waits for xrandr (a few milliseconds; at most 5 s).
class XrandrDisplayModes final : public DisplayModes {
public:
    explicit XrandrDisplayModes(QString program = QStringLiteral("xrandr"));
    std::optional<ScreenMode> current() override;
    bool set(const ScreenMode& mode, QString* error) override;

private:
    QString program_;
};

} // namespace tarvina::platform
