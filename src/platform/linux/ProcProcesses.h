#pragma once

#include "platform/Processes.h"

namespace tarvina::platform {

// Processes through /proc: the program file is the target of
// /proc/<pid>/exe, or the name in /proc/<pid>/comm where that link cannot be
// read (another user's process, a kernel thread). `root` is the /proc to
// read (tests give a folder of their own).
class ProcProcesses final : public Processes {
public:
    explicit ProcProcesses(QString root = QStringLiteral("/proc"));
    qint64 self() override;
    QString executable(qint64 pid) override;

private:
    QString root_;
};

} // namespace tarvina::platform
