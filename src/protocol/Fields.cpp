#include "protocol/Fields.h"

#include <limits>

namespace tarvina::protocol {

namespace {

// Blanks and control characters: everything up to and including the space.
bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

bool NeedsQuotes(QByteArrayView item) {
    for (char c : item) {
        if (IsBlank(c) || c == ',' || c == '"')
            return true;
    }
    return false;
}

const char kHexDigits[] = "0123456789ABCDEF";

// A decimal integer made only of digits (after the version filter), 0 when
// empty or out of range.
int IntOrZero(QByteArrayView digits) {
    return ParseInt(digits).value_or(0);
}

// Text before the first `sep` (empty when absent), and the rest after it
// (unchanged when absent).
QByteArrayView TakeBefore(QByteArrayView& rest, char sep) {
    const qsizetype i = rest.indexOf(sep);
    if (i < 0)
        return {};
    const QByteArrayView head = rest.first(i);
    rest = rest.sliced(i + 1);
    return head;
}

} // namespace

QByteArrayView TrimmedView(QByteArrayView text) {
    qsizetype b = 0;
    qsizetype e = text.size();
    while (b < e && IsBlank(text[b]))
        ++b;
    while (e > b && IsBlank(text[e - 1]))
        --e;
    return text.sliced(b, e - b);
}

QByteArray TrimBlanks(QByteArrayView text) {
    return TrimmedView(text).toByteArray();
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

QByteArray CommaField(QByteArrayView payload, int n) {
    if (n < 1)
        return {};
    qsizetype start = 0;
    for (int i = 1; i < n; ++i) {
        const qsizetype comma = payload.indexOf(',', start);
        if (comma < 0)
            return {};
        start = comma + 1;
    }
    qsizetype end = payload.indexOf(',', start);
    if (end < 0)
        end = payload.size();
    return TrimBlanks(payload.sliced(start, end - start));
}

QList<QByteArray> SplitCommaList(QByteArrayView text) {
    QList<QByteArray> items;
    if (TrimBlanks(text).isEmpty())
        return items;
    qsizetype i = 0;
    const qsizetype n = text.size();
    for (;;) {
        while (i < n && IsBlank(text[i]))
            ++i;
        QByteArray item;
        if (i < n && text[i] == '"') {
            ++i;
            while (i < n) {
                if (text[i] == '"') {
                    if (i + 1 < n && text[i + 1] == '"') {
                        item.append('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item.append(text[i]);
                ++i;
            }
            // Anything between the closing quote and the next comma is noise.
            while (i < n && text[i] != ',')
                ++i;
        } else {
            const qsizetype start = i;
            while (i < n && text[i] != ',')
                ++i;
            item = TrimBlanks(text.sliced(start, i - start));
        }
        items.append(item);
        if (i >= n)
            break;
        ++i; // the comma: another item follows, possibly empty
    }
    return items;
}

QByteArray JoinCommaList(const QList<QByteArray>& items) {
    if (items.size() == 1 && items.front().isEmpty())
        return QByteArrayLiteral("\"\"");
    QByteArray out;
    for (qsizetype k = 0; k < items.size(); ++k) {
        if (k > 0)
            out.append(',');
        const QByteArray& item = items[k];
        if (!NeedsQuotes(item)) {
            out.append(item);
            continue;
        }
        out.append('"');
        for (char c : item) {
            if (c == '"')
                out.append('"');
            out.append(c);
        }
        out.append('"');
    }
    return out;
}

QByteArray ToHexText(QByteArrayView bytes) {
    QByteArray out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto v = static_cast<unsigned char>(c);
        out.append(kHexDigits[v >> 4]);
        out.append(kHexDigits[v & 0xF]);
    }
    return out;
}

std::optional<QByteArray> FromHexText(QByteArrayView text) {
    if (text.size() % 2 != 0)
        return std::nullopt;
    QByteArray out;
    out.reserve(text.size() / 2);
    for (qsizetype i = 0; i < text.size(); i += 2) {
        const int hi = HexDigitValue(text[i]);
        const int lo = HexDigitValue(text[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out.append(static_cast<char>(hi * 16 + lo));
    }
    return out;
}

QByteArray FormatHex(quint32 v, int width) {
    char digits[8];
    int n = 0;
    do {
        digits[n++] = kHexDigits[v & 0xF];
        v >>= 4;
    } while (v != 0);
    QByteArray out;
    for (int pad = n; pad < width && pad < 64; ++pad)
        out.append('0');
    while (n > 0)
        out.append(digits[--n]);
    return out;
}

std::optional<quint32> ParseHex(QByteArrayView text) {
    if (text.isEmpty())
        return std::nullopt;
    quint32 v = 0;
    int significant = 0;
    for (char c : text) {
        const int d = HexDigitValue(c);
        if (d < 0)
            return std::nullopt;
        if (significant > 0 || d != 0)
            ++significant;
        if (significant > 8)
            return std::nullopt;
        v = (v << 4) | static_cast<quint32>(d);
    }
    return v;
}

QByteArray FormatMinutes(int minutes) {
    return QByteArray::number(minutes);
}

std::optional<int> ParseInt(QByteArrayView text) {
    qsizetype i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i >= text.size())
        return std::nullopt;
    qint64 v = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + (c - '0');
        if (v > qint64(std::numeric_limits<int>::max()) + 1)
            return std::nullopt;
    }
    if (negative)
        v = -v;
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(v);
}

QByteArray VersionText(int major, int minor, int release, int build) {
    QByteArray out("V ");
    out.append(QByteArray::number(major)).append('.').append(QByteArray::number(minor));
    out.append(" (B ").append(QByteArray::number(release)).append('.');
    out.append(QByteArray::number(build)).append(')');
    return out;
}

quint32 VersionNumber(QByteArrayView versionText) {
    QByteArray kept;
    for (char c : versionText) {
        if ((c >= '0' && c <= '9') || c == '.' || c == '(')
            kept.append(c);
    }
    QByteArrayView rest(kept);
    const int major = IntOrZero(TakeBefore(rest, '.'));
    const int minor = IntOrZero(TakeBefore(rest, '('));
    const int release = IntOrZero(TakeBefore(rest, '.'));
    // The build is what follows the next "." when there is one, else the rest.
    const qsizetype dot = rest.indexOf('.');
    const int build = IntOrZero(dot >= 0 ? rest.sliced(dot + 1) : rest);
    return MakeVersionNumber(major, minor, release, build);
}

} // namespace tarvina::protocol
