#pragma once

#include "platform/Mail.h"

namespace tarvina::platform {

// The desktop's mail program through xdg-email ("--attach" for each file).
class XdgMail final : public Mail {
public:
    // program: the command to run with xdg-email's arguments.
    explicit XdgMail(QString program = QStringLiteral("xdg-email"));
    void compose(const MailMessage& message, Done done) override;

    // xdg-email's arguments for a message.
    static QStringList Arguments(const MailMessage& message);

private:
    QString program_;
};

} // namespace tarvina::platform
