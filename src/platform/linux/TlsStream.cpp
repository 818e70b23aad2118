#include "platform/linux/TlsStream.h"

#include "platform/NetworkKey.h"
#include "platform/linux/SocketIo.h"

#include <QDeadlineTimer>
#include <cerrno>
#include <cstring>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>

namespace tarvina::platform {

namespace {

// TLS 1.2: only the suites with an ephemeral key exchange. TLS 1.3: the
// suites whose hash is SHA-256, the one a key given as bytes is used with.
constexpr char kTls12Suites[] =
    "ECDHE-PSK-CHACHA20-POLY1305:ECDHE-PSK-AES256-CBC-SHA384:ECDHE-PSK-AES128-CBC-SHA256";
constexpr char kTls13Suites[] = "TLS_AES_128_GCM_SHA256:TLS_CHACHA20_POLY1305_SHA256";

// The key of the stream being set up, reached from OpenSSL's callbacks.
const QByteArray& PskOf(SSL* ssl) {
    static const QByteArray none;
    const auto* stream = static_cast<const TlsStream*>(SSL_get_app_data(ssl));
    return stream != nullptr ? stream->psk() : none;
}

unsigned int ServerPsk(SSL* ssl, const char* identity, unsigned char* psk, unsigned int maxLen) {
    const QByteArray& key = PskOf(ssl);
    if (identity == nullptr || std::strcmp(identity, netkey::kIdentity) != 0 ||
        key.size() > static_cast<qsizetype>(maxLen))
        return 0;
    std::memcpy(psk, key.constData(), static_cast<size_t>(key.size()));
    return static_cast<unsigned int>(key.size());
}

unsigned int ClientPsk(SSL* ssl, const char*, char* identity, unsigned int maxIdentity,
                       unsigned char* psk, unsigned int maxLen) {
    const QByteArray& key = PskOf(ssl);
    if (sizeof netkey::kIdentity > maxIdentity || key.size() > static_cast<qsizetype>(maxLen))
        return 0;
    std::memcpy(identity, netkey::kIdentity, sizeof netkey::kIdentity);
    std::memcpy(psk, key.constData(), static_cast<size_t>(key.size()));
    return static_cast<unsigned int>(key.size());
}

// OpenSSL's own socket BIO writes with write(2), which raises SIGPIPE on a
// peer that is gone; this one never does, and never blocks.
int BioWrite(BIO* bio, const char* data, size_t size, size_t* written) {
    const int fd = static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
    BIO_clear_retry_flags(bio);
    ssize_t n;
    do {
        n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            BIO_set_retry_write(bio);
        return 0;
    }
    *written = static_cast<size_t>(n);
    return 1;
}

int BioRead(BIO* bio, char* data, size_t size, size_t* got) {
    const int fd = static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
    BIO_clear_retry_flags(bio);
    ssize_t n;
    do {
        n = ::recv(fd, data, size, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            BIO_set_retry_read(bio);
        return 0;
    }
    if (n == 0)
        errno = 0; // the end, not a failure
    *got = static_cast<size_t>(n);
    return n > 0 ? 1 : 0;
}

long BioCtrl(BIO*, int cmd, long, void*) {
    return cmd == BIO_CTRL_FLUSH ? 1 : 0;
}

BIO_METHOD* SocketMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tarvina socket");
        BIO_meth_set_write_ex(m, BioWrite);
        BIO_meth_set_read_ex(m, BioRead);
        BIO_meth_set_ctrl(m, BioCtrl);
        return m;
    }();
    return method;
}

SSL_CTX* MakeContext(TlsStream::Role role) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_method());
    if (ctx == nullptr)
        return nullptr;
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(ctx, TLS1_3_VERSION);
    if (SSL_CTX_set_cipher_list(ctx, kTls12Suites) != 1 ||
        SSL_CTX_set_ciphersuites(ctx, kTls13Suites) != 1) {
        SSL_CTX_free(ctx);
        return nullptr;
    }
    // Nothing to resume: every connection shakes hands with the key anew.
    SSL_CTX_set_options(ctx, SSL_OP_NO_TICKET | SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION |
                                 SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_num_tickets(ctx, 0);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (role == TlsStream::Role::Server)
        SSL_CTX_set_psk_server_callback(ctx, ServerPsk);
    else
        SSL_CTX_set_psk_client_callback(ctx, ClientPsk);
    return ctx;
}

SSL_CTX* ContextFor(TlsStream::Role role) {
    static SSL_CTX* const server = MakeContext(TlsStream::Role::Server);
    static SSL_CTX* const client = MakeContext(TlsStream::Role::Client);
    return role == TlsStream::Role::Server ? server : client;
}

// What one OpenSSL call left behind, read on the calling thread.
struct Outcome {
    int rc = 0;
    int error = SSL_ERROR_NONE;
    unsigned long code = 0;
    int sysErrno = 0;
};

