#pragma once

#include <QPixmap>
#include <QString>

namespace tarvina::server::ui {

// The picture tiled behind the computers view's tool bar. ConvertToolBarWallPaper
// reads the file ToolBarWallPaper names (by its extension: JPEG, GIF, icon,
// or a bitmap; metafiles have no reader here and are refused) and saves it
// as "fondo.bmp" in the program folder; false when the file is missing or
// cannot be read or written. LoadToolBarPicture reads "fondo.bmp" (a null
// pixmap when there is none).
bool ConvertToolBarWallPaper(const QString& source, const QString& programFolder);
QPixmap LoadToolBarPicture(const QString& programFolder);

} // namespace tarvina::server::ui
