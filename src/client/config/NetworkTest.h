#pragma once

#include "platform/NetworkBrowser.h"
#include "platform/Pinger.h"
#include "protocol/Port.h"

#include <QString>
#include <QStringList>
#include <functional>

namespace tarvina::client::config {

// The stages of the network test, reported as each begins.
enum class TestStage { Start, Echo, Port, Server };

struct NetworkTestOptions {
    quint16 port = protocol::kDefaultPort;
    int echoTimeoutMs = 1000;
    // A server that takes no connection in this time counts as absent
    // (a firewall that drops packets would otherwise hold the test for
    // minutes).
    int connectTimeoutMs = 5000;
    // The server greets every new connection at once; this bounds the wait
    // for that first line.
    int greetingTimeoutMs = 1500;
};

// The caption the chooser shows while a stage runs ("... por favor espere").
QString StageCaption(TestStage stage);

// Tells the staff why this computer cannot reach the server: no echo, echo
// but no program on the port, a program that is not the server, or the
// server itself. Blocks for up to a few seconds: run it off the UI thread.
// The text separates its lines with carriage returns.
QString RunNetworkTest(const QString& host, platform::Pinger& pinger,
                       const NetworkTestOptions& options = {},
                       const std::function<void(TestStage)>& progress = {});

// The computers that offer the café's service on the local network, each
// once, in the order found, at most 250 (the chooser's "Refresca").
void EnumerateNetworkComputers(QStringList& list, platform::NetworkBrowser& browser,
                               int timeoutMs = 3000);

} // namespace tarvina::client::config
