#pragma once

#include "platform/Mail.h"

#include <QList>

namespace tarvina::platform {

// Records every message; answers at once with the configured result.
class FakeMail final : public Mail {
public:
    QList<MailMessage> sent;
    bool succeed = true;
    QString error = QStringLiteral("no mail program");

    void compose(const MailMessage& message, Done done) override {
        sent << message;
        if (done)
            done(succeed, succeed ? QString() : error);
    }
};

} // namespace tarvina::platform
