#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace tarvina::test {

// How long a test waits for something that should happen at once: long,
// because the machine that runs the tests is often busy with other builds.
inline constexpr int kWaitMs = 30000;

// Looks at `done` every few milliseconds until it holds or `limitMs` has
// passed; the calling thread's events run in between when it is the
// application's thread. True when `done` held.
template <typename Done> bool WaitUntil(Done&& done, int limitMs = kWaitMs) {
    const QDeadlineTimer deadline(limitMs);
    for (;;) {
        if (done())
            return true;
        if (deadline.hasExpired())
            return false;
        const QCoreApplication* app = QCoreApplication::instance();
        if (app && app->thread() == QThread::currentThread())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(5);
    }
}

} // namespace tarvina::test
