#include "client/station/StationView.h"

#include <QThread>

namespace tarvina::client {

void StationView::setStatus(const QString& text) {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, text] { setStatus(text); }, Qt::QueuedConnection);
        return;
    }
    display_.statusText = text;
    changed();
}

void StationView::setStatus(Txt id) {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, id] { setStatus(texts_.get(id)); }, Qt::QueuedConnection);
        return;
    }
    setStatus(texts_.get(id));
}

} // namespace tarvina::client
