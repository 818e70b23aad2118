#pragma once

#include <QByteArray>
#include <QIODevice>

namespace tarvina::common {

// At most maxBytes of what the device holds from its position, read in
// chunks so that memory follows what the file holds: QIODevice::read(n)
// sets aside n bytes first and keeps them with the result, so a settings
// file of a few hundred bytes read under a 16 MiB bound would cost 32 MiB.
QByteArray ReadAtMost(QIODevice& device, qint64 maxBytes);

} // namespace tarvina::common
