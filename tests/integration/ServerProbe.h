#pragma once

// What the loopback tests look at in a running station server: its records
// by name, and waits that let the UI thread's hand-off run meanwhile.

#include "server/shell/ServerCore.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <functional>

namespace tarvina::server::test {

inline TCompItem* RecordNamed(ServerCore& core, const QString& name) {
    ComputersGuard g(core.registry().lock());
    for (int i = 0; i < core.registry().rowCount(); ++i)
        if (core.registry().recordAt(i)->name == name)
            return core.registry().recordAt(i);
    return nullptr;
}

// Waits until pred holds, applying what the connection threads posted
// before each look, as the UI thread's idle pass would.
inline bool WaitDrained(ServerCore& core, const std::function<bool()>& pred, int ms) {
    const QDeadlineTimer deadline(ms);
    for (;;) {
        core.drainHandOff();
        if (pred())
            return true;
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

} // namespace tarvina::server::test
