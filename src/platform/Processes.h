#pragma once

#include <QString>
#include <QtGlobal>

namespace tarvina::platform {

// The programs running on this machine, as far as the station needs to know
// them: its own process, and the program file behind a process id.
class Processes {
public:
    virtual ~Processes() = default;
    // This program's own process id.
    virtual qint64 self() = 0;
    // The program file of pid: its full path when the system tells it, else
    // its short name; empty for a process that is gone or cannot be read.
    virtual QString executable(qint64 pid) = 0;
};

} // namespace tarvina::platform
