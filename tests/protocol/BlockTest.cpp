#include "protocol/Block.h"

#include "ScriptedDevice.h"
#include "protocol/LineReader.h"

#include <QBuffer>
#include <gtest/gtest.h>

namespace tarvina::protocol {
namespace {

using test::ScriptedDevice;
using Status = LineReader::Status;

TEST(Block, Encoding) {
    EXPECT_EQ(EncodeBlockHeader(0), QByteArray("\0\0\0\0", 4));
    EXPECT_EQ(EncodeBlockHeader(0x01020304), QByteArray("\x01\x02\x03\x04", 4));
    EXPECT_EQ(EncodeBlockHeader(-1), QByteArray("\xff\xff\xff\xff", 4));
    EXPECT_EQ(EncodeBlock("abc"), QByteArray("\0\0\0\x03"
                                             "abc",
                                             7));
    EXPECT_EQ(DecodeInt32(QByteArray("\xff\xff\xff\xfe", 4)), -2);
    EXPECT_EQ(DecodeUInt32(QByteArray("\x80\0\0\x01", 4)), 0x80000001u);
    EXPECT_FALSE(DecodeInt32("abc"));
    EXPECT_EQ(EncodeCountedLines({}), QByteArray(4, '\0'));
    EXPECT_EQ(EncodeCountedLines({"a", ""}), QByteArray("\0\0\0\x02"
                                                        "a\r\n\r\n",
                                                        9));
}

TEST(Block, LinesAndBlocksInOneChunk) {
    // A screen capture announced by its line, an empty free message, then a line.
    ScriptedDevice dev;
    dev.arrive("R12\r\n" + EncodeBlock("BMxyz") + "R14\r\n" + EncodeBlock("") + "R13hola\r\n");
    LineReader reader(&dev);
    QByteArray line, block;
    ASSERT_EQ(reader.next(line), Status::Line);
    EXPECT_EQ(line, "R12");
    ASSERT_EQ(ReadBlock(reader, 1 << 20, block, 1000), BlockError::None);
    EXPECT_EQ(block, "BMxyz");
    ASSERT_EQ(reader.next(line), Status::Line);
    EXPECT_EQ(line, "R14");
    block = "stale";
    ASSERT_EQ(ReadBlock(reader, 1 << 20, block, 1000), BlockError::None);
    EXPECT_TRUE(block.isEmpty());
    ASSERT_EQ(reader.next(line), Status::Line);
    EXPECT_EQ(line, "R13hola");
}

TEST(Block, SplitOneByteAtATime) {
    ScriptedDevice dev;
    const QByteArray content(300, '\x5a');
    dev.scriptByteByByte("R12\r\n" + EncodeBlock(content) + "R01PC\r\n");
    LineReader reader(&dev);
    QByteArray line, block;
    ASSERT_EQ(reader.readLineWait(line, 1000), Status::Line);
    ASSERT_EQ(ReadBlock(reader, 300, block, 1000), BlockError::None);
    EXPECT_EQ(block, content);
    ASSERT_EQ(reader.readLineWait(line, 1000), Status::Line);
    EXPECT_EQ(line, "R01PC");
}

TEST(Block, MemoryFollowsTheBytes) {
    // However the body is cut, the buffer never grows past the announced size.
    const QByteArray content(70000, 'c');
    const QByteArray wire = EncodeBlock(content);
    ScriptedDevice dev;
    for (qsizetype at = 0; at < wire.size(); at += 1000)
        dev.script(wire.mid(at, 1000));
    QByteArray out;
    ASSERT_EQ(ReadBlock(dev, 100000, out, 1000), BlockError::None);
    EXPECT_EQ(out, content);
    EXPECT_LE(out.capacity(), content.size());
}

TEST(Block, HostileHeaders) {
    QByteArray out;
    {
        ScriptedDevice dev;
        dev.arrive(EncodeBlockHeader(-5) + "abcde");
        EXPECT_EQ(ReadBlock(dev, 1 << 20, out, 1000), BlockError::Negative);
    }
    {
        // A length over the bound is refused before the body is touched.
        ScriptedDevice dev;
        dev.arrive(EncodeBlockHeader(0x7FFFFFFF) + "abc");
        EXPECT_EQ(ReadBlock(dev, 1 << 20, out, 1000), BlockError::TooLarge);
        EXPECT_TRUE(out.isEmpty());
        EXPECT_EQ(dev.unread(), 3);
    }
    {
        // A length within a generous bound but a body that never comes: the
        // reader asks the device for small chunks only and reports the loss.
        ScriptedDevice dev({"abc"}, true);
        dev.arrive(EncodeBlockHeader(0x7FFFFFFF));
        EXPECT_EQ(ReadBlock(dev, std::numeric_limits<qint64>::max(), out, -1), BlockError::Closed);
        EXPECT_TRUE(out.isEmpty());
        EXPECT_LE(dev.largestReadRequest(), 64 * 1024);
    }
    {
        ScriptedDevice dev({QByteArray("\0\0", 2)});
        EXPECT_EQ(ReadBlock(dev, 10, out, 0), BlockError::Timeout);
    }
    {
        ScriptedDevice dev;
        dev.arrive(EncodeBlock("abc").left(5));
        EXPECT_EQ(ReadBlock(dev, 10, out, 0), BlockError::Timeout);
    }
}

TEST(Block, ToFile) {
    ScriptedDevice dev;
    const QByteArray content = QByteArray(40000, 'q') + "end";
    dev.scriptByteByByte(EncodeBlock("hi"));
    LineReader reader(&dev);
    QBuffer file;
    file.open(QIODevice::WriteOnly);
    // The first block arrives byte by byte.
    ASSERT_EQ(ReadBlockToFile(reader, 10, file, 1000), BlockError::None);
    EXPECT_EQ(file.data(), "hi");
    // The second arrives in two pieces.
    dev.script(EncodeBlock(content).left(1000));
    dev.script(EncodeBlock(content).mid(1000));
    file.buffer().clear();
    file.seek(0);
    ASSERT_EQ(ReadBlockToFile(reader, content.size(), file, 1000), BlockError::None);
    EXPECT_EQ(file.data(), content);

    QBuffer readOnly;
    readOnly.open(QIODevice::ReadOnly);
    dev.arrive(EncodeBlock("x"));
    EXPECT_EQ(ReadBlockToFile(reader, 10, readOnly, 1000), BlockError::WriteFailed);
}

TEST(CountedLines, CountThenLines) {
    ScriptedDevice dev;
    dev.arrive("R51\r\n" + EncodeCountedLines({}) + "R51\r\n" +
               EncodeCountedLines({"12/05/24 10:00:00 Falla", "", "otra"}) + "R01x\r\n");
    LineReader reader(&dev);
    QByteArray line;
    QList<QByteArray> lines{"stale"};
    ASSERT_EQ(reader.next(line), Status::Line);
    ASSERT_EQ(ReadCountedLines(reader, 1000, lines), BlockError::None);
    EXPECT_TRUE(lines.isEmpty());
    ASSERT_EQ(reader.next(line), Status::Line);
    ASSERT_EQ(ReadCountedLines(reader, 1000, lines), BlockError::None);
    EXPECT_EQ(lines, (QList<QByteArray>{"12/05/24 10:00:00 Falla", "", "otra"}));
    ASSERT_EQ(reader.next(line), Status::Line);
    EXPECT_EQ(line, "R01x");
}

TEST(CountedLines, FailuresKeepWhatArrived) {
    {
        ScriptedDevice dev;
        dev.arrive(EncodeInt32(-1));
        LineReader reader(&dev);
        QList<QByteArray> lines;
        EXPECT_EQ(ReadCountedLines(reader, 10, lines), BlockError::Negative);
    }
    {
        ScriptedDevice dev;
        dev.arrive(EncodeInt32(1000000) + "a\r\n");
        LineReader reader(&dev);
        QList<QByteArray> lines;
        EXPECT_EQ(ReadCountedLines(reader, 1000, lines), BlockError::TooLarge);
        EXPECT_TRUE(lines.isEmpty());
    }
    {
        ScriptedDevice dev({"two\r\nthr"}, true);
        dev.arrive(EncodeInt32(3) + "one\r\n");
        LineReader reader(&dev);
        QList<QByteArray> lines;
        EXPECT_EQ(ReadCountedLines(reader, 10, lines, 1000), BlockError::Closed);
        EXPECT_EQ(lines, (QList<QByteArray>{"one", "two"}));
    }
    {
        ScriptedDevice dev;
        dev.arrive(EncodeInt32(2) + "one\r\n");
        LineReader reader(&dev);
        QList<QByteArray> lines;
        EXPECT_EQ(ReadCountedLines(reader, 10, lines, 0), BlockError::Timeout);
        EXPECT_EQ(lines, QList<QByteArray>{"one"});
    }
}

TEST(FourByteValues, MaskAndNumbers) {
    ScriptedDevice dev;
    dev.arrive(EncodeUInt32(0x03FFFFFFu) + EncodeInt32(-7) + QByteArray("\0", 1));
    LineReader reader(&dev);
    quint32 mask = 0;
    qint32 number = 0;
    ASSERT_EQ(ReadUInt32(reader, mask, 100), BlockError::None);
    EXPECT_EQ(mask, 0x03FFFFFFu);
    ASSERT_EQ(ReadInt32(reader, number, 100), BlockError::None);
    EXPECT_EQ(number, -7);
    EXPECT_EQ(ReadInt32(reader, number, 0), BlockError::Timeout);
    dev.hangUp();
    EXPECT_EQ(ReadInt32(reader, number, 0), BlockError::Closed);
}

} // namespace
} // namespace tarvina::protocol
