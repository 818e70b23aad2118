#pragma once

#include "common/DateTime.h"

namespace tarvina::client {

class StationLink;
struct StationContext;

// The companion service that guards the station ("ServiceZU"): resumed when
// the station shows, checked once a minute, paused when the station is
// closed with the password.
class CompanionService {
public:
    CompanionService(StationContext& ctx, StationLink& link) : ctx_(ctx), link_(link) {}

    void AtShow();
    void Tick(const common::DateTime& now);
    void PauseForClose();

private:
    bool watched() const;

    StationContext& ctx_;
    StationLink& link_;
    common::DateTime lastCheck_;
};

} // namespace tarvina::client
