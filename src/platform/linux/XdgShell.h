#pragma once

#include "platform/Shell.h"

namespace tarvina::platform {

// Hands documents to xdg-open, detached, so the opened program outlives the
// request and never blocks the caller.
class XdgShell final : public Shell {
public:
    // opener: the program to run with the target as its only argument.
    explicit XdgShell(QString opener = QStringLiteral("xdg-open"));
    bool openDocument(const QString& target) override;
    bool startProgram(const QString& program, const QStringList& arguments) override;

private:
    QString opener_;
};

} // namespace tarvina::platform
