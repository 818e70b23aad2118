// Qt is not built with ThreadSanitizer: the lock of its event queues is
// invisible to it, so an object built on one thread and handed to another
// through a queued call (the slot object of invokeMethod, the arguments of
// a queued signal) looks like a race although Qt's lock orders the two
// threads. The test programs tell the sanitizer about that lock here: every
// post from our code releases it, every event delivered acquires it. Only
// the queue hand-off is modelled; everything our code shares by other means
// is still checked.
#include "support/TsanQtBridge.h"

#if defined(__SANITIZE_THREAD__)

#include <QMetaObject>
#include <QTimer>
#include <dlfcn.h>
#include <sanitizer/tsan_interface.h>

namespace {

// Stands for the queues' lock: one address for every queue, as a post to any
// thread and the delivery of any event take a lock in Qt.
char queueLock;

void PostBegins() {
    __tsan_release(&queueLock);
}
// A blocking queued call returns after the receiver ran the slot. Any other
// post returns at once: acquiring then would order the poster after calls
// the receiver happened to run meanwhile, and hide races.
void PostEnds(Qt::ConnectionType type) {
    if (type == Qt::BlockingQueuedConnection)
        __tsan_acquire(&queueLock);
}

template <typename F> F Real(const char* symbol) {
    void* f = dlsym(RTLD_NEXT, symbol);
    if (!f)
        qFatal("TsanQtBridge: %s not found in Qt", symbol);
    return reinterpret_cast<F>(f);
}

} // namespace

bool QMetaObject::invokeMethodImpl(QObject* object, QtPrivate::QSlotObjectBase* slot,
                                   Qt::ConnectionType type, void* ret) {
    using Fn = bool (*)(QObject*, QtPrivate::QSlotObjectBase*, Qt::ConnectionType, void*);
    static const Fn real = Real<Fn>("_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlo"
                                    "tObjectBaseEN2Qt14ConnectionTypeEPv");
    PostBegins();
    const bool ok = real(object, slot, type, ret);
    PostEnds(type);
    return ok;
}

void QMetaObject::activate(QObject* sender, const QMetaObject* m, int localSignalIndex,
                           void** argv) {
    using Fn = void (*)(QObject*, const QMetaObject*, int, void**);
    static const Fn real = Real<Fn>("_ZN11QMetaObject8activateEP7QObjectPKS_iPPv");
    PostBegins();
    real(sender, m, localSignalIndex, argv);
}

void QMetaObject::activate(QObject* sender, int signalOffset, int localSignalIndex, void** argv) {
    using Fn = void (*)(QObject*, int, int, void**);
    static const Fn real = Real<Fn>("_ZN11QMetaObject8activateEP7QObjectiiPPv");
    PostBegins();
    real(sender, signalOffset, localSignalIndex, argv);
}

void QTimer::singleShotImpl(int msec, Qt::TimerType timerType, const QObject* receiver,
                            QtPrivate::QSlotObjectBase* slotObj) {
    using Fn = void (*)(int, Qt::TimerType, const QObject*, QtPrivate::QSlotObjectBase*);
    static const Fn real = Real<Fn>(
        "_ZN6QTimer14singleShotImplEiN2Qt9TimerTypeEPK7QObjectPN9QtPrivate15QSlotObjectBaseE");
    PostBegins();
    real(msec, timerType, receiver, slotObj);
}

void QCoreApplication::postEvent(QObject* receiver, QEvent* event, int priority) {
    using Fn = void (*)(QObject*, QEvent*, int);
    static const Fn real = Real<Fn>("_ZN16QCoreApplication9postEventEP7QObjectP6QEventi");
    PostBegins();
    real(receiver, event, priority);
}

namespace tarvina::test {

bool TestCoreApplication::notify(QObject* receiver, QEvent* event) {
    __tsan_acquire(&queueLock);
    const bool handled = QCoreApplication::notify(receiver, event);
    __tsan_release(&queueLock);
    return handled;
}

} // namespace tarvina::test

#endif
