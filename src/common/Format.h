#pragma once

#include <QString>
#include <QtGlobal>

namespace tarvina::common {

// "n Bytes" below 1024, "n MBytes" above 1048575 (n = bytes div 1048576),
// else "n KBytes" (n = bytes div 1024).
QString FormatSize(qint64 bytes);

// Tax-id label and input mask of a country (names compared without regard to
// case). An empty mask means free text.
struct TaxIdFormatInfo {
    QString label;
    QString mask;
};
TaxIdFormatInfo TaxIdFormat(const QString& country);

// Input masks: "0" a required digit, "A" a required letter or digit, any other
// character before the first ";" a literal; ";1" keeps the literals in the
// stored text, and the character after the second ";" fills empty positions
// while typing.
struct EditMask {
    QString pattern; // the part before the first ';'
    bool keepsLiterals = true;
    QChar blank = u'_';
};
EditMask ParseEditMask(const QString& mask);
// True when text (with or without the literals, as the mask stores it) fills
// every required position of the mask. An empty mask accepts any text.
bool TextFitsMask(const QString& text, const QString& mask);

} // namespace tarvina::common
