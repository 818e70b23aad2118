#pragma once

#include <QByteArray>
#include <QIODevice>
#include <atomic>
#include <memory>

namespace tarvina::server {

// The memory that all connections together may hold in blocks they are still
// receiving (screen pictures, free messages, configuration reports). Each
// connection's own bounds keep one station in check; this one keeps a crowd
// of them from adding up to more than the machine has. Any thread.
class InFlightPool {
public:
    static constexpr qint64 kDefaultCapacity = 128LL * 1024 * 1024;

    explicit InFlightPool(qint64 capacity = kDefaultCapacity) : capacity_(capacity) {}
    InFlightPool(const InFlightPool&) = delete;
    InFlightPool& operator=(const InFlightPool&) = delete;

    // False, taking nothing, when n more bytes would pass the capacity.
    bool take(qint64 n);
    void give(qint64 n);
    qint64 used() const { return used_.load(); }
    qint64 capacity() const { return capacity_; }

private:
    const qint64 capacity_;
    std::atomic<qint64> used_{0};
};

// Bytes of the pool held for as long as the charge lives (an event that
// carries a received block to the UI thread keeps it until it is applied).
class PoolCharge {
public:
    PoolCharge(InFlightPool& pool, qint64 bytes) : pool_(pool), bytes_(bytes) {}
    ~PoolCharge() { pool_.give(bytes_); }
    PoolCharge(const PoolCharge&) = delete;
    PoolCharge& operator=(const PoolCharge&) = delete;

private:
    InFlightPool& pool_;
    qint64 bytes_;
};

// A write-only device that gathers a block in memory, charging the pool for
// every byte as it arrives (not for the length the station announced, which
// may lie) and giving it all back when destroyed. A write the pool refuses
// fails, which the block reader reports as a refused write.
class PooledBuffer final : public QIODevice {
public:
    explicit PooledBuffer(InFlightPool& pool);
    ~PooledBuffer() override;

    const QByteArray& data() const { return data_; }
    // True once a write was refused for want of room in the pool.
    bool refused() const { return refused_; }
    // Bytes charged to the pool so far (the buffer's capacity).
    qint64 charged() const { return charged_; }
    // Hands the charge over to whoever keeps the data longer; the buffer
    // then gives nothing back itself.
    std::shared_ptr<PoolCharge> releaseCharge();

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override;

private:
    InFlightPool& pool_;
    QByteArray data_;
    qint64 charged_ = 0;
    bool refused_ = false;
};

// Holds n bytes of the pool for a scope (bytes read in pieces that are kept
// elsewhere); grow() adds more.
class PoolHold {
public:
    explicit PoolHold(InFlightPool& pool) : pool_(pool) {}
    ~PoolHold() { pool_.give(held_); }
    PoolHold(const PoolHold&) = delete;
    PoolHold& operator=(const PoolHold&) = delete;

    bool grow(qint64 n);
    qint64 held() const { return held_; }

private:
    InFlightPool& pool_;
    qint64 held_ = 0;
};

} // namespace tarvina::server
