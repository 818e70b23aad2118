#include "common/BoundedRead.h"

#include <algorithm>

namespace tarvina::common {

QByteArray ReadAtMost(QIODevice& device, qint64 maxBytes) {
    constexpr qint64 kChunk = 64 * 1024;
    QByteArray out;
    char chunk[kChunk];
    while (out.size() < maxBytes) {
        const qint64 got = device.read(chunk, std::min(kChunk, maxBytes - out.size()));
        if (got <= 0)
            break;
        out.append(chunk, got);
    }
    return out;
}

} // namespace tarvina::common
