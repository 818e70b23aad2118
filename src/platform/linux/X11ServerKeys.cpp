#include "platform/linux/X11ServerKeys.h"

#include <QProcess>
#include <QRegularExpression>

namespace tarvina::platform {

namespace {

// A keymap of a real keyboard is about 60 KB; anything far larger is not one.
constexpr qint64 kMaxKeymap = 4 * 1024 * 1024;
constexpr int kToolTimeoutMs = 5000;

const QRegularExpression& ServerAction() {
    // SwitchScreen(screen=1,!same), Terminate(), Private(type=0x86,data[0]=...)
    static const QRegularExpression re(
        QStringLiteral(R"(\b(SwitchScreen|Terminate|Private)\s*\([^()]*\))"));
    return re;
}

} // namespace

X11ServerKeys::X11ServerKeys(QByteArray displayName, QString tool)
    : displayName_(std::move(displayName)), tool_(std::move(tool)) {}

QString X11ServerKeys::display() const {
    const QByteArray d = displayName_.isEmpty() ? qgetenv("DISPLAY") : displayName_;
    return QString::fromLocal8Bit(d);
}

QByteArray X11ServerKeys::Disarm(const QByteArray& keymap) {
    QString text = QString::fromLatin1(keymap);
    text.replace(ServerAction(), QStringLiteral("NoAction()"));
    return text.toLatin1();
}

int X11ServerKeys::ServerActions(const QByteArray& keymap) {
    int n = 0;
    auto it = ServerAction().globalMatch(QString::fromLatin1(keymap));
    while (it.hasNext()) {
        it.next();
        ++n;
    }
    return n;
}

QByteArray X11ServerKeys::readKeymap() const {
    const QString d = display();
    if (d.isEmpty())
        return {};
    QProcess p;
    p.start(tool_, {QStringLiteral("-w"), QStringLiteral("0"), QStringLiteral("-xkb"), d,
                    QStringLiteral("-")});
    if (!p.waitForStarted(kToolTimeoutMs))
        return {};
    QByteArray out;
    bool tooLong = false;
    while (p.state() != QProcess::NotRunning || p.bytesAvailable() > 0) {
        if (p.bytesAvailable() == 0 && !p.waitForReadyRead(kToolTimeoutMs))
            break;
        out += p.readAllStandardOutput();
        if (out.size() > kMaxKeymap) {
            tooLong = true;
            p.kill();
            break;
        }
    }
    p.waitForFinished(kToolTimeoutMs);
    if (tooLong || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {};
    if (!out.contains("xkb_keymap"))
        return {};
    return out;
}

bool X11ServerKeys::loadKeymap(const QByteArray& keymap) const {
    const QString d = display();
    if (d.isEmpty() || keymap.isEmpty())
        return false;
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    p.start(tool_, {QStringLiteral("-w"), QStringLiteral("0"), QStringLiteral("-"), d});
    if (!p.waitForStarted(kToolTimeoutMs))
        return false;
    p.write(keymap);
    p.closeWriteChannel();
    if (!p.waitForFinished(kToolTimeoutMs)) {
        p.kill();
        p.waitForFinished(kToolTimeoutMs);
        return false;
    }
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool X11ServerKeys::block() {
    if (blocked())
        return true;
    const QByteArray current = readKeymap();
    if (current.isEmpty())
        return false;
    if (ServerActions(current) == 0)
        return true; // nothing to take away (and nothing to put back)
    if (!loadKeymap(Disarm(current)))
        return false;
    saved_ = current;
    return true;
}

bool X11ServerKeys::unblock() {
    if (!blocked())
        return true;
    if (!loadKeymap(saved_))
        return false;
    saved_.clear();
    return true;
}

} // namespace tarvina::platform
