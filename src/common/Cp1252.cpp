#include "common/Cp1252.h"

namespace tarvina::common {

namespace {

// 0x80..0x9F; the undefined positions keep their own number, as Windows maps them.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 98-9F
};

} // namespace

char16_t Cp1252ToUnicode(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F)
        return kHigh[byte - 0x80];
    return char16_t(byte);
}

int UnicodeToCp1252(char16_t ch) {
    if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF))
        return ch;
    for (int i = 0; i < 32; ++i) {
        if (kHigh[i] == ch)
            return 0x80 + i;
    }
    return -1;
}

QString FromCp1252(QByteArrayView bytes) {
    QString out(bytes.size(), Qt::Uninitialized);
    QChar* p = out.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        p[i] = QChar(Cp1252ToUnicode(static_cast<unsigned char>(bytes[i])));
    return out;
}

QByteArray ToCp1252(QStringView text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        // A pair of surrogates is one character with no byte: one '?'.
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() &&
            QChar::isLowSurrogate(text[i + 1].unicode())) {
            out += '?';
            ++i;
            continue;
        }
        const int b = UnicodeToCp1252(c);
        out += b < 0 ? '?' : char(b);
    }
    return out;
}

} // namespace tarvina::common
