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

// A 15- or 16-bit display gives a 16-bit bitmap (5-6-5 for 16 bits, through
// the colour masks; 5-5-5 for 15), a 32-bit one a 32-bit bitmap, any other
// 24 bits.
int BitsOf(int depth) {
    return depth == 32 ? 32 : depth == 16 || depth == 15 ? 16 : 24;
}

// The three colour masks that follow the header of a 5-6-5 bitmap.
int MaskBytes(int depth) {
    return depth == 16 ? 12 : 0;
}

qint64 RowBytes(int width, int bits) {
    return ((static_cast<qint64>(width) * bits + 31) / 32) * 4;
}

} // namespace

qint64 BmpFileSize(int width, int height, int depth) {
    if (width <= 0 || height <= 0)
        return 0;
    const qint64 size = kFileHeader + kInfoHeader + MaskBytes(depth) +
                        RowBytes(width, BitsOf(depth)) * static_cast<qint64>(height);
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
    const int masks = MaskBytes(image.depth);
    Put32(p + 10, static_cast<quint32>(kFileHeader + kInfoHeader + masks));
    char* h = p + kFileHeader;
    Put32(h, kInfoHeader);
    Put32(h + 4, static_cast<quint32>(image.width));
    Put32(h + 8, static_cast<quint32>(image.height)); // positive: rows from the bottom
    Put16(h + 12, 1);
    Put16(h + 14, static_cast<quint16>(bits));
    Put32(h + 16, masks ? 3 : 0); // bit fields for 5-6-5, else none
    Put32(h + 20, static_cast<quint32>(row * image.height));
    // 96 dots per inch, as a display reports itself.
    Put32(h + 24, 3780);
    Put32(h + 28, 3780);

    if (masks) {
        Put32(h + kInfoHeader, 0xF800);
        Put32(h + kInfoHeader + 4, 0x07E0);
        Put32(h + kInfoHeader + 8, 0x001F);
    }
    const char* src = image.pixels.constData();
    char* rows = p + kFileHeader + kInfoHeader + masks;
    for (int y = 0; y < image.height; ++y) {
        const char* in = src + static_cast<qint64>(image.height - 1 - y) * image.width * 4;
        char* o = rows + static_cast<qint64>(y) * row;
        if (bits == 32) {
            std::memcpy(o, in, static_cast<size_t>(image.width) * 4);
            continue;
        }
        if (bits == 16) {
            const bool six = masks != 0;
            for (int x = 0; x < image.width; ++x) {
                const auto blue = static_cast<quint8>(in[0]);
                const auto green = static_cast<quint8>(in[1]);
                const auto red = static_cast<quint8>(in[2]);
                const quint16 v = six ? static_cast<quint16>(((red >> 3) << 11) |
                                                             ((green >> 2) << 5) | (blue >> 3))
                                      : static_cast<quint16>(((red >> 3) << 10) |
                                                             ((green >> 3) << 5) | (blue >> 3));
                Put16(o, v);
                o += 2;
                in += 4;
            }
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
