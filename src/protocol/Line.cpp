#include "protocol/Line.h"

#include "protocol/Fields.h"

namespace tarvina::protocol {

namespace {

void AppendHex2(QByteArray& out, int code) {
    static const char kDigits[] = "0123456789ABCDEF";
    // Codes are one byte on the wire; anything else is a caller's mistake
    // that must still yield a two-digit, parseable code.
    const unsigned v = static_cast<unsigned>(code) & 0xFFu;
    out.append(kDigits[v >> 4]);
    out.append(kDigits[v & 0xF]);
}

} // namespace

QByteArray FormatToClient(int code, QByteArrayView payload) {
    QByteArray out;
    out.reserve(2 + payload.size());
    AppendHex2(out, code);
    out.append(payload);
    return out;
}

QByteArray FormatToServer(int code, QByteArrayView payload) {
    QByteArray out;
    out.reserve(3 + payload.size());
    out.append('R');
    AppendHex2(out, code);
    out.append(payload);
    return out;
}

QByteArray Terminate(QByteArrayView line) {
    QByteArray out;
    out.reserve(line.size() + 2);
    out.append(line);
    out.append("\r\n", 2);
    return out;
}

ServerSideLine ParseAtServer(QByteArrayView line) {
    ServerSideLine r;
    r.head3 = line.first(std::min<qsizetype>(3, line.size())).toByteArray();
    // The first character must be exactly "R": a lower-case r is no command.
    if (line.size() >= 3 && line[0] == 'R') {
        const int hi = HexDigitValue(line[1]);
        const int lo = HexDigitValue(line[2]);
        if (hi >= 0 && lo >= 0)
            r.code = hi * 16 + lo;
    }
    if (line.size() > 3)
        r.payload = line.sliced(3).toByteArray();
    return r;
}

QByteArray UnknownCommandText(const ServerSideLine& line) {
    QByteArray out = line.head3;
    out.append("- Comando no reconocido (");
    out.append(
        QByteArray::number(static_cast<quint32>(line.code), 16).toUpper().rightJustified(8, '0'));
    out.append(')');
    return out;
}

ClientSideLine ParseAtClient(QByteArrayView line) {
    ClientSideLine r;
    const QByteArrayView head = line.first(std::min<qsizetype>(2, line.size()));
    int value = 0;
    bool ok = !head.isEmpty();
    for (char c : head) {
        const int d = HexDigitValue(c);
        if (d < 0) {
            ok = false;
            break;
        }
        value = value * 16 + d;
    }
    r.code = ok ? value : 0;
    if (line.size() > 2)
        r.payload = line.sliced(2).toByteArray();
    return r;
}

QByteArray LimitPayload(QByteArrayView payload, qsizetype max) {
    if (max < 0)
        max = 0;
    return payload.first(std::min(max, payload.size())).toByteArray();
}

} // namespace tarvina::protocol
