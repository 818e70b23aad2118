#pragma once

#include <QString>

namespace tarvina::platform {

// Opens a document or a web address with the program the desktop associates
// with it, as double-clicking it would.
class Shell {
public:
    virtual ~Shell() = default;
    // target: a local file path or an absolute URL. False when no program
    // could be started for it.
    virtual bool openDocument(const QString& target) = 0;
};

} // namespace tarvina::platform
