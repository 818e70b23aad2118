// The reader against a real TCP socket: what a connection thread sees when
// the peer writes lines and blocks in odd pieces and then hangs up.

#include "protocol/Block.h"
#include "protocol/LineReader.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>
#include <memory>

namespace tarvina::protocol {
namespace {

using Status = LineReader::Status;

struct Pair {
    QTcpServer server;
    QTcpSocket client;
    std::unique_ptr<QTcpSocket> peer;

    bool open() {
        if (!server.listen(QHostAddress::LocalHost, 0))
            return false;
        client.connectToHost(QHostAddress::LocalHost, server.serverPort());
        if (!client.waitForConnected(5000) || !server.waitForNewConnection(5000))
            return false;
        peer.reset(server.nextPendingConnection());
        return peer != nullptr;
    }
    void send(const QByteArray& bytes) {
        peer->write(bytes);
        peer->waitForBytesWritten(5000);
    }
};

TEST(SocketReader, LinesBlocksAndHangUp) {
    Pair p;
    ASSERT_TRUE(p.open());
    LineReader reader(&p.client);
    QByteArray line, block;

    p.send("R48AA-BB");
    p.send("-CC-DD-EE-FF\r\nR12\r\n" + EncodeBlock("BM").left(3));
    ASSERT_EQ(reader.readLineWait(line, 5000), Status::Line);
    EXPECT_EQ(line, "R48AA-BB-CC-DD-EE-FF");
    ASSERT_EQ(reader.readLineWait(line, 5000), Status::Line);
    EXPECT_EQ(line, "R12");
    p.send(EncodeBlock("BM").mid(3) + "R01PC1\r\n");
    ASSERT_EQ(ReadBlock(reader, 100, block, 5000), BlockError::None);
    EXPECT_EQ(block, "BM");
    ASSERT_EQ(reader.readLineWait(line, 5000), Status::Line);
    EXPECT_EQ(line, "R01PC1");

    // Nothing sent: the wait ends without a line and the connection stays up.
    EXPECT_EQ(reader.readLineWait(line, 50), Status::NeedMore);

    // A block that stops short, then the peer hangs up.
    p.send(EncodeBlockHeader(10) + "abc");
    p.peer->disconnectFromHost();
    EXPECT_EQ(ReadBlock(reader, 100, block, 5000), BlockError::Closed);
    EXPECT_EQ(reader.readLineWait(line, 5000), Status::Closed);
}

} // namespace
} // namespace tarvina::protocol
