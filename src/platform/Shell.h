#pragma once

#include <QString>
#include <QStringList>

namespace tarvina::platform {

// Opens a document or a web address with the program the desktop associates
// with it, as double-clicking it would, and starts programs.
class Shell {
public:
    virtual ~Shell() = default;
    // target: a local file path or an absolute URL. False when no program
    // could be started for it.
    virtual bool openDocument(const QString& target) = 0;
    // Starts a program (a path to an executable file) with its arguments,
    // detached: it outlives the caller. False when it could not be started.
    virtual bool startProgram(const QString& program, const QStringList& arguments) = 0;
};

} // namespace tarvina::platform
