#pragma once

#include <QString>
#include <optional>

namespace tarvina::platform {

// One echo reply as the network test prints it.
struct EchoReply {
    int bytes = 0;    // size of the ICMP message that came back
    QString from;     // the replying address
    int sequence = 0; // icmp_seq
    int ttl = 0;      // 0 when the system did not say
    int timeMs = 0;   // round trip, whole milliseconds
};

// ICMP echo: a failed ping is a result, never an error.
class Pinger {
public:
    virtual ~Pinger() = default;
    // True when an echo reply with data came back within timeoutMs.
    virtual bool ping(const QString& host, int timeoutMs) = 0;
    // One echo request with its sequence number; the reply's details, or
    // nullopt when none came back in time (or the host did not resolve).
    // Back ends that cannot tell the details report the host, no TTL and no
    // time for a reply.
    virtual std::optional<EchoReply> echo(const QString& host, int sequence, int timeoutMs) {
        if (!ping(host, timeoutMs))
            return std::nullopt;
        EchoReply r;
        r.from = host;
        r.sequence = sequence;
        return r;
    }
};

} // namespace tarvina::platform
