#include "platform/gui/QtWindowSystem.h"

#include <QApplication>
#include <QWidget>

namespace tarvina::platform {

namespace {

// A window the program no longer has (or never had) is found as nothing, so
// every call on it is harmless.
QWidget* Find(WindowId w) {
    return w ? QWidget::find(static_cast<WId>(w)) : nullptr;
}

WindowId IdOf(QWidget* w) {
    return static_cast<WindowId>(w->winId());
}

} // namespace

WindowId QtWindowSystem::foregroundWindow() {
    QWidget* a = QApplication::activeWindow();
    return a ? IdOf(a) : 0;
}

QString QtWindowSystem::windowClass(WindowId w, int maxLength) {
    QWidget* wd = Find(w);
    return wd ? QString::fromLatin1(wd->metaObject()->className()).left(maxLength) : QString();
}

QString QtWindowSystem::windowTitle(WindowId w) {
    QWidget* wd = Find(w);
    return wd ? wd->windowTitle() : QString();
}

std::optional<QList<WindowId>> QtWindowSystem::stackingOrder() {
    // The toolkit keeps no stacking order of its own: the visible windows in
    // creation order stand for it, all of them the program's own.
    QList<WindowId> out;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible())
            out << IdOf(w);
    return out;
}

QList<WindowId> QtWindowSystem::visibleTitledWindows() {
    QList<WindowId> out;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && !w->windowTitle().isEmpty())
            out << IdOf(w);
    return out;
}

bool QtWindowSystem::setForeground(WindowId w) {
    QWidget* wd = Find(w);
    if (!wd)
        return false;
    wd->activateWindow();
    return true;
}

void QtWindowSystem::setTopMost(WindowId w) {
    if (QWidget* wd = Find(w))
        wd->raise();
}

void QtWindowSystem::raise(WindowId w) {
    if (QWidget* wd = Find(w))
        wd->raise();
}

} // namespace tarvina::platform
