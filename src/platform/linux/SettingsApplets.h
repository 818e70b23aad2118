#pragma once

#include "platform/ControlPanel.h"

#include <QStringList>

namespace tarvina::platform {

// The desktop's settings programs: the desktop entries (".desktop" files) of
// the applications folders whose categories include "Settings", named by
// file name, described by their Spanish name (else their name). A file of an
// earlier folder hides one of the same name in a later folder, as menus do;
// hidden entries are left out. At most 500 entries, files up to 64 KB.
QList<ControlApplet> ListSettingsApplets(const QStringList& applicationFolders);

// $XDG_DATA_HOME/applications, then each $XDG_DATA_DIRS/applications.
QStringList ApplicationFolders();

} // namespace tarvina::platform
