#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace tarvina::platform {

// The screen's mode: what a game that changed the resolution may leave
// behind, and the station puts back after a clean of tasks.
struct ScreenMode {
    int width = 0;
    int height = 0;
    double refresh = 0; // Hz; 0 when the display does not tell
    bool operator==(const ScreenMode&) const = default;
};

class DisplayModes {
public:
    virtual ~DisplayModes() = default;
    // nullopt when the mode cannot be read.
    virtual std::optional<ScreenMode> current() = 0;
    // False with a Spanish reason when the display refused it.
    virtual bool set(const ScreenMode& mode, QString* error) = 0;
};

// The current mode in the text `xrandr --current` prints: the size from the
// "Screen 0: ... current W x H" line, the refresh from the mode marked "*".
std::optional<ScreenMode> ParseXrandrCurrent(const QByteArray& text);

} // namespace tarvina::platform
