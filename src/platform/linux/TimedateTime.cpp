#include "platform/linux/TimedateTime.h"

#include <QDBusMessage>

namespace tarvina::platform {

TimedateTime::TimedateTime(QDBusConnection bus, int timeoutMs)
    : bus_(std::move(bus)), timeoutMs_(timeoutMs) {}

bool TimedateTime::setLocalTime(const common::DateTime& when, QString* error) {
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    // The server's time is the room's local time; timedated takes UTC.
    const QDateTime local = when.toQDateTime();
    if (!local.isValid())
        return fail(QStringLiteral("fecha no válida"));
    if (!bus_.isConnected())
        return fail(QStringLiteral("sin conexión al bus del sistema"));
    QDBusMessage m = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.timedate1"), QStringLiteral("/org/freedesktop/timedate1"),
        QStringLiteral("org.freedesktop.timedate1"), QStringLiteral("SetTime"));
    m.setArguments(
        {QVariant::fromValue<qlonglong>(local.toMSecsSinceEpoch() * 1000), false, false});
    const QDBusMessage reply = bus_.call(m, QDBus::Block, timeoutMs_);
    if (reply.type() == QDBusMessage::ErrorMessage)
        return fail(reply.errorName() + QStringLiteral(": ") + reply.errorMessage());
    return true;
}

} // namespace tarvina::platform
