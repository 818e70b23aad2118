#pragma once

// Windows bitmap file images for the tests of the screen capture.

#include <QByteArray>
#include <QtEndian>
#include <array>
#include <cstdlib>

namespace tarvina::test {

// A bitmap file image with zeroed pixels: 40-byte header, masks after it
// for BI_BITFIELDS. `pixelBytes` < 0 gives exactly the rows the size needs.
inline QByteArray MakeBmp(qint32 w, qint32 h, int bpp, quint32 compression = 0,
                          std::array<quint32, 3> masks = {}, qint64 pixelBytes = -1) {
    const qint64 stride = ((qint64(w) * bpp + 31) / 32) * 4;
    const qint64 pixels = pixelBytes >= 0 ? pixelBytes : stride * std::abs(h);
    const int extra = compression == 3 ? 12 : 0;
    const quint32 off = 14 + 40 + extra;
    QByteArray b(off, '\0');
    auto put32 = [&](int at, quint32 v) { qToLittleEndian(v, b.data() + at); };
    auto put16 = [&](int at, quint16 v) { qToLittleEndian(v, b.data() + at); };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, static_cast<quint32>(off + pixels));
    put32(10, off);
    put32(14, 40);
    put32(18, static_cast<quint32>(w));
    put32(22, static_cast<quint32>(h));
    put16(26, 1);
    put16(28, static_cast<quint16>(bpp));
    put32(30, compression);
    if (extra) {
        put32(54, masks[0]);
        put32(58, masks[1]);
        put32(62, masks[2]);
    }
    b.append(QByteArray(pixels, '\0'));
    return b;
}

} // namespace tarvina::test
