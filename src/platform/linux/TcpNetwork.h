#pragma once

#include "platform/Network.h"

#include <mutex>

namespace tarvina::platform {

// TCP over the system's sockets, plain or TLS with the café's key
// (TlsStream) as setSecurity says.
class TcpNetwork final : public Network {
public:
    void setSecurity(const LinkSecurity& security) override;
    LinkSecurity security() const;

    std::unique_ptr<Listener> makeListener() override;
    std::unique_ptr<Stream> connect(const QString& host, quint16 port, int timeoutMs,
                                    QString* error, const std::function<bool()>& stop,
                                    const QString& localAddress) override;

private:
    mutable std::mutex mutex_;
    LinkSecurity security_;
};

} // namespace tarvina::platform
