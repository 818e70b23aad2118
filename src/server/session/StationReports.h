#pragma once

#include "protocol/Codes.h"
#include "server/computers/ComputerState.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace tarvina::server {

// What each station report carries once its line is decoded: one type per
// station-to-server code, named as the code. Texts are decoded from
// Windows-1252 and bounded by the dispatcher; handlers take them as they are.
namespace report {

struct Identify {
    QString name; // at most 255 characters
};
// "R02" + state digit + "," + the comma fields, which start at the sixth
// character of the line; at most 255 characters of them are read.
struct StatusReport {
    StationState state = StationState::Disconnected; // any digit; 0 when not a digit
    QString user;
    std::optional<double> timeLeft; // days; none when not a finite number
    std::optional<double> start;    // date-time of the session's start, likewise
    QString name;                   // empty: the record keeps its name
    QString version;
    qint32 versionNumber = 0; // derived from the version text
};
struct SessionStarted {
    QString user;
};
struct TimeRequest {
    QString minutes;
};
struct TimeAdded {};
// The whole payload as bytes: the task window splits the list before it
// decodes each caption.
struct TaskList {
    QByteArray captions;
};
// The blocks that follow Screen and FreeMessage are read by their handlers;
// the line is what their failures quote.
struct Screen {
    QString line;
};
struct ClientMessage {
    QString text;
};
struct FreeMessage {
    QString line;
};
struct ConfigReport {};
struct CdList {
    QString drives;
};
// Four hexadecimal digits per side, or "failed" in any case.
struct VolumeReport {
    bool failed = false;
    std::optional<quint32> left, right;
    QString invalid; // the first side that is not four hexadecimal digits, as it came
};
struct PinEntered {
    QString pin;
};
struct CurrentPin {
    QString pin; // 6 characters at most
};
struct TransparencyReport {
    int alpha = 255; // 255 when not two hexadecimal digits
};
// Not handled: the console names it as it names a line outside the table.
struct TaskListTagged {
    QString unknownText;
};
struct MacReport {
    QString mac; // 17 characters at most
};
struct PinAssigned {
    QString code; // 6 characters at most
};
struct LogReport {};
// The customer asks what the use has cost so far.
struct AccountQuery {};

} // namespace report

// What a station can report to the server, one call per code of the table
// with its payload decoded (see report:: above). ReportDispatcher calls
// these on the connection's thread; a code added to the table without its
// type above and its handler does not compile.
class StationReports {
public:
    virtual ~StationReports() = default;

    // Every line, before its report: the line as the console names it
    // (decoded, at most 255 characters).
    virtual void onLine(const QString& line) = 0;

#define TARVINA_REPORT_HANDLER(name, number, follows)                                              \
    virtual void on##name(const report::name&) = 0;
    TARVINA_TO_SERVER_CODES(TARVINA_REPORT_HANDLER)
#undef TARVINA_REPORT_HANDLER

    // A line without a code of the table: the console's text for it.
    virtual void onUnknown(const QString& text) = 0;
};

} // namespace tarvina::server
