#pragma once

#include "platform/Clock.h"

#include <QString>
#include <QtGlobal>
#include <functional>

namespace tarvina::server {

class HandOff;
struct TCompItem;

// How many console lines one connection may show: a burst, then a steady
// rate. Lines beyond it are counted, never queued, so a station that sends
// nothing but unknown lines costs the operator's console a line a second.
// Pure arithmetic on a steady millisecond clock the caller passes in.
class ConsoleRate {
public:
    static constexpr int kPerSecond = 20;
    static constexpr int kBurst = 40;
    // Omitted lines are summed up at most this often.
    static constexpr qint64 kSummaryEveryMs = 1000;

    explicit ConsoleRate(qint64 nowMs);

    // True when a line may be shown now; otherwise it is counted.
    bool admit(qint64 nowMs);
    // The lines counted since the last summary when one is due (a second
    // after the first of them, or at once with `force`); 0 otherwise. The
    // count starts again from zero.
    qint64 takeOmitted(qint64 nowMs, bool force = false);
    qint64 omitted() const { return omitted_; }

private:
    qint64 tokens_; // thousandths of a line
    qint64 lastMs_;
    qint64 omitted_ = 0;
    qint64 omittedSinceMs_ = 0;
};

// The console allowance of the connection whose thread is running. While one
// is installed on a thread, ServerContext::console from that thread goes
// through it; the UI thread has none, so the operator's own actions are never
// held back.
class ConnectionConsole {
public:
    // name: how the summary line names the station (its display name, or the
    // peer's address while it has none).
    ConnectionConsole(platform::Clock& clock, HandOff& handoff, std::function<QString()> name);
    ~ConnectionConsole();
    ConnectionConsole(const ConnectionConsole&) = delete;
    ConnectionConsole& operator=(const ConnectionConsole&) = delete;

    // The one installed on this thread, or none.
    static ConnectionConsole* current();

    // Posts the line when the rate allows it, after the summary of what was
    // omitted when one is due.
    void show(TCompItem* record, const QString& text);
    // Posts the summary now if lines were omitted (at the connection's end,
    // or when it has gone quiet).
    void flush(TCompItem* record);
    bool hasOmitted() const { return rate_.omitted() > 0; }

    // "… líneas de <name> omitidas", the count in place of the dots ("1 línea
    // de <name> omitida" for one).
    static QString SummaryText(qint64 count, const QString& name);

private:
    void postSummary(TCompItem* record, qint64 count);

    platform::Clock& clock_;
    HandOff& handoff_;
    std::function<QString()> name_;
    ConsoleRate rate_;
    ConnectionConsole* previous_;
};

} // namespace tarvina::server
