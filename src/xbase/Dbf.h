#pragma once

#include "xbase/File.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarvina::xbase {

// DBF header, 32 bytes, little-endian (FoxPro 2.x table file structure):
//   0     version: 0x03 = FoxBASE+/FoxPro table without memo
//   1..3  date of last update: year - 1900, month, day
//   4..7  number of records (uint32)
//   8..9  position of the first record = header length (uint16)
//  10..11 record length, deleted flag included (uint16)
//  12..27 reserved, zero
//  28     table flags: 0x01 = a structural (production) CDX exists
//  29     code page mark: 0x03 = Windows ANSI (code page 1252)
//  30..31 reserved, zero
// Then one 32-byte descriptor per field (see kField* below), the terminator
// 0x0D, and the records; FoxPro writes header length = 32 + 32 * fields + 1
// (Clipper writes one more byte, a NUL after the terminator). Each record is a
// flag byte (' ' live, '*' deleted) and the fields in order; 0x1A ends the file.
constexpr std::size_t kDbfHeaderSize = 32;
constexpr std::size_t kDbfFieldSize = 32;
constexpr std::uint8_t kDbfVersionFoxBase = 0x03;
constexpr std::size_t kDbfCountOffset = 4;
constexpr std::size_t kDbfFlagsOffset = 28;
constexpr std::uint8_t kDbfFlagStructuralCdx = 0x01;
constexpr std::size_t kDbfCodePageOffset = 29;
constexpr std::uint8_t kDbfCodePage1252 = 0x03;
constexpr std::uint8_t kDbfHeaderTerminator = 0x0D;
constexpr std::uint8_t kDbfEofMarker = 0x1A;
constexpr char kDbfLive = ' ';
constexpr char kDbfDeleted = '*';
// Field descriptor, 32 bytes:
//   0..10 name, upper case, NUL padded (at most 10 characters and a NUL)
//   11    type letter (C, N, D, ...)
//  12..15 displacement of the field in the record (FoxPro; zero elsewhere)
//  16     width
//  17     decimals
//  18..31 flags and reserved, zero
constexpr std::size_t kFieldNameSize = 11;
constexpr std::size_t kFieldTypeOffset = 11;
constexpr std::size_t kFieldDisplacementOffset = 12;
constexpr std::size_t kFieldWidthOffset = 16;
constexpr std::size_t kFieldDecimalsOffset = 17;
constexpr std::size_t kMaxFields = 255;
// The engine type code of a FoxPro table with a CDX compound index.
constexpr int kTableTypeFoxPro = 2;

struct FieldDef {
    std::string name; // upper case
    char type = 'C';
    int width = 1;
    int decimals = 0;
    int offset = 0; // in the record, after the flag byte
};

// One open DBF file. Reads nothing ahead: every record read goes to the file,
// and the record count is read from the header whenever it is asked for, so
// that several handles see each other's writes at once.
class DbfFile {
public:
    // Writes an empty table: header, descriptors, terminator and EOF marker.
    static void Create(IFileSystem& fs, const std::string& path,
                       const std::vector<FieldDef>& fields);
    // Validates the fields a caller wants to create; throws XBaseError(Invalid).
    static void CheckDefinition(const std::vector<FieldDef>& fields);

    // Parses and checks the header; throws XBaseError(Damaged) when the header
    // contradicts itself or the file length.
    DbfFile(std::unique_ptr<IFile> file, std::string path);
    // Writes a count that is still held back (see HoldCount).
    ~DbfFile();
    DbfFile(const DbfFile&) = delete;
    DbfFile& operator=(const DbfFile&) = delete;

    // For a table open exclusively, where no other handle reads the file: the
    // record count is kept in memory after the first look, appended records
    // gather in memory and reach the file in blocks (before any read of the
    // file and at the latest with the count), and the header's count (and
    // date) is written by WriteHeldCount, once per batch (a commit, a close).
    // A process killed before that leaves the table as it was at the last
    // written count.
    void HoldCount();
    void WriteHeldCount();

    const std::string& Path() const { return path_; }
    IFile& File() { return *file_; }
    const std::vector<FieldDef>& Fields() const { return fields_; }
    int FieldIndex(const std::string& name) const; // -1 when absent
    std::uint32_t RecordLength() const { return recordLength_; }
    std::uint32_t HeaderLength() const { return headerLength_; }
    std::uint8_t Flags() const { return flags_; }
    void SetFlags(std::uint8_t flags);

    // The number of committed records: the header count, reconciled with the
    // file length. A header that claims more records than the file holds (a
    // truncated file) is believed only as far as whole records exist; records
    // past the count (an append cut short before its count was written) are
    // not counted. Either case adds a notice.
    std::uint32_t RecordCount();
    // Reads the record (flag byte included); throws XBaseError(Damaged) when
    // it lies outside the file.
    void ReadRecord(std::uint32_t recno, char* out);
    // Reads `count` consecutive records into out; returns how many were whole.
    std::uint32_t ReadRecords(std::uint32_t first, std::uint32_t count, char* out);
    void WriteRecord(std::uint32_t recno, const char* data);
    // Writes `count` consecutive records (all within the table) from data.
    void WriteRecords(std::uint32_t first, std::uint32_t count, const char* data);
    // Appends records after `count` committed ones, as RecordCount() just
    // returned them under the caller's write lock: record bytes and the EOF
    // marker in one write first, the header count last (or held back, see
    // HoldCount), so that a process killed in between leaves a table whose
    // count still matches whole committed records.
    void AppendRecords(std::uint32_t count, const char* data, std::uint32_t n);
    void Sync() {
        WritePending();
        file_->Sync();
    }

    const std::vector<std::string>& Notices() const { return notices_; }
    std::string BlankRecord() const { return std::string(recordLength_, ' '); }

private:
    void WriteCount(std::uint32_t count);

    std::unique_ptr<IFile> file_;
    std::string path_;
    std::vector<FieldDef> fields_;
    std::uint32_t headerLength_ = 0;
    std::uint32_t recordLength_ = 0;
    std::uint8_t flags_ = 0;
    std::vector<std::string> notices_;
    bool reportedCount_ = false;
    std::uint64_t lastSize_ = 0; // file length seen by the last RecordCount()
    void WritePending();

    bool holdCount_ = false;
    bool countKnown_ = false; // heldCount_ is the count (held mode)
    bool countPending_ = false;
    std::uint32_t heldCount_ = 0;
    std::string appendBuffer_;
    // Held mode: appended records not yet written, from record pendingFirst_.
    std::string pending_;
    std::uint32_t pendingFirst_ = 0;
};

// Header date bytes for today (year - 1900, month, day).
void TodayBytes(unsigned char out[3]);

} // namespace tarvina::xbase
