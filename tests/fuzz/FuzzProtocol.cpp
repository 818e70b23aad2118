// Feeds arbitrary bytes to every parser that sees network input, and checks
// the properties that must hold whatever the input: no crash, no hang, bounded
// memory, and writers whose output their readers take back unchanged.

#include "protocol/Block.h"
#include "protocol/DateTimeText.h"
#include "protocol/Fields.h"
#include "protocol/Line.h"
#include "protocol/LineReader.h"

#include <QBuffer>
#include <cmath>
#include <cstdlib>

using namespace tarvina::protocol;

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

void Lines(QByteArrayView data) {
    const ServerSideLine s = ParseAtServer(data);
    Check(s.code >= -1 && s.code <= 0xFF);
    Check(s.head3.size() <= 3);
    const QByteArray unknown = UnknownCommandText(s);
    Check(unknown.endsWith(')'));
    if (s.code >= 0)
        Check(ParseAtServer(FormatToServer(s.code, s.payload)).code == s.code);

    const ClientSideLine c = ParseAtClient(data);
    Check(c.code >= 0 && c.code <= 0xFF);
    Check(LimitPayload(c.payload).size() <= kMaxPayload);
}

void Fields(QByteArrayView data) {
    for (int n = 1; n <= 8; ++n) {
        const QByteArray f = CommaField(data, n);
        Check(!f.contains(','));
        if (!f.isEmpty())
            Check(static_cast<unsigned char>(f.front()) > 0x20 &&
                  static_cast<unsigned char>(f.back()) > 0x20);
    }
    ParseInt(data);
    VersionNumber(data);

    const QList<QByteArray> items = SplitCommaList(data);
    Check(SplitCommaList(JoinCommaList(items)) == items);

    const QByteArray hex = ToHexText(data);
    Check(FromHexText(hex) == data.toByteArray());
    if (const auto bytes = FromHexText(data))
        Check(ToHexText(*bytes) == data.toByteArray().toUpper());
    if (const auto v = ParseHex(data))
        Check(ParseHex(FormatHex(*v, 8)) == v);
}

void DateTimes(QByteArrayView data) {
    if (const auto v = ParseDateTimeNumber(data)) {
        const QByteArray text = FormatDateTimeNumber(*v);
        const auto back = ParseDateTimeNumber(text);
        // Rounding to 15 digits can push the extremes of the double range
        // out of it; no date-time is anywhere near them.
        if (!back) {
            Check(std::abs(*v) > 1e300 || std::abs(*v) < 1e-300);
            return;
        }
        // Writing is idempotent once rounded to 15 digits.
        Check(FormatDateTimeNumber(*back) == text);
    }
}

// The stream: lines, and after some of them a block, a count of lines or a
// 4-byte value, as the connection loops read them. A device that cannot wait
// turns every missing byte into a time-out, so nothing blocks.
void Stream(QByteArrayView data) {
    QByteArray bytes = data.toByteArray();
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    LineReader reader(&buffer, 64);
    QByteArray line;
    for (int steps = 0; steps < 10000; ++steps) {
        const LineReader::Status st = reader.next(line);
        Check(reader.held() <= 66);
        if (st == LineReader::Status::NeedMore || st == LineReader::Status::Closed)
            return;
        if (st != LineReader::Status::Line)
            continue;
        Check(line.size() <= 64);
        const int code = ParseAtServer(line).code;
        if (code == 0x12) {
            QByteArray block;
            const BlockError e = ReadBlock(reader, 4096, block, 0);
            Check(block.size() <= 4096);
            if (e != BlockError::None)
                return;
        } else if (code == 0x51) {
            QList<QByteArray> lines;
            const BlockError e = ReadCountedLines(reader, 100, lines, 0);
            Check(lines.size() <= 100);
            if (e != BlockError::None)
                return;
        } else if (code == 0x21) {
            quint32 mask = 0;
            if (ReadUInt32(reader, mask, 0) != BlockError::None)
                return;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView view(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    Lines(view);
    Fields(view);
    DateTimes(view);
    Stream(view);
    return 0;
}
