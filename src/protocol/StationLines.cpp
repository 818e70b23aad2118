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
