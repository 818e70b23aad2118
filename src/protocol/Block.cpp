#include "protocol/Block.h"

#include "protocol/Line.h"
#include "protocol/LineReader.h"

#include <QDeadlineTimer>
#include <QIODevice>
#include <limits>

namespace tarvina::protocol {

namespace {

// Memory for a block grows by at most this much ahead of the bytes received.
constexpr qint64 kChunk = 64 * 1024;

QDeadlineTimer DeadlineFor(int timeoutMs) {
    return timeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(timeoutMs);
}

BlockError FromRaw(LineReader::RawStatus s) {
    switch (s) {
    case LineReader::RawStatus::Ok:
        return BlockError::None;
    case LineReader::RawStatus::Timeout:
        return BlockError::Timeout;
    case LineReader::RawStatus::Closed:
        break;
    }
    return BlockError::Closed;
}

BlockError ReadHeader(LineReader& reader, qint32& out, QDeadlineTimer deadline) {
    char raw[4];
    const BlockError e = FromRaw(reader.readExact(raw, 4, deadline));
    if (e != BlockError::None)
        return e;
    out = *DecodeInt32(QByteArrayView(raw, 4));
    return BlockError::None;
}

// Reads the length, checks it against the bound, then hands the body to
// `sink` chunk by chunk.
template <typename Sink>
BlockError ReadBody(LineReader& reader, qint64 maxSize, int timeoutMs, Sink&& sink) {
    const QDeadlineTimer deadline = DeadlineFor(timeoutMs);
    qint32 len = 0;
    if (const BlockError e = ReadHeader(reader, len, deadline); e != BlockError::None)
        return e;
    if (len < 0)
        return BlockError::Negative;
    if (len > maxSize)
        return BlockError::TooLarge;
    char chunk[16 * 1024];
    qint64 left = len;
    while (left > 0) {
        qint64 n = reader.readSome(chunk, std::min<qint64>(left, sizeof chunk));
        if (n < 0)
            return BlockError::Closed;
        if (n == 0) {
            if (!reader.waitForMore(deadline)) {
                n = reader.readSome(chunk, std::min<qint64>(left, sizeof chunk));
                if (n < 0)
                    return BlockError::Closed;
                if (n == 0)
                    return reader.device() && reader.device()->isOpen() ? BlockError::Timeout
                                                                        : BlockError::Closed;
            }
            if (n == 0)
                continue;
        }
        if (!sink(chunk, n, static_cast<qint64>(len)))
            return BlockError::WriteFailed;
        left -= n;
    }
    return BlockError::None;
}

} // namespace

QByteArray EncodeInt32(qint32 v) {
    return EncodeUInt32(static_cast<quint32>(v));
}

QByteArray EncodeUInt32(quint32 v) {
    QByteArray out(4, Qt::Uninitialized);
    out[0] = static_cast<char>((v >> 24) & 0xFF);
    out[1] = static_cast<char>((v >> 16) & 0xFF);
    out[2] = static_cast<char>((v >> 8) & 0xFF);
    out[3] = static_cast<char>(v & 0xFF);
    return out;
}

std::optional<quint32> DecodeUInt32(QByteArrayView bytes) {
    if (bytes.size() < 4)
        return std::nullopt;
    const auto b = [&](int i) { return static_cast<quint32>(static_cast<quint8>(bytes[i])); };
    return (b(0) << 24) | (b(1) << 16) | (b(2) << 8) | b(3);
}

std::optional<qint32> DecodeInt32(QByteArrayView bytes) {
    const auto u = DecodeUInt32(bytes);
    if (!u)
        return std::nullopt;
    return static_cast<qint32>(*u);
}

QByteArray EncodeBlockHeader(qint32 len) {
    return EncodeInt32(len);
}

QByteArray EncodeBlock(QByteArrayView content) {
    if (content.size() > std::numeric_limits<qint32>::max())
        return {};
    QByteArray out = EncodeBlockHeader(static_cast<qint32>(content.size()));
    out.append(content);
    return out;
}

BlockError ReadInt32(LineReader& reader, qint32& out, int timeoutMs) {
    return ReadHeader(reader, out, DeadlineFor(timeoutMs));
}

BlockError ReadUInt32(LineReader& reader, quint32& out, int timeoutMs) {
    qint32 v = 0;
    const BlockError e = ReadHeader(reader, v, DeadlineFor(timeoutMs));
    if (e == BlockError::None)
        out = static_cast<quint32>(v);
    return e;
}

BlockError ReadBlock(LineReader& reader, qint64 maxSize, QByteArray& out, int timeoutMs) {
    out.clear();
    const BlockError e =
        ReadBody(reader, maxSize, timeoutMs, [&](const char* data, qint64 n, qint64 total) {
            // Grow ahead of the bytes that came by at most their own size or one
            // chunk, and never past the announced total (itself within maxSize).
            const qint64 need = out.size() + n;
            if (need > out.capacity()) {
                const qint64 ahead = std::max<qint64>(need * 2, need + kChunk);
                out.reserve(static_cast<qsizetype>(std::min(total, ahead)));
            }
            out.append(data, static_cast<qsizetype>(n));
            return true;
        });
    if (e != BlockError::None)
        out.clear();
    return e;
}

BlockError ReadBlock(QIODevice& device, qint64 maxSize, QByteArray& out, int timeoutMs) {
    // A fresh reader holds nothing and reads only what the block needs, so no
    // byte after the block is taken from the device.
    LineReader reader(&device);
    return ReadBlock(reader, maxSize, out, timeoutMs);
}

BlockError ReadBlockToFile(LineReader& reader, qint64 maxSize, QIODevice& file, int timeoutMs) {
    return ReadBody(reader, maxSize, timeoutMs,
                    [&](const char* data, qint64 n, qint64) { return file.write(data, n) == n; });
}

BlockError ReadBlockToFile(QIODevice& device, qint64 maxSize, QIODevice& file, int timeoutMs) {
    LineReader reader(&device);
    return ReadBlockToFile(reader, maxSize, file, timeoutMs);
}

BlockError ReadCount(LineReader& reader, qint32& count, int timeoutMs) {
    qint32 v = 0;
    const BlockError e = ReadHeader(reader, v, DeadlineFor(timeoutMs));
    if (e != BlockError::None)
        return e;
    if (v < 0)
        return BlockError::Negative;
    count = v;
    return BlockError::None;
}

QByteArray EncodeCountedLines(const QList<QByteArray>& lines) {
    QByteArray out = EncodeInt32(static_cast<qint32>(lines.size()));
    for (const QByteArray& line : lines)
        out.append(Terminate(line));
    return out;
}

BlockError ReadCountedLines(LineReader& reader, qint32 maxCount, QList<QByteArray>& lines,
                            int lineTimeoutMs) {
    lines.clear();
    qint32 count = 0;
    if (const BlockError e = ReadCount(reader, count, lineTimeoutMs); e != BlockError::None)
        return e;
    if (count > maxCount)
        return BlockError::TooLarge;
    for (qint32 i = 0; i < count; ++i) {
        QByteArray line;
        switch (reader.readLineWait(line, lineTimeoutMs)) {
        case LineReader::Status::Line:
            lines.append(line);
            break;
        case LineReader::Status::TooLong:
            break;
        case LineReader::Status::NeedMore:
            return BlockError::Timeout;
        case LineReader::Status::Closed:
            return BlockError::Closed;
        }
    }
    return BlockError::None;
}

} // namespace tarvina::protocol
