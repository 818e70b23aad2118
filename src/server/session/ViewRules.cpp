#include "server/session/ViewRules.h"

#include "common/DateTime.h"
#include "server/computers/TCompItem.h"
#include "server/net/StationConnection.h"

#include <QRegularExpression>

namespace tarvina::server {

bool IsVersionText(const QString& text) {
    // Anchored at both ends: "$" alone would let a final line break in.
    static const QRegularExpression kShape(QRegularExpression::anchoredPattern(
        QStringLiteral("V \\d{1,5}\\.\\d{1,5} \\(B \\d{1,5}\\.\\d{1,5}\\)")));
    return kShape.match(text).hasMatch();
}

ActionStates UpdateActions(const ActionInput& in) {
    ActionStates a;
    if (!in.hasRecord)
        return a;
    ActionFacts f;
    f.state = in.record.state;
    f.hasMessages = in.record.hasMessages;
    f.knownVersion = IsVersionText(in.record.versionText);
    // Versions compare as texts (ordinal), as the stations have always been
    // told apart.
    f.versionOrder = in.record.versionText.compare(QString::fromUtf16(kRemoteVersionText));
    f.versionNumber = in.record.versionNumber;
    f.single = in.selectedCount <= 1;
    f.rowCount = in.rowCount;
    f.amountDue = in.amountDue;
    for (const ComputerAction& action : ComputerActions())
        a.enabled[action.id] = action.enabled(f);
    a.cdRom = f.connected();
    return a;
}

SelectedComputer SelectedFrom(const TCompItem& r) {
    SelectedComputer c;
    c.state = r.state;
    c.hasMessages = !r.messages.isEmpty();
    c.versionText = r.versionText;
    c.versionNumber = static_cast<quint32>(r.versionNumber);
    return c;
}

namespace {

// A station's text inside a tip line: one line, and isolated so that a
// right-to-left name cannot reorder the label before it.
QString Isolated(const QString& text) {
    return QChar(0x2068) + OneLine(text) + QChar(0x2069);
}

} // namespace

QString ComputerTip(const TCompItem& r, double now) {
    QStringList lines;
    lines << Isolated(r.name);
    lines << QStringLiteral("IP: ") + Isolated(r.address);
    lines << QStringLiteral("MAC: ") + Isolated(r.mac);
    lines << StateLabel(r.state);
    if ((r.state & 127) == 2) {
        lines << QStringLiteral("Usuario: ") + Isolated(r.user);
        const qint64 ms = qRound64((r.end - now) * common::DateTime::kMsPerDay);
        lines << QStringLiteral("Resta: ") + common::FormatDuration(QStringLiteral("hh:nn:ss"), ms);
        lines << QStringLiteral("PIN: ") + Isolated(r.pin);
    }
    lines << QStringLiteral("Versión: ") + Isolated(r.versionText);
    if (r.connection && r.connection->plainBesideEncrypted())
        lines << QStringLiteral("Conexión sin cifrar");
    return lines.join(QStringLiteral("\r\n"));
}

qint64 WindowsColourToRgb(qint32 value) {
    const quint32 v = static_cast<quint32>(value);
    if ((v & 0xFF000000u) != 0)
        return -1;
    const quint32 r = v & 0xFF, g = (v >> 8) & 0xFF, b = (v >> 16) & 0xFF;
    return static_cast<qint64>((r << 16) | (g << 8) | b);
}

qint64 RowBackground(const RowColours& c, int state) {
    switch (state & 127) {
    case 0:
        return WindowsColourToRgb(c.desc);
    case 1:
        return WindowsColourToRgb(c.block);
    case 2:
        return WindowsColourToRgb(c.use);
    case 4:
        return WindowsColourToRgb(c.wait);
    default:
        return -1;
    }
}

quint32 RowForeground(bool attention) {
    return attention ? 0x0000FFu : 0x000000u;
}

int DockSideFor(int x, int y, int width, int height) {
    if (width <= 0 || height <= 0)
        return 1;
    if ((x <= 4 || x >= width - 4) && y < height / 2)
        return 1;
    // Offsets as fractions of the area: the main diagonal is py = px, the
    // other py = 1 - px.
    const double px = static_cast<double>(x) / width;
    const double py = static_cast<double>(y) / height;
    const bool aboveMain = py < px;
    const bool aboveOther = py < 1.0 - px;
    if (aboveMain && aboveOther)
        return 1;
    if (!aboveMain && !aboveOther)
        return 2;
    return aboveOther ? 3 : 4;
}

int CompareCellTexts(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive);
}

QString OneLine(const QString& text) {
    QString out = text;
    for (QChar& c : out) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0) || u == 0x2028 || u == 0x2029)
            c = QChar(0xFFFD);
    }
    return out;
}

} // namespace tarvina::server
