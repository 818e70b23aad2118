#include "client/control/BmpImage.h"

#include <QtEndian>
#include <cstring>
#include <limits>

namespace tarvina::client {

namespace {

constexpr int kFileHeader = 14;
constexpr int kInfoHeader = 40;

void Put16(char* at, quint16 v) {
    qToLittleEndian(v, at);
}
void Put32(char* at, quint32 v) {
    qToLittleEndian(v, at);
}

int BitsOf(int depth) {
    return depth == 32 ? 32 : 24;
}

qint64 RowBytes(int width, int bits) {
    return ((static_cast<qint64>(width) * bits + 31) / 32) * 4;
}

} // namespace

qint64 BmpFileSize(int width, int height, int depth) {
    if (width <= 0 || height <= 0)
        return 0;
    const qint64 size =
        kFileHeader + kInfoHeader + RowBytes(width, BitsOf(depth)) * static_cast<qint64>(height);
    return size <= std::numeric_limits<qint32>::max() ? size : 0;
}

QByteArray EncodeBmp(const platform::ScreenImage& image) {
    if (!image.valid())
        return {};
    const qint64 total = BmpFileSize(image.width, image.height, image.depth);
    if (total == 0)
        return {};
    const int bits = BitsOf(image.depth);
    const qint64 row = RowBytes(image.width, bits);
    QByteArray out(static_cast<qsizetype>(total), '\0');
    char* p = out.data();
    p[0] = 'B';
    p[1] = 'M';
    Put32(p + 2, static_cast<quint32>(total));
    Put32(p + 10, kFileHeader + kInfoHeader);
    char* h = p + kFileHeader;
    Put32(h, kInfoHeader);
    Put32(h + 4, static_cast<quint32>(image.width));
    Put32(h + 8, static_cast<quint32>(image.height)); // positive: rows from the bottom
    Put16(h + 12, 1);
    Put16(h + 14, static_cast<quint16>(bits));
    Put32(h + 16, 0); // no compression
    Put32(h + 20, static_cast<quint32>(row * image.height));
    // 96 dots per inch, as a display reports itself.
    Put32(h + 24, 3780);
    Put32(h + 28, 3780);

    const char* src = image.pixels.constData();
    char* rows = p + kFileHeader + kInfoHeader;
    for (int y = 0; y < image.height; ++y) {
        const char* in = src + static_cast<qint64>(image.height - 1 - y) * image.width * 4;
        char* o = rows + static_cast<qint64>(y) * row;
        if (bits == 32) {
            std::memcpy(o, in, static_cast<size_t>(image.width) * 4);
            continue;
        }
        for (int x = 0; x < image.width; ++x) {
            o[0] = in[0];
            o[1] = in[1];
            o[2] = in[2];
            o += 3;
            in += 4;
        }
    }
    return out;
}

} // namespace tarvina::client
