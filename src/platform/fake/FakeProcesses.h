#pragma once

#include "platform/Processes.h"

#include <QHash>

namespace tarvina::platform {

// A process table set by the test.
class FakeProcesses final : public Processes {
public:
    qint64 own = 100;
    QHash<qint64, QString> programs;

    qint64 self() override { return own; }
    QString executable(qint64 pid) override { return programs.value(pid); }
};

} // namespace tarvina::platform
