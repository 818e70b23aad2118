#pragma once

#include "platform/Pinger.h"

#include <QSet>
#include <QStringList>

namespace tarvina::platform {

class FakePinger final : public Pinger {
public:
    QSet<QString> answering;
    QStringList asked;
    bool ping(const QString& host, int) override {
        asked << host;
        return answering.contains(host);
    }
};

} // namespace tarvina::platform
