#pragma once

#include <QColor>
#include <QPalette>

namespace tarvina::server::ui {

// A stored Windows colour value as a colour on screen: 0x00BBGGRR for plain
// colours; the system colours (high bit set) and "Por defecto" take the
// nearest role of the palette.
QColor ColourFromWindows(qint32 value, const QPalette& palette);

} // namespace tarvina::server::ui
