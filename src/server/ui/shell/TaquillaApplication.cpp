#include "server/ui/shell/TaquillaApplication.h"

#include <QMetaObject>
#include <exception>

namespace tarvina::server {

TaquillaApplication::TaquillaApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TaquillaApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        report(receiver, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        report(receiver, QStringLiteral("error desconocido"));
    }
    return false;
}

void TaquillaApplication::report(QObject* receiver, const QString& text) {
    // The handler's own box runs events; an error inside it is not reported
    // again (that would never end).
    if (reporting_ || !handler_)
        return;
    reporting_ = true;
    const QString sender = receiver && receiver->metaObject()
                               ? QString::fromLatin1(receiver->metaObject()->className())
                               : QString();
    try {
        handler_(sender, text);
    } catch (...) {
    }
    reporting_ = false;
}

} // namespace tarvina::server
