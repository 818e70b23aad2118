#include "server/session/ReportDispatcher.h"

#include "common/Cp1252.h"
#include "protocol/Codes.h"
#include "protocol/DateTimeText.h"
#include "protocol/Fields.h"
#include "protocol/Line.h"
#include "server/session/StationReports.h"

#include <algorithm>
#include <array>

namespace tarvina::server {

namespace {

namespace p = tarvina::protocol;
using common::FromCp1252;

// One received line as the decoders see it.
struct Received {
    const p::ServerSideLine& parsed;
    const QString& line; // decoded, at most kMaxPayload characters
    // The payload's first kMaxPayload bytes, the bound of most reports.
    QByteArray limited() const { return p::LimitPayload(parsed.payload); }
};

// The console's text for a line that no handler takes.
QString UnknownText(const p::ServerSideLine& parsed) {
    return FromCp1252(p::UnknownCommandText(parsed));
}

// --- one decoder per code of the table --------------------------------------

report::Identify DecodeIdentify(const Received& in) {
    return {FromCp1252(in.limited())};
}

report::StatusReport DecodeStatusReport(const Received& in) {
    const QByteArray& payload = in.parsed.payload;
    report::StatusReport r;
    const char digit = payload.isEmpty() ? '0' : payload.at(0);
    if (digit >= '0' && digit <= '9')
        r.state = static_cast<StationState>(digit - '0');
    // The state digit's comma is at a fixed place: the fields proper start
    // after it, and the bound counts from there.
    const QByteArray fields =
        p::LimitPayload(QByteArrayView(payload).sliced(std::min<qsizetype>(2, payload.size())));
    r.user = FromCp1252(p::CommaField(fields, 1));
    r.timeLeft = p::ParseDateTimeNumber(p::CommaField(fields, 2));
    r.start = p::ParseDateTimeNumber(p::CommaField(fields, 3));
    r.name = FromCp1252(p::CommaField(fields, 5));
    const QByteArray version = p::CommaField(fields, 6);
    r.version = FromCp1252(version);
    r.versionNumber = static_cast<qint32>(p::VersionNumber(version));
    return r;
}

report::SessionStarted DecodeSessionStarted(const Received& in) {
    return {FromCp1252(in.limited())};
}

report::TimeRequest DecodeTimeRequest(const Received& in) {
    return {FromCp1252(in.limited())};
}

report::TimeAdded DecodeTimeAdded(const Received&) {
    return {};
}

report::TaskList DecodeTaskList(const Received& in) {
    return {in.parsed.payload};
}

report::Screen DecodeScreen(const Received& in) {
    return {in.line};
}

report::ClientMessage DecodeClientMessage(const Received& in) {
    return {FromCp1252(in.limited())};
}

report::FreeMessage DecodeFreeMessage(const Received& in) {
    return {in.line};
}

report::ConfigReport DecodeConfigReport(const Received&) {
    return {};
}

report::CdList DecodeCdList(const Received& in) {
    return {FromCp1252(in.limited())};
}

report::VolumeReport DecodeVolumeReport(const Received& in) {
    const QByteArray& payload = in.parsed.payload;
    report::VolumeReport r;
    r.failed = payload.left(6).toUpper() == "FAILED";
    const QByteArray left = payload.mid(0, 4), right = payload.mid(4, 4);
    r.left = left.size() == 4 ? p::ParseHex(left) : std::nullopt;
    r.right = right.size() == 4 ? p::ParseHex(right) : std::nullopt;
    if (!r.left || !r.right)
        r.invalid = FromCp1252(r.left ? right : left);
    return r;
}

report::PinEntered DecodePinEntered(const Received& in) {
    return {FromCp1252(in.limited())};
}

// A code is six characters.
report::CurrentPin DecodeCurrentPin(const Received& in) {
    return {FromCp1252(in.parsed.payload.left(6))};
}

report::TransparencyReport DecodeTransparencyReport(const Received& in) {
    const QByteArray hex = in.parsed.payload.left(2);
    const auto v = hex.size() == 2 ? p::ParseHex(hex) : std::nullopt;
    return {v ? static_cast<int>(*v) : 255};
}

report::TaskListTagged DecodeTaskListTagged(const Received& in) {
    return {UnknownText(in.parsed)};
}

// A MAC address in its text form is 17 characters.
report::MacReport DecodeMacReport(const Received& in) {
    return {FromCp1252(in.parsed.payload.left(17))};
}

report::PinAssigned DecodePinAssigned(const Received& in) {
    return {FromCp1252(in.parsed.payload.left(6))};
}

report::AccountQuery DecodeAccountQuery(const Received&) {
    return {};
}

report::LogReport DecodeLogReport(const Received&) {
    return {};
}

// --- the binding ------------------------------------------------------------

using Handler = void (*)(StationReports&, const Received&);

// Every station-to-server code of the table with its decoder and handler; a
// row without a Decode<Name> above or an on<Name> in StationReports stops
// the build here.
constexpr std::array<Handler, 256> BuildHandlers() {
    std::array<Handler, 256> table{};
#define TARVINA_BIND_REPORT(name, number, follows)                                                 \
    table[number] = [](StationReports& reports, const Received& in) {                              \
        reports.on##name(Decode##name(in));                                                        \
    };
    TARVINA_TO_SERVER_CODES(TARVINA_BIND_REPORT)
#undef TARVINA_BIND_REPORT
    return table;
}

constexpr std::array<Handler, 256> kHandlers = BuildHandlers();

} // namespace

void ReportDispatcher::Dispatch(const QByteArray& line) {
    const p::ServerSideLine parsed = p::ParseAtServer(line);
    const QString text = FromCp1252(p::LimitPayload(line));
    reports_.onLine(text);
    // The code is -1 when the line does not start with "R" and two
    // hexadecimal digits.
    const Handler handler = parsed.code >= 0 && parsed.code < 256
                                ? kHandlers[static_cast<size_t>(parsed.code)]
                                : nullptr;
    if (handler == nullptr) {
        reports_.onUnknown(UnknownText(parsed));
        return;
    }
    handler(reports_, Received{parsed, text});
}

} // namespace tarvina::server
