#include "protocol/StationLines.h"

#include "protocol/Codes.h"
#include "protocol/DateTimeText.h"
#include "protocol/Fields.h"
#include "protocol/Line.h"

#include <algorithm>

namespace tarvina::protocol::station {

QByteArray Identify(QByteArrayView computerName) {
    return FormatToServer(ts::Identify, computerName);
}

QByteArray StatusReport(const Status& s) {
    QByteArray p = QByteArray::number(s.state);
    p += ',' + s.user;
    p += ',' + FormatDateTimeNumber(s.daysLeft);
    p += ',' + FormatDateTimeNumber(s.start);
    p += ',' + s.tag;
    p += ',' + s.computer;
    p += ',' + s.version;
    return FormatToServer(ts::StatusReport, p);
}

QByteArray SessionStarted(QByteArrayView user) {
    return FormatToServer(ts::SessionStarted, user);
}

QByteArray TimeRequest(QByteArrayView minutes) {
    return FormatToServer(ts::TimeRequest, minutes);
}

QByteArray TimeAdded(QByteArrayView user) {
    return FormatToServer(ts::TimeAdded, user);
}

QByteArray ClientMessage(QByteArrayView text) {
    return FormatToServer(ts::ClientMessage, text);
}

QByteArray FreeMessageHead() {
    return FormatToServer(ts::FreeMessage);
}

QByteArray CdList(QByteArrayView letters) {
    return FormatToServer(ts::CdList, letters);
}

QByteArray VolumeReport(quint16 left, quint16 right) {
    return FormatToServer(ts::VolumeReport, FormatHex(left, 4) + FormatHex(right, 4));
}

QByteArray VolumeFailed() {
    return FormatToServer(ts::VolumeReport, "failed");
}

QByteArray PinEntered(QByteArrayView pin) {
    return FormatToServer(ts::PinEntered, pin);
}

QByteArray CurrentPin(QByteArrayView pin) {
    return FormatToServer(ts::CurrentPin, pin);
}

QByteArray TransparencyReport(int alpha) {
    return FormatToServer(ts::TransparencyReport,
                          FormatHex(static_cast<quint32>(std::clamp(alpha, 0, 255)), 2));
}

QByteArray TaskListTagged(quint32 window, const QList<QByteArray>& tasks) {
    return FormatToServer(ts::TaskListTagged, FormatHex(window, 8) + JoinCommaList(tasks));
}

QByteArray MacReport(QByteArrayView mac) {
    return FormatToServer(ts::MacReport, mac);
}

QByteArray PinAssigned(QByteArrayView pin) {
    return FormatToServer(ts::PinAssigned, pin);
}

QByteArray LogReportHead() {
    return FormatToServer(ts::LogReport);
}

QByteArray AccountQuery() {
    return FormatToServer(ts::AccountQuery);
}

QByteArray AccountState(qint64 minutes, QByteArrayView amountText) {
    return FormatToClient(tc::AccountState, QByteArray::number(std::max<qint64>(minutes, 0)) + ',' +
                                                ToHexText(amountText.first(
                                                    std::min<qsizetype>(amountText.size(), 64))));
}

std::optional<AccountAnswer> ParseAccountState(QByteArrayView payload) {
    const qsizetype comma = payload.indexOf(',');
    if (comma < 1 || comma > 9)
        return std::nullopt;
    bool ok = false;
    const qint64 minutes = payload.first(comma).toLongLong(&ok);
    // At most 64 bytes of text travel.
    const QByteArrayView hex = payload.sliced(comma + 1);
    const auto text = hex.size() <= 128 ? FromHexText(hex) : std::nullopt;
    if (!ok || minutes < 0 || !text)
        return std::nullopt;
    return AccountAnswer{minutes, *text};
}

QByteArray TaskList(QByteArrayView commaList) {
    return FormatToServer(ts::TaskList, commaList);
}

QByteArray ScreenHead() {
    return FormatToServer(ts::Screen);
}

QByteArray ConfigReportHead() {
    return FormatToServer(ts::ConfigReport);
}

} // namespace tarvina::protocol::station
