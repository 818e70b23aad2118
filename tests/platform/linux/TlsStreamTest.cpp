#include "platform/linux/TlsStream.h"

#include "platform/NetworkKey.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <arpa/inet.h>
#include <future>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using tarvina::platform::LinkSecurity;
using tarvina::platform::Stream;
using tarvina::platform::TlsStream;
namespace netkey = tarvina::platform::netkey;

namespace {

using Mode = LinkSecurity::Mode;

QByteArray PskOf(const char* key) {
    return netkey::Psk(*netkey::Normalise(QString::fromLatin1(key)));
}
const QByteArray kKey = PskOf("K7QF-M2XD-9HPT-4WNA-C3RJ-E8VB");
const QByteArray kOtherKey = PskOf("A2B3-C4D5-E6F7-G8H9-JKLM-NPQR");

struct Ends {
    int server = -1, client = -1;
    Ends() {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        server = fds[0];
        client = fds[1];
    }
};

// Reads until a whole line (or the end) came.
QByteArray ReadLine(Stream& s, int waitMs = 3000) {
    QByteArray got;
    char buf[4096];
    QElapsedTimer t;
    t.start();
    while (!got.contains('\n') && t.elapsed() < waitMs) {
        const Stream::Read r = s.read(buf, sizeof buf, 200);
        if (r.status == Stream::Read::Status::Data)
            got.append(buf, r.bytes);
        else if (r.status != Stream::Read::Status::Nothing)
            break;
    }
    return got;
}

QByteArray ReadExactly(Stream& s, qsizetype n) {
    QByteArray got;
    QByteArray buf(64 * 1024, '\0');
    while (got.size() < n) {
        const Stream::Read r = s.read(buf.data(), buf.size(), 3000);
        if (r.status != Stream::Read::Status::Data)
            break;
        got.append(buf.constData(), r.bytes);
    }
    return got;
}

} // namespace

TEST(TlsStream, BothEndsWithTheKeyTalkEncryptedBothWays) {
    Ends e;
    TlsStream server(e.server, false, TlsStream::Role::Server, {Mode::EncryptedOnly, kKey});
    TlsStream client(e.client, true, TlsStream::Role::Client, {Mode::Plain, kKey});
    auto serverStart = std::async(std::launch::async, [&] { return server.start(3000); });
    EXPECT_EQ(client.start(3000), std::nullopt);
    EXPECT_EQ(serverStart.get(), std::nullopt);
    EXPECT_TRUE(server.encrypted());
    EXPECT_TRUE(client.encrypted());

    // The server speaks first, as on the plain link.
    ASSERT_EQ(server.writeAll("48\r\n01\r\n", 8, 1000), std::nullopt);
    EXPECT_EQ(ReadLine(client), QByteArray("48\r\n01\r\n"));
    // A block far larger than a record and the socket buffer, read meanwhile.
    const QByteArray block(300 * 1024, 'x');
    auto reader = std::async(std::launch::async, [&] { return ReadExactly(server, block.size()); });
    ASSERT_EQ(client.writeAll(block.constData(), block.size(), 2000), std::nullopt);
    EXPECT_EQ(reader.get(), block);

    // A woken reader returns at once with nothing; a closed end reads as ended.
    char c;
    client.wake();
    EXPECT_EQ(client.read(&c, 1, -1).status, Stream::Read::Status::Nothing);
    server.shutdown();
    EXPECT_EQ(client.read(&c, 1, 2000).status, Stream::Read::Status::Ended);
}

TEST(TlsStream, AWrongKeyFailsTheHandshakeOnBothEndsAsWrongKey) {
    Ends e;
    TlsStream server(e.server, false, TlsStream::Role::Server, {Mode::Both, kKey});
    TlsStream client(e.client, true, TlsStream::Role::Client, {Mode::Plain, kOtherKey});
    auto serverStart = std::async(std::launch::async, [&] { return server.start(3000); });
    const auto clientError = client.start(3000);
    const auto serverError = serverStart.get();
    ASSERT_TRUE(clientError && serverError);
    SCOPED_TRACE(clientError->toStdString() + " / " + serverError->toStdString());
    EXPECT_EQ(server.startFailure(), Stream::StartFailure::WrongKey);
    EXPECT_EQ(client.startFailure(), Stream::StartFailure::WrongKey);
    EXPECT_FALSE(server.encrypted());
}

TEST(TlsStream, TheServerTellsPlainPeersByTheirFirstByteOrSilence) {
    {
        // Silent (a plain station waiting for the greeting): plain after 250 ms.
        Ends e;
        TlsStream server(e.server, false, TlsStream::Role::Server, {Mode::Both, kKey});
        QElapsedTimer t;
        t.start();
        EXPECT_EQ(server.start(5000), std::nullopt);
        EXPECT_GE(t.elapsed(), TlsStream::kPlainAfterMs - 10);
        EXPECT_LT(t.elapsed(), 2000);
        EXPECT_FALSE(server.encrypted());
        ASSERT_EQ(server.writeAll("48\r\n", 4, 1000), std::nullopt);
        char buf[8] = {};
        EXPECT_EQ(::recv(e.client, buf, sizeof buf, 0), 4);
        ::close(e.client);
    }
    {
        // A plain line where only encrypted streams are let in.
        Ends e;
        TlsStream server(e.server, false, TlsStream::Role::Server, {Mode::EncryptedOnly, kKey});
        ASSERT_EQ(::send(e.client, "R01PC\r\n", 7, 0), 7);
        EXPECT_NE(server.start(5000), std::nullopt);
        EXPECT_EQ(server.startFailure(), Stream::StartFailure::Unencrypted);
        // The same line in Both is a plain station's, left unread for the session.
        Ends f;
        TlsStream both(f.server, false, TlsStream::Role::Server, {Mode::Both, kKey});
        ASSERT_EQ(::send(f.client, "R01PC\r\n", 7, 0), 7);
        EXPECT_EQ(both.start(5000), std::nullopt);
        EXPECT_EQ(ReadLine(both), QByteArray("R01PC\r\n"));
        ::close(e.client);
        ::close(f.client);
    }
}

