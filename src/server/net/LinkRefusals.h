#pragma once

#include "platform/Stream.h"

#include <QString>
#include <QtGlobal>
#include <map>
#include <optional>

namespace tarvina::server {

// The console lines for streams refused before their first byte (a wrong
// network key, a plain station where only encrypted ones are let in): at most
// one a minute for each address, so a station that retries every few seconds
// with an old key, or a peer that hammers the port, costs the operator one
// line a minute. Pure arithmetic on the steady milliseconds the caller passes.
class LinkRefusals {
public:
    static constexpr qint64 kEveryMs = 60000;
    // Addresses remembered at most; beyond it the stale ones are forgotten,
    // and if none is stale the line is dropped rather than the map grown.
    static constexpr std::size_t kMaxAddresses = 4096;

    // The line to show for this refusal now, or none (not one that is told,
    // or one was shown for this address within the minute).
    std::optional<QString> admit(platform::Stream::StartFailure why, const QString& address,
                                 qint64 nowMs);

    static QString TextOf(platform::Stream::StartFailure why, const QString& address);

private:
    std::map<QString, qint64> lastShownMs_;
};

} // namespace tarvina::server
