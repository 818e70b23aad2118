#pragma once

#include "common/DateTime.h"

namespace tarvina::client {

class StationLink;
struct StationContext;

// The companion service that guards the station ("ServiceZU"): resumed when
// the station shows, checked once a minute, paused when the station is
// closed with the password. A machine without it is not watched at all.
class CompanionService {
public:
    CompanionService(StationContext& ctx, StationLink& link) : ctx_(ctx), link_(link) {}

    void AtShow();
    void Tick(const common::DateTime& now);
    void PauseForClose();

private:
    bool watched() const;
    // A failure logged once: the same failure every minute would push every
    // other entry out of the small exception log.
    void logOnce(const QString& text);

    StationContext& ctx_;
    StationLink& link_;
    common::DateTime lastCheck_;
    // Where the service does not exist there is nothing to supervise: one
    // console line at the show, then silence.
    bool absent_ = false;
    QString lastLogged_;
};

} // namespace tarvina::client
