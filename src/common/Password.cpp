#include "common/Password.h"

namespace tarvina::common {

QByteArray ScramblePassword(QByteArrayView plain) {
    const qsizetype n = plain.size();
    QByteArray out(n, '\0');
    for (qsizetype i = 1; i <= n; ++i) {
        const quint8 c = static_cast<quint8>(plain[i - 1]);
        quint8 b;
        if (c % 7 == 3)
            b = c ^ quint8((n - i + 24) % 256);
        else if (i % 11 == 3 || i % 11 == 7)
            b = c ^ quint8((i + 128) % 256);
        else
            b = c ^ 0x84;
        // Stored texts and the wire must never see these bytes.
        switch (b) {
        case 0x00:
            b = 0xF1;
            break;
        case 0x0A:
            b = 0x6A;
            break;
        case 0x0D:
            b = 0xFC;
            break;
        case 0x2C:
            b = 0x3A;
            break;
        default:
            break;
        }
        out[i - 1] = char(b);
    }
    return out;
}

} // namespace tarvina::common
