#pragma once

#include "platform/Shell.h"

#include <QStringList>

namespace tarvina::platform {

// Records what would have been opened.
class FakeShell final : public Shell {
public:
    QStringList opened;
    struct Start {
        QString program;
        QStringList arguments;
    };
    QList<Start> started;
    bool succeed = true;

    bool openDocument(const QString& target) override {
        opened << target;
        return succeed;
    }
    bool startProgram(const QString& program, const QStringList& arguments) override {
        started.append({program, arguments});
        return succeed;
    }
};

} // namespace tarvina::platform
