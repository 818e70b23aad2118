#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <optional>

namespace tarvina::protocol {

// Use without limit travels as two days.
constexpr int kUnlimitedMinutes = 2880;

// Field n (from 1) of a comma payload: the text between the (n-1)-th and the
// n-th comma, trimmed of blanks and control characters; missing → empty.
QByteArray CommaField(QByteArrayView payload, int n);

// A payload trimmed of leading and trailing blanks and control characters.
QByteArray TrimBlanks(QByteArrayView text);
// The same, as a view into `text`.
QByteArrayView TrimmedView(QByteArrayView text);

// Value of one hexadecimal digit of either case; -1 for any other byte.
int HexDigitValue(char c);

// Comma lists: items joined by ","; an item holding a blank, a control
// character, a comma or a double quote is quoted with inner quotes doubled;
// a list of exactly one empty item is `""`; the empty list is empty text.
QList<QByteArray> SplitCommaList(QByteArrayView text);
QByteArray JoinCommaList(const QList<QByteArray>& items);

// Each byte as two upper-case hexadecimal digits ("ab" → "6162").
QByteArray ToHexText(QByteArrayView bytes);
// nullopt for an odd length or a non-hexadecimal character; either case accepted.
std::optional<QByteArray> FromHexText(QByteArrayView text);

// Upper-case, zero-padded on the left to at least `width` digits.
QByteArray FormatHex(quint32 v, int width);
// 1 to 8 significant hexadecimal digits, nothing else; either case accepted.
std::optional<quint32> ParseHex(QByteArrayView text);

// Decimal, minus sign when negative, no padding.
QByteArray FormatMinutes(int minutes);
// Optional leading blanks, optional sign, decimal digits within the int range.
std::optional<int> ParseInt(QByteArrayView text);

// "V %d.%d (B %d.%d)".
QByteArray VersionText(int major, int minor, int release, int build);

// major×2^24 + minor×2^16 + release×2^8 + build, modulo 2^32.
constexpr quint32 MakeVersionNumber(int major, int minor, int release, int build) {
    return (static_cast<quint32>(major) << 24) + (static_cast<quint32>(minor) << 16) +
           (static_cast<quint32>(release) << 8) + static_cast<quint32>(build);
}

// The number a station's version text stands for, derived the way the server
// always has: keep only digits, "." and "("; major before the first ".",
// minor before the next "(", release before the next ".", build after it (or
// the rest). Parts that do not convert count 0. "V 2.6 (B 3.0)" → 2.6.3.0.
quint32 VersionNumber(QByteArrayView versionText);

} // namespace tarvina::protocol
