#pragma once

#include "protocol/Line.h"

#include <QByteArray>
#include <QDeadlineTimer>

class QIODevice;

namespace tarvina::protocol {

enum class TakeLineResult { Line, TooLong, NeedMore };

// The framing rule every reader of the wire shares: takes the next CR LF (or
// bare LF) line out of `buffer`. A line over maxLine bytes is reported once as
// TooLong and its bytes are dropped up to its LF, with `discarding` carrying
// that across calls, so the buffer never has to hold more than maxLine + 2
// bytes. NeedMore: the buffer holds no complete line yet.
TakeLineResult TakeLine(QByteArray& buffer, bool& discarding, qsizetype maxLine, QByteArray& line);

// Splits a byte stream into CR LF lines. It owns the bytes it has taken from
// the device but not yet handed out, so blocks and 4-byte values that follow
// a line must be read through it too (readSome / readExact).
//
// Memory: it never holds more than maxLine + 2 bytes. A longer line is
// reported once as TooLong, its bytes are dropped up to its LF, and the next
// line is read normally.
class LineReader {
public:
    enum class Status {
        Line,     // `line` holds the next line without CR LF
        NeedMore, // no complete line yet (for the waiting calls: the time ran out)
        TooLong,  // a line over the limit was refused
        Closed,   // the device is closed or failed
    };
    enum class RawStatus { Ok, Timeout, Closed };

    explicit LineReader(QIODevice* device, qsizetype maxLine = kMaxLineLength);

    // Does not wait.
    Status next(QByteArray& line);

    // Waits with device->waitForReadyRead for at most timeoutMs in all
    // (negative: no limit). NeedMore means the time ran out.
    Status readLineWait(QByteArray& line, int timeoutMs);

    // Up to `max` raw bytes, from the held bytes first. Does not wait.
    // Returns -1 when nothing is held and the device is closed.
    qint64 readSome(char* dst, qint64 max);

    // Exactly n raw bytes, waiting until the deadline.
    RawStatus readExact(char* dst, qint64 n, QDeadlineTimer deadline);

    // Waits for more bytes from the device; false when the deadline passed or
    // the device cannot deliver more.
    bool waitForMore(QDeadlineTimer deadline);

    QIODevice* device() const { return device_; }
    qsizetype maxLine() const { return maxLine_; }
    // Bytes taken from the device and not yet handed out.
    qsizetype held() const { return buffer_.size(); }

private:
    // Reads from the device into the buffer, never past maxLine + 2 bytes.
    // Returns the number of bytes added, or -1 when the device is closed.
    qint64 fill();
    bool deviceClosed() const;

    QIODevice* device_;
    qsizetype maxLine_;
    QByteArray buffer_;
    bool discarding_ = false;
};

} // namespace tarvina::protocol
