#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace tarvina::platform {

// A message handed to the desktop's mail program, which shows it to the
// user (logon, editing, sending are the mail program's).
struct MailMessage {
    QString to;
    QString subject;
    QString body;
    QStringList attachments; // local file paths
};

class Mail {
public:
    virtual ~Mail() = default;
    // done is called later, on the caller's thread: ok false with the reason
    // when the mail program could not be reached. Never blocks the caller.
    using Done = std::function<void(bool ok, const QString& error)>;
    virtual void compose(const MailMessage& message, Done done) = 0;
};

} // namespace tarvina::platform
