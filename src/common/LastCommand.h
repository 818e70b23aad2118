#pragma once

#include <QMutex>
#include <QString>

namespace tarvina::common {

// The label of the operation last begun, written into the exception logs.
// Any thread may set it while another reads it.
class LastCommand {
public:
    explicit LastCommand(QString initial = QStringLiteral("iniciando"))
        : text_(std::move(initial)) {}
    LastCommand(const LastCommand&) = delete;
    LastCommand& operator=(const LastCommand&) = delete;

    void set(QString text) {
        QMutexLocker lock(&mutex_);
        text_ = std::move(text);
    }
    QString get() const {
        QMutexLocker lock(&mutex_);
        return text_;
    }

private:
    mutable QMutex mutex_;
    QString text_;
};

} // namespace tarvina::common
