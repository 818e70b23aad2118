#pragma once

#include "common/LastCommand.h"
#include "platform/Clock.h"
#include "server/computers/ComputerRegistry.h"
#include "server/net/ConsoleRate.h"
#include "server/net/HandOff.h"
#include "server/net/InFlightPool.h"

#include <QString>
#include <atomic>

namespace tarvina::server {

// What the connection threads and the operations share: the registry and its
// lock, the clock, the hand-off to the UI thread, the last-step label and the
// working folder (where received client logs are saved).
struct ServerContext {
    ServerContext(platform::Clock& c, ComputerRegistry& r, HandOff& h, common::LastCommand& l,
                  QString folder)
        : clock(c), registry(r), handoff(h), lastCommand(l), workFolder(std::move(folder)) {}

    platform::Clock& clock;
    ComputerRegistry& registry;
    HandOff& handoff;
    common::LastCommand& lastCommand;
    QString workFolder;
    // Set when the program is closing: no late effects reach the forms.
    std::atomic<bool> closing{false};
    // Blocks being received by all connections together.
    InFlightPool inFlight;

    // Console line for a record (or none), through the hand-off. On a
    // connection's thread the line passes that connection's allowance.
    void console(TCompItem* record, const QString& text) {
        if (ConnectionConsole* gate = ConnectionConsole::current())
            gate->show(record, text);
        else
            handoff.post({UiEvent::Kind::Console, record, text});
    }
    void statusText(const QString& text) {
        handoff.post({UiEvent::Kind::StatusText, nullptr, text});
    }
    // UpdateRow: the row is brought up to date on the UI thread.
    void updateRow(TCompItem* record) {
        if (record != nullptr)
            handoff.post({UiEvent::Kind::RowUpdate, record});
    }
};

} // namespace tarvina::server
