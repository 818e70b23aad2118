#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace tarvina::common {

// The one converter between the Windows-1252 bytes of the wire, the tables,
// the reports and the session file, and the program's text. Every byte maps to
// one character; the five bytes code page 1252 leaves undefined (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) map to the control characters of the same number, as
// Windows itself does, so that any byte string survives a round trip.
QString FromCp1252(QByteArrayView bytes);

// Characters with no Windows-1252 byte become '?'.
QByteArray ToCp1252(QStringView text);

// One character each way.
char16_t Cp1252ToUnicode(unsigned char byte);
// -1 when the character has no byte.
int UnicodeToCp1252(char16_t ch);

} // namespace tarvina::common
