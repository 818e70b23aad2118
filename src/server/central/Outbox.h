#pragma once

#include "server/central/CentralTables.h"

#include <QString>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace tarvina::xbase {
class IFile;
class IFileSystem;
} // namespace tarvina::xbase

namespace tarvina::server::central {

// The rows still to be copied to the central database, in one append-only
// file beside the tables (data/Central.box). Each record carries its length
// and a CRC-32, so a record cut short by a kill or a power cut is found and
// dropped at the next open, never half read.
//
//   record := u32 body length, u32 CRC-32 of the body, body (little-endian)
//   body   := u8 kind, u64 seq, then for kind 1 (row): u8 table, i64 local
//             id, u8 deleted, u32 recno, u16 path length + UTF-8 path, u16
//             values, each u8 null flag + u32 length + UTF-8 bytes;
//             kind 2 (acknowledged up to seq), kind 3 (seq abandoned): nothing
//
// A row is staged (written and flushed to the disk) before the table's
// record is written, and released to the copy once the record is; a row
// whose record failed is abandoned. So a kill leaves at most the last row
// in doubt, and open() settles it against the table. Staging is the table's
// thread's; taking and acknowledging the copier's. One mutex guards all.
class Outbox {
public:
    // Whether a row still stands in its table as staged (checked at open
    // for the one row a kill may have left in doubt).
    using RowCheck = std::function<bool(const CentralRow&)>;

    explicit Outbox(xbase::IFileSystem& fs);
    ~Outbox();
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    // Reads the file (created when missing), drops a torn tail and settles
    // the row in doubt. Throws std::runtime_error with the cashier's text.
    void open(const QString& path, const RowCheck& check);
    bool isOpen() const;

    // Writes the row and flushes it; returns its seq. Throws on a failed
    // write (the table's write must not happen then).
    std::uint64_t stage(CentralRow row);
    // The staged row's record was written (it goes to the copy), or not.
    void release(std::uint64_t seq, bool written);

    // Up to `max` released rows, oldest first.
    std::vector<CentralRow> peek(std::size_t max) const;
    // The central database holds every row up to seq.
    void acknowledge(std::uint64_t seq);
    // Released rows not yet acknowledged.
    std::size_t pending() const;

    // Called, outside the lock, whenever a row is released.
    void setOnRelease(std::function<void()> f);

private:
    void appendRecord(const QByteArray& body, bool flush);
    void compactLocked();

    xbase::IFileSystem& fs_;
    mutable std::mutex mu_;
    std::unique_ptr<xbase::IFile> file_;
    std::string path_;
    std::uint64_t end_ = 0;
    std::uint64_t nextSeq_ = 1;
    std::deque<CentralRow> released_;
    // Staged, not yet released: at most a few at a time.
    std::vector<CentralRow> staged_;
    std::function<void()> onRelease_;
};

// CRC-32 (IEEE 802.3) of the bytes.
std::uint32_t Crc32(const char* data, std::size_t n);

} // namespace tarvina::server::central
