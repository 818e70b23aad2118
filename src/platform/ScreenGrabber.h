#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace tarvina::platform {

// The pixels of a screen: rows from the top, each pixel four bytes in the
// order blue, green, red, unused (the layout a bitmap file keeps, so that
// encoding is a copy of three of the four bytes).
struct ScreenImage {
    int width = 0;
    int height = 0;
    // Bits per pixel of the display (1, 4, 8, 15, 16, 24 or 32).
    int depth = 24;
    QByteArray pixels; // width * height * 4 bytes

    bool valid() const {
        return width > 0 && height > 0 &&
               pixels.size() == static_cast<qsizetype>(width) * height * 4;
    }
};

// One square of a copy of the screen, in screen pixels.
struct ScreenSquare {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The screen is copied in squares of `side` pixels, column by column from the
// left, each column from the top; the squares at the right and bottom edges
// are cut to the screen. Empty for a screen without pixels.
QList<ScreenSquare> SquarePlan(int width, int height, int side = 50);

// Photographs the whole primary screen as the customer sees it.
class ScreenGrabber {
public:
    virtual ~ScreenGrabber() = default;
    // nullopt with a Spanish reason when the screen could not be read.
    virtual std::optional<ScreenImage> grab(QString* error) = 0;
};

} // namespace tarvina::platform
