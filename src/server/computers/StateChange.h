#pragma once

#include "server/computers/TCompItem.h"
#include "server/net/HandOff.h"

namespace tarvina::server {

// One state change of a computer as the UI thread serves it: the record and
// what the change left on it.
struct StateChange {
    TCompItem* record = nullptr;
    StateSeen seen;

    // The record as it stands now (ComputersLock held by the caller).
    static StateChange Of(TCompItem* record) {
        StateChange c;
        c.record = record;
        if (record != nullptr) {
            c.seen.state = record->state;
            c.seen.start = record->start;
            c.seen.end = record->end;
            c.seen.pin = record->pin;
            c.seen.user = record->user;
            c.seen.stamp = record->stateStamp;
        }
        return c;
    }
};

} // namespace tarvina::server
