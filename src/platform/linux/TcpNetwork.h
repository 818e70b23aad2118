#pragma once

#include "platform/Network.h"

namespace tarvina::platform {

// Plain TCP over the system's sockets.
class TcpNetwork final : public Network {
public:
    std::unique_ptr<Listener> makeListener() override;
    std::unique_ptr<Stream> connect(const QString& host, quint16 port, int timeoutMs,
                                    QString* error, const std::function<bool()>& stop,
                                    const QString& localAddress) override;
};

} // namespace tarvina::platform
