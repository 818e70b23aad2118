#include "client/station/StationLog.h"

#include "client/station/StationContext.h"
#include "common/ExceptionLog.h"
#include "platform/Clock.h"

#include <QThread>

namespace tarvina::client {

StationLog::StationLog(QString programFolder, platform::Clock& clock, NoticeView& notice)
    : folder_(std::move(programFolder)), clock_(clock), notice_(notice) {}

QString StationLog::path() const {
    return StationFile(folder_, QString::fromLatin1(common::kClientExceptionLogName));
}

void StationLog::showErrorBox(const QString& text) {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, text] { showErrorBox(text); }, Qt::QueuedConnection);
        return;
    }
    notice_.errorBox(QStringLiteral("Error"), text);
}

void StationLog::LogException(const QString& rawText) {
    // One entry is one line: texts from the system may carry line breaks.
    QString text = rawText;
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    text.replace(u'\n', u' ');
    text.replace(u'\r', u' ');
    QString err;
    if (!common::AppendWithSizeCheck(path(), common::kClientExceptionLogLimit,
                                     common::ClientExceptionEntry(clock_.now(), text), &err))
        showErrorBox(common::ClientLogFailureText(err));
}

void StationLog::OnAppException(const QString& senderClass, const QString& message,
                                int helpContext) {
    // An error raised while an error is being logged is not logged again.
    if (inExceptionLog_.exchange(true))
        return;
    QString err;
    if (!common::AppendWithSizeCheck(path(), common::kClientExceptionLogLimit,
                                     common::ClientAppExceptionEntry(clock_.now(), senderClass,
                                                                     message, helpContext,
                                                                     lastCommand_.get()),
                                     &err))
        showErrorBox(common::ClientLogFailureText(err));
    inExceptionLog_.store(false);
}

} // namespace tarvina::client