TEST(TlsStream, ASilentOrStalledPeerWaitsUntilClosedWithoutBlame) {
    // Silent where only encrypted streams are let in: waits until shut down.
    Ends e;
    TlsStream silent(e.server, false, TlsStream::Role::Server, {Mode::EncryptedOnly, kKey});
    auto started = std::async(std::launch::async, [&] { return silent.start(-1); });
    EXPECT_EQ(started.wait_for(std::chrono::milliseconds(400)), std::future_status::timeout);
    silent.shutdown();
    EXPECT_NE(started.get(), std::nullopt);
    EXPECT_EQ(silent.startFailure(), Stream::StartFailure::Other);

    // A handshake record's first bytes and then nothing: the time runs out.
    Ends f;
    TlsStream stalled(f.server, false, TlsStream::Role::Server, {Mode::Both, kKey});
    ASSERT_EQ(::send(f.client, "\x16\x03\x01", 3, 0), 3);
    QElapsedTimer t;
    t.start();
    EXPECT_NE(stalled.start(500), std::nullopt);
    EXPECT_GE(t.elapsed(), 450);
    EXPECT_EQ(stalled.startFailure(), Stream::StartFailure::Other);
    ::close(e.client);
    ::close(f.client);
}

// Another TLS implementation's client (the openssl command) with TLS 1.2 and
// an ECDHE-PSK suite only: the key is derived as documented and the older
// protocol is served.
TEST(TlsStream, AnOpensslClientWithTls12EcdhePskIsServed) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    socklen_t len = sizeof addr;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    QProcess client;
    client.start(QStringLiteral("openssl"),
                 {QStringLiteral("s_client"), QStringLiteral("-quiet"), QStringLiteral("-tls1_2"),
                  QStringLiteral("-cipher"), QStringLiteral("ECDHE-PSK-CHACHA20-POLY1305"),
                  QStringLiteral("-psk_identity"), QStringLiteral("tarvina"),
                  QStringLiteral("-psk"), QString::fromLatin1(kKey.toHex()),
                  QStringLiteral("-connect"),
                  QStringLiteral("127.0.0.1:%1").arg(ntohs(addr.sin_port))});
    ASSERT_TRUE(client.waitForStarted(5000));
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ::close(listener);
    ASSERT_GE(fd, 0);
    TlsStream server(fd, false, TlsStream::Role::Server, {Mode::EncryptedOnly, kKey});
    const auto started = server.start(5000);
    ASSERT_EQ(started, std::nullopt)
        << started->toStdString() << client.readAllStandardError().toStdString();
    client.write("R01PC\n");
    ASSERT_TRUE(client.waitForBytesWritten(5000));
    EXPECT_EQ(ReadLine(server), QByteArray("R01PC\n"));
    ASSERT_EQ(server.writeAll("48\r\n", 4, 1000), std::nullopt);
    EXPECT_TRUE(client.waitForReadyRead(5000));
    EXPECT_TRUE(client.readAll().contains("48"));
    server.shutdown();
    client.closeWriteChannel();
    EXPECT_TRUE(client.waitForFinished(5000));
}

TEST(NetworkKey, GeneratedKeysHaveSixGroupsOfTheAlphabetAndDiffer) {
    const auto a = netkey::Generate();
    const auto b = netkey::Generate();
    ASSERT_TRUE(a && b);
    EXPECT_NE(*a, *b);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^([A-HJ-NP-Z2-9]{4}-){5}[A-HJ-NP-Z2-9]{4}$"))
                    .match(*a)
                    .hasMatch())
        << a->toStdString();
    // Typed loosely, the same key; anything else is no key.
    const QString typed = a->toLower().replace(u'-', u' ');
    EXPECT_EQ(netkey::Normalise(typed), netkey::Normalise(*a));
    EXPECT_EQ(netkey::Shown(*netkey::Normalise(*a)), *a);
    EXPECT_EQ(netkey::Normalise(QStringLiteral("K7QF-M2XD-9HPT-4WNA-C3RJ-E8V")), std::nullopt);
    EXPECT_EQ(netkey::Normalise(QStringLiteral("K7QF-M2XD-9HPT-4WNA-C3RJ-E8V0")), std::nullopt);
    // The documented derivation, fixed.
    EXPECT_EQ(
        netkey::Psk("K7QFM2XD9HPT4WNAC3RJE8VB").toHex(),
        QCryptographicHash::hash("K7QFM2XD9HPT4WNAC3RJE8VB", QCryptographicHash::Sha256).toHex());
}

TEST(NetworkKey, EveryCharacterAtEveryPlaceSurvivesTheStoredScramble) {
    for (const char* c = netkey::kAlphabet; *c != '\0'; ++c) {
        const QByteArray key(netkey::kChars, *c);
        EXPECT_EQ(netkey::Unscramble(netkey::Scrambled(key)), key) << *c;
    }
    EXPECT_EQ(netkey::Unscramble(QStringLiteral("no es una clave")), std::nullopt);
    EXPECT_EQ(netkey::Unscramble(QString()), std::nullopt);
}
