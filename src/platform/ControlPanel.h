#pragma once

#include <QList>
#include <QString>
#include <functional>

namespace tarvina::platform {

// One program of the desktop's settings (a control-panel applet): the file
// that names it and its description, empty when it has none.
struct ControlApplet {
    QString file;
    QString description;
};

// Lists the desktop's settings programs, sorted by file name.
using ControlAppletSource = std::function<QList<ControlApplet>()>;

} // namespace tarvina::platform
