#include "platform/linux/XrandrDisplayModes.h"

#include <QProcess>

namespace tarvina::platform {

namespace {
constexpr int kWaitMs = 5000;
} // namespace

XrandrDisplayModes::XrandrDisplayModes(QString program) : program_(std::move(program)) {}

std::optional<ScreenMode> XrandrDisplayModes::current() {
    QProcess p;
    p.start(program_, {QStringLiteral("--current")});
    if (!p.waitForFinished(kWaitMs) || p.exitStatus() != QProcess::NormalExit ||
        p.exitCode() != 0) {
        p.kill();
        p.waitForFinished(1000);
        return std::nullopt;
    }
    return ParseXrandrCurrent(p.readAllStandardOutput());
}

bool XrandrDisplayModes::set(const ScreenMode& mode, QString* error) {
    QStringList args{QStringLiteral("-s"),
                     QStringLiteral("%1x%2").arg(mode.width).arg(mode.height)};
    if (mode.refresh > 0)
        args << QStringLiteral("-r") << QString::number(mode.refresh, 'f', 2);
    QProcess p;
    p.start(program_, args);
    const bool done = p.waitForFinished(kWaitMs);
    if (!done) {
        p.kill();
        p.waitForFinished(1000);
    }
    if (done && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        return true;
    if (error)
        *error = QStringLiteral("No se pudo restablecer la resolución %1x%2: ")
                     .arg(mode.width)
                     .arg(mode.height) +
                 QString::fromLocal8Bit(p.readAllStandardError().left(200)).trimmed();
    return false;
}

} // namespace tarvina::platform
