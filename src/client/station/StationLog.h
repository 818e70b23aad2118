#pragma once

#include "common/LastCommand.h"

#include <QObject>
#include <QString>
#include <atomic>

namespace tarvina::platform {
class Clock;
}

namespace tarvina::client {

class NoticeView;

// The station's exception log ("Error.log" beside the program) and the last
// step taken, which every entry of an unexpected error names. Any thread may
// log; a log that cannot be written is shown in an error box on the main
// thread.
class StationLog : public QObject {
    Q_OBJECT
public:
    StationLog(QString programFolder, platform::Clock& clock, NoticeView& notice);

    void LogException(const QString& text);
    // An unexpected error raised in an event handler of senderClass;
    // helpContext: the number the error carries ("H:"), the system's error
    // code for a failed system call, 0 for an error without one.
    void OnAppException(const QString& senderClass, const QString& message, int helpContext = 0);
    common::LastCommand& lastCommand() { return lastCommand_; }
    QString path() const;

private:
    void showErrorBox(const QString& text);

    const QString folder_;
    platform::Clock& clock_;
    NoticeView& notice_;
    common::LastCommand lastCommand_;
    std::atomic<bool> inExceptionLog_{false};
};

} // namespace tarvina::client
