#pragma once

#include "platform/LinkSecurity.h"
#include "platform/Stream.h"
#include "platform/linux/SocketStream.h"

#include <QDeadlineTimer>
#include <atomic>
#include <mutex>

struct ssl_st;

namespace tarvina::platform {

// TLS 1.2 or 1.3 over a socket with the café's pre-shared key, no
// certificates: ECDHE-PSK suites for TLS 1.2, PSK with (EC)DHE for TLS 1.3,
// so a recorded session stays secret even if the key is learnt later.
//
// The server's end looks at the first byte its peer sends before it decides:
// a TLS handshake record (0x16) starts TLS; anything else is a plain station,
// let in as it is (Both) or refused (EncryptedOnly). A plain station waits
// for the greeting, so in Both a peer that sends nothing within
// kPlainAfterMs is plain too; in EncryptedOnly it waits until start()'s time
// runs out or the stream is shut down. The client's end always shakes hands.
//
// One reader and serialised writers as for every stream: the TLS state is
// guarded by a mutex that no thread holds while it waits for the socket.
class TlsStream final : public Stream {
public:
    enum class Role { Client, Server };
    static constexpr int kPlainAfterMs = 250;
    static constexpr unsigned char kHandshakeRecord = 0x16;

    TlsStream(int fd, bool wakeable, Role role, LinkSecurity security);
    ~TlsStream() override;
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    std::optional<QString> start(int timeoutMs) override;
    StartFailure startFailure() const override { return failure_; }
    bool encrypted() const override { return encrypted_.load(); }
    bool waitReadable(int msecs) override;
    Read read(char* data, qint64 maxSize, int waitMs) override;
    qint64 bytesReadable() const override;
    std::optional<QString> writeAll(const char* data, qint64 size, int timeoutMs) override;
    void shutdown() override;
    void wake() override { socket_.wake(); }
    QString peerAddress() const override { return socket_.peerAddress(); }

    // For the key callbacks of the handshake.
    const QByteArray& psk() const { return security_.psk; }

private:
    std::optional<QString> fail(StartFailure kind, const QString& why);
    std::optional<QString> handshake(const QDeadlineTimer& deadline);
    // Decides from the first byte (server); nullopt to go on with TLS or
    // plain as plain_ then says.
    std::optional<QString> sniff(const QDeadlineTimer& deadline);

    SocketStream socket_;
    const Role role_;
    const LinkSecurity security_;
    ssl_st* ssl_ = nullptr; // none: a plain stream
    mutable std::mutex sslMutex_;
    StartFailure failure_ = StartFailure::None;
    std::atomic<bool> shut_{false};
    std::atomic<bool> encrypted_{false};
    bool plain_ = false;
};

} // namespace tarvina::platform
