// Feeds arbitrary bytes, as a peer on the café's network could send them, to
// the front of the cashier's listener in the modes that look at them: the
// first-byte decision between TLS and plain, and the TLS handshake with the
// network key. Whatever comes: no crash, no hang, no leak, and no stream that
// counts as encrypted without the key.

#include "platform/NetworkKey.h"
#include "platform/linux/TlsStream.h"

#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

using tarvina::platform::LinkSecurity;
using tarvina::platform::Stream;
using tarvina::platform::TlsStream;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    static const QByteArray psk = tarvina::platform::netkey::Psk("K7QFM2XD9HPT4WNAC3RJE8VB");
    // The first byte chooses the mode; the rest is what the peer sends.
    const LinkSecurity security{
        (data[0] & 1) != 0 ? LinkSecurity::Mode::Both : LinkSecurity::Mode::EncryptedOnly, psk};
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return 0;
    // Small inputs fit the socket's buffer at once; the end follows them.
    const size_t n = size - 1 < 100000 ? size - 1 : 100000;
    if (n > 0 && ::send(fds[1], data + 1, n, MSG_NOSIGNAL) != static_cast<ssize_t>(n)) {
        ::close(fds[0]);
        ::close(fds[1]);
        return 0;
    }
    ::shutdown(fds[1], SHUT_WR);
    {
        TlsStream server(fds[0], false, TlsStream::Role::Server, security);
        if (!server.start(2000)) {
            // Only a plain peer gets this far: the key cannot be guessed.
            if (server.encrypted())
                std::abort();
            char buf[4096];
            for (;;) {
                const Stream::Read r = server.read(buf, sizeof buf, 100);
                if (r.status != Stream::Read::Status::Data)
                    break;
            }
        }
    }
    ::close(fds[1]);
    return 0;
}
