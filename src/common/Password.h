#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace tarvina::common {

// The keyless byte transform both programs apply to every stored, compared or
// transmitted password. The result has the input's length and never holds a
// zero byte, a line feed, a carriage return or a comma. It is never inverted:
// a typed password is scrambled and compared byte for byte.
QByteArray ScramblePassword(QByteArrayView plain);

} // namespace tarvina::common
