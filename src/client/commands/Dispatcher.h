#pragma once

#include <QByteArray>

namespace tarvina::client {

class StationCommands;

// A received line (without CR LF) becomes one call on StationCommands. Only
// parsing happens here: no threads, no sockets, no state between lines, so
// the dispatcher is fed arbitrary bytes in tests and by the fuzzer.
//
// The handler of each code is bound through the code table: a code added to
// the table without its handler here does not compile.
class Dispatcher {
public:
    explicit Dispatcher(StationCommands& commands) : commands_(commands) {}
    void Dispatch(const QByteArray& line);

private:
    StationCommands& commands_;
};

} // namespace tarvina::client
