#include "platform/DisplayModes.h"

#include <QList>
#include <QRegularExpression>

namespace tarvina::platform {

std::optional<ScreenMode> ParseXrandrCurrent(const QByteArray& text) {
    static const QRegularExpression screen(QStringLiteral("current (\\d+) x (\\d+)"));
    const QString all = QString::fromLocal8Bit(text.left(256 * 1024));
    const auto m = screen.match(all);
    if (!m.hasMatch())
        return std::nullopt;
    ScreenMode mode;
    mode.width = m.captured(1).toInt();
    mode.height = m.captured(2).toInt();
    if (mode.width <= 0 || mode.height <= 0)
        return std::nullopt;
    // A mode line: "   1920x1080     60.00*+  50.00"; the rate in use has "*".
    static const QRegularExpression rate(QStringLiteral("(\\d+(?:\\.\\d+)?)\\*"));
    for (const QString& line : all.split(u'\n')) {
        if (!line.startsWith(u' '))
            continue;
        const auto r = rate.match(line);
        if (r.hasMatch()) {
            mode.refresh = r.captured(1).toDouble();
            break;
        }
    }
    return mode;
}

} // namespace tarvina::platform
