#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <optional>

namespace tarvina::protocol {

// Date-times travel as days since 1899-12-30 with the time of day as the
// fraction, written in the shortest general form with up to 15 significant
// digits: fixed notation from 1E-4 up to below 1E15, exponent notation
// otherwise ("1.15740740740741E-5", "1E15"); trailing zeros dropped; "." as the
// decimal separator whatever the locale. Whole days carry no fraction ("45000").
// Values that are not finite are written "0".
QByteArray FormatDateTimeNumber(double days);

// Accepts what FormatDateTimeNumber writes and the usual variants: blanks
// around, a sign, "." or "," as the separator, an exponent. Independent of the
// process and Qt locales. nullopt for anything else and for values that are
// not finite.
std::optional<double> ParseDateTimeNumber(QByteArrayView text);

} // namespace tarvina::protocol
