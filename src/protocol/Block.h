#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <optional>

class QIODevice;

namespace tarvina::protocol {

class LineReader;

// Blocks: a 4-byte big-endian signed length, then that many bytes.
// Counted lines: a 4-byte big-endian signed count, then that many CR LF lines.

// The server waits this long for each line of a counted list.
constexpr int kCountedLineTimeoutMs = 2000;

enum class BlockError {
    None,
    Negative,    // the length or count is below zero
    TooLarge,    // over the caller's bound; nothing of the body was read
    Closed,      // the connection ended first
    Timeout,     // the time ran out first
    WriteFailed, // the destination file refused the bytes
};

QByteArray EncodeInt32(qint32 v);
QByteArray EncodeUInt32(quint32 v);
// Reads a big-endian value from the first four bytes; nullopt when fewer.
std::optional<qint32> DecodeInt32(QByteArrayView bytes);
std::optional<quint32> DecodeUInt32(QByteArrayView bytes);

QByteArray EncodeBlockHeader(qint32 len);
// Header and content. Content of 2 GiB or more cannot be announced and is
// refused with an empty result.
QByteArray EncodeBlock(QByteArrayView content);

// Four raw bytes after a line (the ConfigReport mask and banner numbers).
// timeoutMs is for the whole read; negative waits without limit.
BlockError ReadInt32(LineReader& reader, qint32& out, int timeoutMs);
BlockError ReadUInt32(LineReader& reader, quint32& out, int timeoutMs);

// Reads a whole block into `out`. A length over maxSize is refused before
// anything is allocated; memory then grows only as bytes arrive, so a length
// that lies costs nothing. After TooLarge, Negative, Closed or Timeout the
// stream is out of step and the connection should be dropped.
BlockError ReadBlock(LineReader& reader, qint64 maxSize, QByteArray& out, int timeoutMs);
BlockError ReadBlock(QIODevice& device, qint64 maxSize, QByteArray& out, int timeoutMs);

// Same, writing the bytes to `file` in chunks as they come.
BlockError ReadBlockToFile(LineReader& reader, qint64 maxSize, QIODevice& file, int timeoutMs);
BlockError ReadBlockToFile(QIODevice& device, qint64 maxSize, QIODevice& file, int timeoutMs);

// The count of a counted list (negative → Negative).
BlockError ReadCount(LineReader& reader, qint32& count, int timeoutMs);

// Count header followed by each line with CR LF.
QByteArray EncodeCountedLines(const QList<QByteArray>& lines);

// Reads the count and then the lines, each within lineTimeoutMs. A count over
// maxCount is refused before any line is read. A line over the length limit
// counts as read but is not stored. On Timeout or Closed, `lines` keeps the
// lines that did arrive.
BlockError ReadCountedLines(LineReader& reader, qint32 maxCount, QList<QByteArray>& lines,
                            int lineTimeoutMs = kCountedLineTimeoutMs);

} // namespace tarvina::protocol
