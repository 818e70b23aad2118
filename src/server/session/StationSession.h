#pragma once

#include "server/computers/ServerContext.h"
#include "server/session/ReportDispatcher.h"
#include "server/session/ReportHandlers.h"

#include <QByteArray>
#include <QString>
#include <memory>

namespace tarvina::server {

class StationConnection;

// The life of one connection on its own thread: the greeting, the loop that
// reads one line at a time and runs its handler, and the disconnect.
class StationSession {
public:
    StationSession(ServerContext& ctx, std::shared_ptr<StationConnection> conn);

    // On connect, loop, on disconnect. Returns when the connection ends.
    void run();

    // One received line (without CR LF); its handler reads what follows it
    // when the command has a block or further lines.
    void handleLine(const QByteArray& line);

private:
    void onConnect();
    void onDisconnect();
    // The station as the console's summary lines name it.
    QString consoleName() const;

    ServerContext& ctx_;
    std::shared_ptr<StationConnection> conn_;
    ReportHandlers reports_;
    ReportDispatcher dispatcher_;
};

} // namespace tarvina::server
