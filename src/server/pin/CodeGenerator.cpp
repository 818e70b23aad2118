#include "server/pin/CodeGenerator.h"

#include <stdexcept>

namespace tarvina::server {

namespace {
// With at most a few thousand live codes a collision is rare; this many draws
// in a row all colliding means the table is practically full.
constexpr int kMaxDraws = 100000;
constexpr qint64 kMaxBalance = 999999999; // the balance field holds 9 digits
} // namespace

QString FormatCode(quint32 value) {
    return QStringLiteral("%1").arg(value, 6, 16, QLatin1Char('0')).toUpper();
}

bool IsWellFormedCode(QByteArrayView text) {
    if (text.size() != 6) {
        return false;
    }
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

bool IsWellFormedCode(const QString& text) {
    if (text.size() != 6) {
        return false;
    }
    for (QChar c : text) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'))) {
            return false;
        }
    }
    return true;
}

QString DrawCode(CodeRandom& random, const std::function<bool(const QString&)>& liveCodeExists) {
    for (int i = 0; i < kMaxDraws; ++i) {
        const quint32 r = random.below(kCodeDrawRange);
        const QString code = FormatCode(r % kCodeDrawRange + kCodeOffset);
        if (!liveCodeExists(code)) {
            return code;
        }
    }
    throw std::runtime_error("no free code found");
}

qint64 BatchMinutes(const QString& text) {
    bool ok = false;
    const qint64 v = text.trimmed().toLongLong(&ok);
    if (!ok || v > kMaxBalance || v < -kMaxBalance) {
        return 0;
    }
    return v;
}

} // namespace tarvina::server
