#pragma once

#include "server/computers/ServerContext.h"
#include "server/computers/StateChange.h"

#include <QString>
#include <memory>
#include <optional>

namespace tarvina::server {

class StationConnection;

// The record operations of the station server. All of them require
// ComputersLock (they are called from locked handlers and from operations
// that already hold it).

// Finds or creates the record of a connection: by MAC first (unless none,
// empty or "mac not found"), then by the peer's address, else a new record
// with its row. The record keeps everything else it held. A connection that
// was bound to the record before loses it, so that only the newest
// connection of a computer acts on its record.
TCompItem* BindConnection(ServerContext& ctx, const std::shared_ptr<StationConnection>& conn,
                          const std::optional<QString>& mac);

// Changes the state; raises the state change with what the record holds
// then (set the session's start, end, user and code before); applies the
// relock rule.
void SetState(ServerContext& ctx, TCompItem* record, int state);

// Changes the display name; a real change raises the name change (which
// sends CdListQuery from the UI thread).
void SetName(ServerContext& ctx, TCompItem* record, const QString& name);

} // namespace tarvina::server
