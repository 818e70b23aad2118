#pragma once

#include "platform/NetworkBrowser.h"

#include <QByteArray>
#include <QString>

namespace tarvina::platform {

// mDNS through Avahi's command-line browser: the servers that announce
// "_tarvina._tcp" on the café's port, by IPv4 address (a name ending in
// ".local" needs name-service support that a station may lack). Without
// Avahi (no command, no daemon) the list is empty and the address is typed
// by hand.
class AvahiBrowser final : public NetworkBrowser {
public:
    static constexpr char kServiceType[] = "_tarvina._tcp";

    explicit AvahiBrowser(quint16 port, QString command = QStringLiteral("avahi-browse"))
        : port_(port), command_(std::move(command)) {}

    QStringList computers(int timeoutMs) override;

    // The resolved entries ("=;...") of the browser's parsable output that
    // offer `port`, addresses in order of appearance, each once.
    static QStringList ParseBrowseOutput(const QByteArray& output, quint16 port);

private:
    quint16 port_;
    QString command_;
};

} // namespace tarvina::platform
