#include "server/net/InFlightPool.h"

#include <algorithm>

namespace tarvina::server {

bool InFlightPool::take(qint64 n) {
    if (n <= 0)
        return true;
    qint64 cur = used_.load();
    do {
        if (n > capacity_ - cur)
            return false;
    } while (!used_.compare_exchange_weak(cur, cur + n));
    return true;
}

void InFlightPool::give(qint64 n) {
    if (n > 0)
        used_.fetch_sub(n);
}

PooledBuffer::PooledBuffer(InFlightPool& pool) : pool_(pool) {
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

PooledBuffer::~PooledBuffer() {
    pool_.give(charged_);
}

qint64 PooledBuffer::writeData(const char* data, qint64 size) {
    const qint64 need = data_.size() + size;
    if (need > charged_) {
        // Grow by doubling, as the buffer itself would, and charge for the
        // room taken rather than the bytes used.
        const qint64 want = std::max<qint64>(need, std::min<qint64>(charged_ * 2, need + need / 2));
        if (!pool_.take(want - charged_)) {
            if (!pool_.take(need - charged_)) {
                refused_ = true;
                setErrorString(QStringLiteral("memoria en tránsito agotada"));
                return -1;
            }
            charged_ = need;
        } else {
            charged_ = want;
        }
        data_.reserve(static_cast<qsizetype>(charged_));
    }
    data_.append(data, static_cast<qsizetype>(size));
    return size;
}

std::shared_ptr<PoolCharge> PooledBuffer::releaseCharge() {
    auto charge = std::make_shared<PoolCharge>(pool_, charged_);
    charged_ = 0;
    return charge;
}

bool PoolHold::grow(qint64 n) {
    if (!pool_.take(n))
        return false;
    held_ += n;
    return true;
}

} // namespace tarvina::server