QString TextOf(const Outcome& o) {
    if (o.code != 0) {
        char buf[256];
        ERR_error_string_n(o.code, buf, sizeof buf);
        const char* reason = ERR_reason_error_string(o.code);
        return QString::fromLatin1(reason != nullptr ? reason : buf);
    }
    if (o.error == SSL_ERROR_SYSCALL && o.sysErrno != 0)
        return QString::fromLocal8Bit(std::strerror(o.sysErrno));
    return QStringLiteral("conexión cerrada por el otro extremo");
}

// Failures that mean the two ends hold different keys: the server finds the
// client's proof of the key wrong (TLS 1.3 binder, TLS 1.2 Finished), the
// client is told so by the server's alert.
bool MeansWrongKey(unsigned long code) {
    if (ERR_GET_LIB(code) != ERR_LIB_SSL)
        return false;
    switch (ERR_GET_REASON(code)) {
    case SSL_R_BINDER_DOES_NOT_VERIFY:
    case SSL_R_TLSV1_ALERT_DECRYPT_ERROR:
    case SSL_R_DECRYPTION_FAILED_OR_BAD_RECORD_MAC:
    case SSL_R_SSLV3_ALERT_BAD_RECORD_MAC:
    case SSL_R_SSLV3_ALERT_ILLEGAL_PARAMETER:
    case SSL_R_DIGEST_CHECK_FAILED:
        return true;
    default:
        return false;
    }
}

} // namespace

TlsStream::TlsStream(int fd, bool wakeable, Role role, LinkSecurity security)
    : socket_(fd, wakeable), role_(role), security_(std::move(security)) {}

TlsStream::~TlsStream() {
    if (ssl_ != nullptr)
        SSL_free(ssl_);
}

std::optional<QString> TlsStream::fail(StartFailure kind, const QString& why) {
    failure_ = kind;
    return why;
}

std::optional<QString> TlsStream::start(int timeoutMs) {
    const QDeadlineTimer deadline =
        timeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(timeoutMs);
    if (role_ == Role::Server) {
        if (auto refused = sniff(deadline))
            return refused;
        if (plain_)
            return std::nullopt;
    }
    SSL_CTX* ctx = ContextFor(role_);
    SSL* ssl = ctx != nullptr ? SSL_new(ctx) : nullptr;
    BIO* bio = ssl != nullptr ? BIO_new(SocketMethod()) : nullptr;
    if (bio == nullptr) {
        if (ssl != nullptr)
            SSL_free(ssl);
        return fail(StartFailure::Other, QStringLiteral("no se pudo preparar el cifrado"));
    }
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(socket_.fd())));
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl, bio, bio);
    SSL_set_app_data(ssl, this);
    {
        std::lock_guard lock(sslMutex_);
        ssl_ = ssl;
    }
    return handshake(deadline);
}

std::optional<QString> TlsStream::sniff(const QDeadlineTimer& deadline) {
    const bool both = security_.mode == LinkSecurity::Mode::Both;
    for (;;) {
        const qint64 left = deadline.remainingTime();
        const int wait = both ? static_cast<int>(left < 0 ? kPlainAfterMs
                                                          : std::min<qint64>(left, kPlainAfterMs))
                              : static_cast<int>(std::min<qint64>(left, 1 << 30));
        if (!socket_.waitReadable(wait)) {
            if (shut_.load())
                return fail(StartFailure::Other, QStringLiteral("conexión cerrada"));
            if (both) {
                // Silent: a plain station waiting for the greeting.
                plain_ = true;
                return std::nullopt;
            }
            if (deadline.hasExpired())
                return fail(StartFailure::Other, QStringLiteral("el otro extremo no habló"));
            continue; // woken without a reason
        }
        unsigned char first = 0;
        ssize_t n;
        do {
            n = ::recv(socket_.fd(), &first, 1, MSG_PEEK | MSG_DONTWAIT);
        } while (n < 0 && errno == EINTR);
        if (n == 1) {
            if (first == kHandshakeRecord)
                return std::nullopt;
            if (both) {
                plain_ = true;
                return std::nullopt;
            }
            return fail(StartFailure::Unencrypted, QStringLiteral("conexión sin cifrar"));
        }
        if (n == 0)
            return fail(StartFailure::Other,
                        QStringLiteral("conexión cerrada por el otro extremo"));
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return fail(StartFailure::Other, QString::fromLocal8Bit(std::strerror(errno)));
    }
}

