#pragma once

#include <QString>

namespace tarvina::server {

class ServerCore;

// An error that escaped an event handler of the main thread: the entry is
// appended to "Excepc.log" in the working folder (a log over its limit is
// deleted first) and the error box's text is returned. The program goes on.
class UnexpectedError {
public:
    static QString Record(ServerCore& core, const QString& senderClass, const QString& errorText,
                          int helpContext = 0);
};

} // namespace tarvina::server
