#include "platform/linux/LogindPower.h"

#include <QDBusMessage>
#include <QDBusObjectPath>

namespace tarvina::platform {

namespace {
const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSession = QStringLiteral("org.freedesktop.login1.Session");
} // namespace

LogindPower::LogindPower(QDBusConnection bus, QString sessionId, int timeoutMs)
    : bus_(std::move(bus)), sessionId_(std::move(sessionId)), timeoutMs_(timeoutMs) {
    if (sessionId_.isEmpty())
        sessionId_ = qEnvironmentVariable("XDG_SESSION_ID");
    if (sessionId_.isEmpty())
        sessionId_ = QStringLiteral("auto");
}

bool LogindPower::callManager(const QString& method, const QVariantList& args) {
    if (!bus_.isConnected()) {
        lastError_ = QStringLiteral("sin conexión al bus del sistema");
        return false;
    }
    QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kManager, method);
    m.setArguments(args);
    const QDBusMessage reply = bus_.call(m, QDBus::Block, timeoutMs_);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        lastError_ = reply.errorName() + QStringLiteral(": ") + reply.errorMessage();
        return false;
    }
    return true;
}

bool LogindPower::powerOff() {
    return callManager(QStringLiteral("PowerOff"), {false});
}

bool LogindPower::reboot() {
    return callManager(QStringLiteral("Reboot"), {false});
}

bool LogindPower::logOff() {
    if (!bus_.isConnected()) {
        lastError_ = QStringLiteral("sin conexión al bus del sistema");
        return false;
    }
    QDBusMessage get =
        QDBusMessage::createMethodCall(kService, kPath, kManager, QStringLiteral("GetSession"));
    get.setArguments({sessionId_});
    const QDBusMessage path = bus_.call(get, QDBus::Block, timeoutMs_);
    if (path.type() == QDBusMessage::ErrorMessage || path.arguments().isEmpty()) {
        lastError_ = path.errorName() + QStringLiteral(": ") + path.errorMessage();
        return false;
    }
    const QString object = path.arguments().first().value<QDBusObjectPath>().path();
    if (object.isEmpty()) {
        lastError_ = QStringLiteral("sesión desconocida: ") + sessionId_;
        return false;
    }
    const QDBusMessage end = bus_.call(
        QDBusMessage::createMethodCall(kService, object, kSession, QStringLiteral("Terminate")),
        QDBus::Block, timeoutMs_);
    if (end.type() == QDBusMessage::ErrorMessage) {
        lastError_ = end.errorName() + QStringLiteral(": ") + end.errorMessage();
        return false;
    }
    return true;
}

} // namespace tarvina::platform
