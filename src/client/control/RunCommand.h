#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace tarvina::platform {
class Shell;
}

namespace tarvina::client {

// A command as the run box takes it: a program (a name found on the PATH or
// a path to an executable file, in double quotes when it holds blanks) with
// its arguments is started; a folder, a document or a web address is opened
// with the desktop's handler.
struct RunCommand {
    enum class Kind { None, Program, Open };
    Kind kind = Kind::None;
    QString target; // the program's full path, or what is opened
    QStringList arguments;

    // findExecutable: the full path of an executable file for a name or a
    // path, empty when there is none (QStandardPaths in the station).
    using FindExecutable = std::function<QString(const QString& nameOrPath)>;
    static RunCommand Parse(const QString& text, const FindExecutable& findExecutable);

    // The default lookup: a path names an executable file; a bare name is
    // looked up on the PATH.
    static QString FindOnPath(const QString& nameOrPath);

    // Starts or opens it; false when nothing could be started.
    bool run(platform::Shell& shell) const;
};

// Arguments split as a command line: blanks separate them, double quotes
// group, "" inside quotes is one quote.
QStringList SplitCommandLine(const QString& text);

} // namespace tarvina::client
