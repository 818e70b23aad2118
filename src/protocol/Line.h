#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace tarvina::protocol {

// The server's reader refuses longer lines; neither side sends them.
constexpr qsizetype kMaxLineLength = 16384;

// Handlers take at most this many payload characters unless they say otherwise.
constexpr qsizetype kMaxPayload = 255;

// "%02X" + payload, no line end.
QByteArray FormatToClient(int code, QByteArrayView payload = {});
// "R%02X" + payload, no line end.
QByteArray FormatToServer(int code, QByteArrayView payload = {});
// line + CR LF.
QByteArray Terminate(QByteArrayView line);

// A received line as the server reads it.
struct ServerSideLine {
    int code = -1;      // -1 unless the line starts "R" and two hexadecimal digits
    QByteArray payload; // from the fourth character on
    QByteArray head3;   // the first three characters (fewer when the line is shorter)
};
ServerSideLine ParseAtServer(QByteArrayView line);

// head3 + "- Comando no reconocido (" + code as %08X + ")".
QByteArray UnknownCommandText(const ServerSideLine& line);

// A received line as the client reads it: the first two characters as a
// hexadecimal number, 0 when they are not one; the payload from the third on.
struct ClientSideLine {
    int code = 0;
    QByteArray payload;
};
ClientSideLine ParseAtClient(QByteArrayView line);

// The first `max` bytes of a payload.
QByteArray LimitPayload(QByteArrayView payload, qsizetype max = kMaxPayload);

} // namespace tarvina::protocol
