#pragma once

#include "platform/ScreenGrabber.h"

#include <QByteArray>

namespace tarvina::client {

// A picture of the screen as a Windows bitmap file: the 14-byte file header,
// the 40-byte bitmap header, no colour table, then the rows from the bottom
// up, each padded to four bytes. A display of 32 bits is written with 32 bits
// per pixel, every other one with 24 (blue, green, red). Empty for an image
// without pixels or one whose file would not fit the header's 32-bit size.
QByteArray EncodeBmp(const platform::ScreenImage& image);

// Bytes of the bitmap file EncodeBmp writes for such an image; 0 when it
// cannot be written.
qint64 BmpFileSize(int width, int height, int depth);

} // namespace tarvina::client
