// The network test's echo: one request, the reply's size, address, sequence,
// TTL and round-trip time.
#include "platform/linux/StationServices.h"
#include "platform/linux/UniqueFd.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvina::platform {

namespace {

quint16 Checksum(const unsigned char* data, size_t size) {
    quint32 sum = 0;
    for (size_t i = 0; i + 1 < size; i += 2)
        sum += (data[i] << 8) | data[i + 1];
    if (size % 2)
        sum += data[size - 1] << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<quint16>(~sum);
}

using Fd = UniqueFd;

using SteadyClock = std::chrono::steady_clock;

// The IPv4 address of a host name or a dotted address.
std::optional<sockaddr_in> Resolve(const QString& host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* res = nullptr;
    if (host.isEmpty() || host.size() > 255 ||
        ::getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &res) != 0)
        return std::nullopt;
    sockaddr_in addr{};
    std::memcpy(&addr, res->ai_addr, sizeof addr);
    ::freeaddrinfo(res);
    return addr;
}

// An echo request: identifier, sequence and a counting payload, checksummed.
void FillRequest(unsigned char* packet, size_t size, quint16 ident, quint16 seq) {
    std::memset(packet, 0, size);
    packet[0] = ICMP_ECHO;
    packet[4] = ident >> 8;
    packet[5] = ident & 0xFF;
    packet[6] = seq >> 8;
    packet[7] = seq & 0xFF;
    for (size_t i = 8; i < size; ++i)
        packet[i] = static_cast<unsigned char>(i);
    const quint16 csum = Checksum(packet, size);
    packet[2] = csum >> 8;
    packet[3] = csum & 0xFF;
}

// One message read from the socket. Its ICMP part starts at `at`, after the
// IP header a raw socket keeps; the TTL comes from that header or, on a
// datagram socket, from the control data.
struct Message {
    ssize_t size = 0;
    ssize_t at = 0;
    int ttl = 0;
    sockaddr_in from{};
    SteadyClock::time_point arrived;
};

bool Receive(int fd, bool raw, unsigned char* reply, size_t capacity, Message& m) {
    char control[64];
    iovec iov{reply, capacity};
    msghdr msg{};
    msg.msg_name = &m.from;
    msg.msg_namelen = sizeof m.from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    m.size = ::recvmsg(fd, &msg, 0);
    m.arrived = SteadyClock::now();
    if (m.size <= 0)
        return false;
    if (raw) {
        m.at = (reply[0] & 0x0F) * 4;
        if (m.size >= 20)
            m.ttl = reply[8];
        return true;
    }
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL)
            std::memcpy(&m.ttl, CMSG_DATA(c), sizeof m.ttl);
    }
    return true;
}

} // namespace

std::optional<EchoReply> IcmpPinger::echo(const QString& host, int sequence, int timeoutMs) {
    const std::optional<sockaddr_in> addr = Resolve(host);
    if (!addr)
        return std::nullopt;

    bool raw = false;
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) {
        fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        raw = true;
    }
    Fd sock(fd);
    if (fd < 0)
        return std::nullopt;
    const int on = 1;
    if (!raw)
        ::setsockopt(fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof on);

    const quint16 ident = static_cast<quint16>(::getpid());
    const quint16 seq = static_cast<quint16>(sequence);
    unsigned char packet[64];
    FillRequest(packet, sizeof packet, ident, seq);

    const auto sent = SteadyClock::now();
    if (::sendto(fd, packet, sizeof packet, 0, reinterpret_cast<const sockaddr*>(&*addr),
                 sizeof *addr) != static_cast<ssize_t>(sizeof packet))
        return std::nullopt;
    const auto deadline = sent + std::chrono::milliseconds(timeoutMs);
    // A raw socket sees every ICMP message of the machine: wait for ours.
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now())
                .count();
        if (left <= 0)
            return std::nullopt;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0)
            return std::nullopt;
        unsigned char reply[1500];
        Message m;
        if (!Receive(fd, raw, reply, sizeof reply, m))
            continue;
        const ssize_t at = m.at;
        if (m.size < at + 8 || reply[at] != ICMP_ECHOREPLY)
            continue;
        const quint16 replySeq = static_cast<quint16>((reply[at + 6] << 8) | reply[at + 7]);
        const quint16 replyId = static_cast<quint16>((reply[at + 4] << 8) | reply[at + 5]);
        // The datagram socket's identifier is the kernel's; it filters for us.
        if (replySeq != seq || (raw && replyId != ident))
            continue;
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &m.from.sin_addr, text, sizeof text);
        EchoReply r;
        r.bytes = static_cast<int>(m.size - at);
        r.from = QString::fromLatin1(text);
        r.sequence = sequence;
        r.ttl = m.ttl;
        r.timeMs = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(m.arrived - sent).count());
        return r;
    }
}

} // namespace tarvina::platform
