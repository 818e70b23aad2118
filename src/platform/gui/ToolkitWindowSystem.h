#pragma once

#include "platform/WindowSystem.h"

#include <QByteArray>
#include <memory>

namespace tarvina::platform {

// The desktop of the display the application runs on: on X11 the real
// desktop, over the toolkit's own connection (so that the lock's grabs
// deliver input to the program's windows); elsewhere (offscreen runs) a
// desktop seen through the toolkit alone. Needs a QGuiApplication.
std::unique_ptr<WindowSystem> MakeToolkitWindowSystem();

// The screen number of an X display name (":0.1" is screen 1; 0 when the
// name gives none or a malformed one).
int ScreenOfDisplay(const QByteArray& display);

} // namespace tarvina::platform
