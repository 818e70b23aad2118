#pragma once

#include "platform/Shell.h"

#include <QStringList>

namespace tarvina::platform {

// Records what would have been opened.
class FakeShell final : public Shell {
public:
    QStringList opened;
    bool succeed = true;

    bool openDocument(const QString& target) override {
        opened << target;
        return succeed;
    }
};

} // namespace tarvina::platform
