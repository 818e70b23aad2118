#pragma once

#include <QByteArray>

namespace tarvina::server {

class StationReports;

// A line received from a station (without CR LF) becomes one call on
// StationReports, its payload decoded and bounded here once. Only parsing
// happens here: no lock, no socket, no state between lines. What follows a
// line on the stream (a block, further lines) is read by its handler.
//
// The handler of each code is bound through the code table: a code added to
// the table without its handler does not compile.
class ReportDispatcher {
public:
    explicit ReportDispatcher(StationReports& reports) : reports_(reports) {}
    void Dispatch(const QByteArray& line);

private:
    StationReports& reports_;
};

} // namespace tarvina::server
