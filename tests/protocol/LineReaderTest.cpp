#include "protocol/LineReader.h"

#include "ScriptedDevice.h"

#include <QBuffer>
#include <gtest/gtest.h>

namespace tarvina::protocol {
namespace {

using test::ScriptedDevice;
using Status = LineReader::Status;

TEST(LineReader, JoinedLinesInOneChunk) {
    ScriptedDevice dev;
    dev.arrive("R01PC1\r\nR4800-1A-2B-3C-4D-5E\r\n\r\nR13sin CR\nR02");
    LineReader reader(&dev);
    QByteArray line;
    ASSERT_EQ(reader.next(line), Status::Line);
    EXPECT_EQ(line, "R01PC1");
    ASSERT_EQ(reader.next(line), Status::Line);
    EXPECT_EQ(line, "R4800-1A-2B-3C-4D-5E");
    ASSERT_EQ(reader.next(line), Status::Line);
    EXPECT_EQ(line, "");
    ASSERT_EQ(reader.next(line), Status::Line);
    EXPECT_EQ(line, "R13sin CR");
    EXPECT_EQ(reader.next(line), Status::NeedMore);
    dev.arrive("1\r\n");
    ASSERT_EQ(reader.next(line), Status::Line);
    EXPECT_EQ(line, "R021");
    dev.hangUp();
    EXPECT_EQ(reader.next(line), Status::Closed);
}

TEST(LineReader, SplitOneByteAtATime) {
    ScriptedDevice dev;
    dev.scriptByteByByte("0A2,15,30\r\n08\r\n");
    LineReader reader(&dev);
    QByteArray line;
    ASSERT_EQ(reader.readLineWait(line, 1000), Status::Line);
    EXPECT_EQ(line, "0A2,15,30");
    ASSERT_EQ(reader.readLineWait(line, 1000), Status::Line);
    EXPECT_EQ(line, "08");
    // Nothing more scripted: the wait gives up without a line.
    EXPECT_EQ(reader.readLineWait(line, 0), Status::NeedMore);
    // A CR alone inside a line is kept; only the one before LF is dropped.
    dev.scriptByteByByte("a\rb\r\r\n");
    ASSERT_EQ(reader.readLineWait(line, 1000), Status::Line);
    EXPECT_EQ(line, "a\rb\r");
}

TEST(LineReader, LengthLimit) {
    const QByteArray longest(kMaxLineLength, 'x');
    const QByteArray tooLong(kMaxLineLength + 1, 'y');
    const QByteArray huge(5 * kMaxLineLength, 'z');
    ScriptedDevice dev({longest + "\r\n", tooLong + "\r\n", "R01a\r\n", huge, huge, "\r\nR01b\r\n",
                        tooLong + "\n", "R01c\n"},
                       true);
    LineReader reader(&dev);
    QByteArray line;
    ASSERT_EQ(reader.readLineWait(line, 1000), Status::Line);
    EXPECT_EQ(line.size(), kMaxLineLength);
    EXPECT_EQ(reader.readLineWait(line, 1000), Status::TooLong);
    ASSERT_EQ(reader.readLineWait(line, 1000), Status::Line);
    EXPECT_EQ(line, "R01a");
    // A line ten times over the limit is refused once, and the reader never
    // holds or asks for more than one line's worth.
    EXPECT_EQ(reader.readLineWait(line, 1000), Status::TooLong);
    EXPECT_LE(reader.held(), kMaxLineLength + 2);
    ASSERT_EQ(reader.readLineWait(line, 1000), Status::Line);
    EXPECT_EQ(line, "R01b");
    // Over the limit by one byte without a CR.
    EXPECT_EQ(reader.readLineWait(line, 1000), Status::TooLong);
    ASSERT_EQ(reader.readLineWait(line, 1000), Status::Line);
    EXPECT_EQ(line, "R01c");
    EXPECT_LE(dev.largestReadRequest(), kMaxLineLength + 2);
    EXPECT_EQ(reader.readLineWait(line, 1000), Status::Closed);
}

TEST(LineReader, SmallLimitAndNonWaitingDevice) {
    QBuffer buffer;
    buffer.setData("12345\r\n123456\r\n1234567\r\nok\r\n");
    buffer.open(QIODevice::ReadOnly);
    LineReader reader(&buffer, 6);
    QByteArray line;
    ASSERT_EQ(reader.next(line), Status::Line);
    EXPECT_EQ(line, "12345");
    ASSERT_EQ(reader.next(line), Status::Line);
    EXPECT_EQ(line, "123456");
    EXPECT_EQ(reader.next(line), Status::TooLong);
    ASSERT_EQ(reader.next(line), Status::Line);
    EXPECT_EQ(line, "ok");
    // A device that cannot wait must not make the waiting call spin.
    EXPECT_EQ(reader.readLineWait(line, -1), Status::NeedMore);
    buffer.close();
    EXPECT_EQ(reader.next(line), Status::Closed);
    LineReader nothing(nullptr);
    EXPECT_EQ(nothing.next(line), Status::Closed);
}

} // namespace
} // namespace tarvina::protocol
