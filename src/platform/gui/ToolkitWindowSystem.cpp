#include "platform/gui/ToolkitWindowSystem.h"

#include "platform/gui/QtWindowSystem.h"
#include "platform/linux/X11WindowSystem.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

namespace tarvina::platform {

std::unique_ptr<WindowSystem> MakeToolkitWindowSystem() {
    // The offscreen platform may answer for X11 too (it can draw through
    // GLX), but the program's windows are not on that display.
    auto* x11 = QGuiApplication::platformName() == u"xcb"
                    ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                    : nullptr;
    if (x11 && x11->connection()) {
        const QByteArray display = qgetenv("DISPLAY");
        return std::make_unique<X11WindowSystem>(x11->connection(), ScreenOfDisplay(display),
                                                 display);
    }
    return std::make_unique<QtWindowSystem>();
}

int ScreenOfDisplay(const QByteArray& display) {
    const qsizetype dot = display.lastIndexOf('.');
    const qsizetype colon = display.lastIndexOf(':');
    if (colon < 0 || dot < colon)
        return 0;
    bool ok = false;
    const int n = display.mid(dot + 1).toInt(&ok);
    return ok && n >= 0 ? n : 0;
}

} // namespace tarvina::platform
