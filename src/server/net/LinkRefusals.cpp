#include "server/net/LinkRefusals.h"

#include <iterator>

namespace tarvina::server {

using platform::Stream;

QString LinkRefusals::TextOf(Stream::StartFailure why, const QString& address) {
    switch (why) {
    case Stream::StartFailure::WrongKey:
        return QStringLiteral("Clave de red incorrecta desde ") + address;
    case Stream::StartFailure::Unencrypted:
        return QStringLiteral("Conexión sin cifrar rechazada desde ") + address;
    case Stream::StartFailure::None:
    case Stream::StartFailure::Other:
        break;
    }
    return {};
}

std::optional<QString> LinkRefusals::admit(Stream::StartFailure why, const QString& address,
                                           qint64 nowMs) {
    const QString text = TextOf(why, address);
    if (text.isEmpty())
        return std::nullopt;
    const auto it = lastShownMs_.find(address);
    if (it != lastShownMs_.end()) {
        if (nowMs - it->second < kEveryMs)
            return std::nullopt;
        it->second = nowMs;
        return text;
    }
    if (lastShownMs_.size() >= kMaxAddresses) {
        for (auto old = lastShownMs_.begin(); old != lastShownMs_.end();)
            old = nowMs - old->second >= kEveryMs ? lastShownMs_.erase(old) : std::next(old);
        if (lastShownMs_.size() >= kMaxAddresses)
            return std::nullopt;
    }
    lastShownMs_.emplace(address, nowMs);
    return text;
}

} // namespace tarvina::server
