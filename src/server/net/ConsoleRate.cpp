#include "server/net/ConsoleRate.h"

#include "server/net/HandOff.h"

#include <algorithm>

namespace tarvina::server {

namespace {

constexpr qint64 kUnit = 1000; // one line, in thousandths
thread_local ConnectionConsole* tCurrent = nullptr;

} // namespace

ConsoleRate::ConsoleRate(qint64 nowMs) : tokens_(kBurst * kUnit), lastMs_(nowMs) {}

bool ConsoleRate::admit(qint64 nowMs) {
    if (nowMs > lastMs_) {
        // kPerSecond lines per 1000 ms is kPerSecond thousandths per ms.
        tokens_ = std::min<qint64>(kBurst * kUnit, tokens_ + (nowMs - lastMs_) * kPerSecond);
        lastMs_ = nowMs;
    }
    if (tokens_ >= kUnit) {
        tokens_ -= kUnit;
        return true;
    }
    if (omitted_ == 0)
        omittedSinceMs_ = nowMs;
    ++omitted_;
    return false;
}

qint64 ConsoleRate::takeOmitted(qint64 nowMs, bool force) {
    if (omitted_ == 0 || (!force && nowMs - omittedSinceMs_ < kSummaryEveryMs))
        return 0;
    const qint64 n = omitted_;
    omitted_ = 0;
    return n;
}

ConnectionConsole::ConnectionConsole(platform::Clock& clock, HandOff& handoff,
                                     std::function<QString()> name)
    : clock_(clock), handoff_(handoff), name_(std::move(name)), rate_(clock.steadyMs()),
      previous_(tCurrent) {
    tCurrent = this;
}

ConnectionConsole::~ConnectionConsole() {
    tCurrent = previous_;
}

ConnectionConsole* ConnectionConsole::current() {
    return tCurrent;
}

QString ConnectionConsole::SummaryText(qint64 count, const QString& name) {
    if (count == 1)
        return QStringLiteral("1 línea de %1 omitida").arg(name);
    return QStringLiteral("%1 líneas de %2 omitidas").arg(count).arg(name);
}

void ConnectionConsole::postSummary(TCompItem* record, qint64 count) {
    if (count > 0)
        handoff_.post({UiEvent::Kind::Console, record, SummaryText(count, name_())});
}

void ConnectionConsole::show(TCompItem* record, const QString& text) {
    const qint64 now = clock_.steadyMs();
    postSummary(record, rate_.takeOmitted(now));
    if (rate_.admit(now))
        handoff_.post({UiEvent::Kind::Console, record, text});
}

void ConnectionConsole::flush(TCompItem* record) {
    postSummary(record, rate_.takeOmitted(clock_.steadyMs(), true));
}

} // namespace tarvina::server