std::optional<QString> TlsStream::handshake(const QDeadlineTimer& deadline) {
    for (;;) {
        Outcome o;
        {
            std::lock_guard lock(sslMutex_);
            ERR_clear_error();
            errno = 0;
            o.rc = role_ == Role::Client ? SSL_connect(ssl_) : SSL_accept(ssl_);
            if (o.rc != 1) {
                o.error = SSL_get_error(ssl_, o.rc);
                o.code = ERR_peek_last_error();
                o.sysErrno = errno;
            }
        }
        if (o.rc == 1) {
            encrypted_.store(true);
            return std::nullopt;
        }
        if (o.error != SSL_ERROR_WANT_READ && o.error != SSL_ERROR_WANT_WRITE) {
            ERR_clear_error();
            return fail(MeansWrongKey(o.code) ? StartFailure::WrongKey : StartFailure::Other,
                        TextOf(o));
        }
        if (shut_.load())
            return fail(StartFailure::Other, QStringLiteral("conexión cerrada"));
        if (deadline.hasExpired())
            return fail(StartFailure::Other,
                        QStringLiteral("el otro extremo no completó el saludo cifrado"));
        const qint64 left = deadline.remainingTime();
        const int wait = static_cast<int>(left < 0 ? -1 : std::min<qint64>(left, 1 << 30));
        if (o.error == SSL_ERROR_WANT_READ)
            socket_.waitReadable(wait);
        else
            WaitForSocket(socket_.fd(), POLLOUT, wait);
    }
}

bool TlsStream::waitReadable(int msecs) {
    if (encrypted_.load()) {
        std::lock_guard lock(sslMutex_);
        if (SSL_pending(ssl_) > 0)
            return true;
    }
    return socket_.waitReadable(msecs);
}

Stream::Read TlsStream::read(char* data, qint64 maxSize, int waitMs) {
    if (!encrypted_.load())
        return socket_.read(data, maxSize, waitMs);
    const QDeadlineTimer deadline =
        waitMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(waitMs);
    Read r;
    for (;;) {
        Outcome o;
        size_t got = 0;
        {
            std::lock_guard lock(sslMutex_);
            ERR_clear_error();
            errno = 0;
            o.rc = SSL_read_ex(ssl_, data, static_cast<size_t>(maxSize), &got);
            if (o.rc != 1) {
                o.error = SSL_get_error(ssl_, o.rc);
                o.code = ERR_peek_last_error();
                o.sysErrno = errno;
            }
        }
        if (o.rc == 1) {
            r.status = Read::Status::Data;
            r.bytes = static_cast<qint64>(got);
            return r;
        }
        switch (o.error) {
        case SSL_ERROR_WANT_READ:
        case SSL_ERROR_WANT_WRITE:
            break;
        case SSL_ERROR_ZERO_RETURN:
            r.status = Read::Status::Ended;
            return r;
        case SSL_ERROR_SYSCALL:
            if (o.sysErrno == 0 && o.code == 0) {
                r.status = Read::Status::Ended;
                return r;
            }
            [[fallthrough]];
        default:
            ERR_clear_error();
            r.status = Read::Status::Failed;
            r.error = TextOf(o);
            return r;
        }
        if (waitMs == 0 || deadline.hasExpired())
            return r;
        const qint64 left = deadline.remainingTime();
        const int wait = static_cast<int>(left < 0 ? -1 : std::min<qint64>(left, 1 << 30));
        const bool ready = o.error == SSL_ERROR_WANT_WRITE
                               ? WaitForSocket(socket_.fd(), POLLOUT, wait)
                               : socket_.waitReadable(wait);
        if (!ready)
            return r;
    }
}

qint64 TlsStream::bytesReadable() const {
    if (!encrypted_.load())
        return socket_.bytesReadable();
    std::lock_guard lock(sslMutex_);
    return SSL_pending(ssl_);
}

std::optional<QString> TlsStream::writeAll(const char* data, qint64 size, int timeoutMs) {
    if (!encrypted_.load())
        return socket_.writeAll(data, size, timeoutMs);
    qint64 done = 0;
    while (done < size) {
        if (shut_.load())
            return QStringLiteral("conexión cerrada");
        Outcome o;
        size_t wrote = 0;
        {
            std::lock_guard lock(sslMutex_);
            ERR_clear_error();
            errno = 0;
            o.rc = SSL_write_ex(ssl_, data + done, static_cast<size_t>(size - done), &wrote);
            if (o.rc != 1) {
                o.error = SSL_get_error(ssl_, o.rc);
                o.code = ERR_peek_last_error();
                o.sysErrno = errno;
            }
        }
        if (o.rc == 1) {
            done += static_cast<qint64>(wrote);
            continue;
        }
        if (o.error == SSL_ERROR_WANT_WRITE) {
            if (!WaitForSocket(socket_.fd(), POLLOUT, timeoutMs))
                return QStringLiteral("tiempo de escritura agotado");
            continue;
        }
        if (o.error == SSL_ERROR_WANT_READ) {
            // Never asked for without renegotiation; the reader will feed it.
            WaitForSocket(socket_.fd(), POLLOUT, 10);
            continue;
        }
        ERR_clear_error();
        return TextOf(o);
    }
    return std::nullopt;
}

void TlsStream::shutdown() {
    shut_.store(true);
    socket_.shutdown();
}

} // namespace tarvina::platform
