#include "xbase/Dbf.h"

#include "xbase/Error.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>

namespace tarvina::xbase {

namespace {

std::uint32_t Le32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
std::uint16_t Le16(const unsigned char* p) {
    return std::uint16_t(p[0] | p[1] << 8);
}
void PutLe32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void PutLe16(unsigned char* p, std::uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

bool ValidName(const std::string& n) {
    if (n.empty() || n.size() > 10)
        return false;
    if (!std::isalpha(static_cast<unsigned char>(n[0])))
        return false;
    for (char c : n)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
            return false;
    return true;
}

} // namespace

void TodayBytes(unsigned char out[3]) {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    out[0] = static_cast<unsigned char>(tm.tm_year); // years since 1900
    out[1] = static_cast<unsigned char>(tm.tm_mon + 1);
    out[2] = static_cast<unsigned char>(tm.tm_mday);
}

void DbfFile::CheckDefinition(const std::vector<FieldDef>& fields) {
    if (fields.empty())
        Fail(XBaseError::Code::Invalid, "a table needs at least one field");
    if (fields.size() > kMaxFields)
        Fail(XBaseError::Code::Invalid, "too many fields");
    std::size_t total = 1;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const FieldDef& f = fields[i];
        if (!ValidName(f.name))
            Fail(XBaseError::Code::Invalid, "invalid field name: " + f.name);
        for (std::size_t j = 0; j < i; ++j)
            if (EqualsNoCase(fields[j].name, f.name))
                Fail(XBaseError::Code::Invalid, "duplicate field name: " + f.name);
        switch (f.type) {
        case 'C':
            if (f.width < 1 || f.width > 254 || f.decimals != 0)
                Fail(XBaseError::Code::Invalid, "invalid width for field " + f.name);
            break;
        case 'N':
            if (f.width < 1 || f.width > 20 || f.decimals < 0 ||
                (f.decimals > 0 && f.decimals > f.width - 2))
                Fail(XBaseError::Code::Invalid, "invalid width for field " + f.name);
            break;
        case 'L':
            if (f.width != 1 || f.decimals != 0)
                Fail(XBaseError::Code::Invalid, "a logical field has width 1: " + f.name);
            break;
        case 'D':
            if (f.width != 8 || f.decimals != 0)
                Fail(XBaseError::Code::Invalid, "a date field has width 8: " + f.name);
            break;
        default:
            Fail(XBaseError::Code::Unsupported, std::string("field type not supported: ") + f.type);
        }
        total += static_cast<std::size_t>(f.width);
    }
    if (total > 65500)
        Fail(XBaseError::Code::Invalid, "record too long");
}

void DbfFile::Create(IFileSystem& fs, const std::string& path,
                     const std::vector<FieldDef>& fields) {
    CheckDefinition(fields);
    const std::size_t headerLength = kDbfHeaderSize + kDbfFieldSize * fields.size() + 1;
    std::vector<unsigned char> h(headerLength + 1, 0);
    h[0] = kDbfVersionFoxBase;
    TodayBytes(&h[1]);
    PutLe32(&h[kDbfCountOffset], 0);
    PutLe16(&h[8], static_cast<std::uint16_t>(headerLength));
    std::uint32_t offset = 1;
    for (const FieldDef& f : fields)
        offset += static_cast<std::uint32_t>(f.width);
    PutLe16(&h[10], static_cast<std::uint16_t>(offset));
    h[kDbfCodePageOffset] = kDbfCodePage1252;
    offset = 1;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        unsigned char* d = &h[kDbfHeaderSize + kDbfFieldSize * i];
        std::string name = UpperAscii(fields[i].name);
        std::memcpy(d, name.data(), name.size());
        d[kFieldTypeOffset] = static_cast<unsigned char>(fields[i].type);
        PutLe32(d + kFieldDisplacementOffset, offset);
        d[kFieldWidthOffset] = static_cast<unsigned char>(fields[i].width);
        d[kFieldDecimalsOffset] = static_cast<unsigned char>(fields[i].decimals);
        offset += static_cast<std::uint32_t>(fields[i].width);
    }
    h[headerLength - 1] = kDbfHeaderTerminator;
    h[headerLength] = kDbfEofMarker;
    auto file = fs.Create(path);
    file->WriteAt(0, h.data(), h.size());
    file->Sync();
    // The new name too: without it a power cut can take the whole table.
    fs.SyncFolder(FolderOf(path));
}

DbfFile::DbfFile(std::unique_ptr<IFile> file, std::string path)
    : file_(std::move(file)), path_(std::move(path)) {
    const std::uint64_t size = file_->Size();
    unsigned char h[kDbfHeaderSize];
    if (size < kDbfHeaderSize || file_->ReadAt(0, h, sizeof h) != sizeof h)
        Fail(XBaseError::Code::Damaged, "table damaged: file shorter than its header: " + path_);
    headerLength_ = Le16(h + 8);
    recordLength_ = Le16(h + 10);
    flags_ = h[kDbfFlagsOffset];
    if (headerLength_ < kDbfHeaderSize + kDbfFieldSize + 1 || headerLength_ > size)
        Fail(XBaseError::Code::Damaged,
             "table damaged: header length disagrees with the file: " + path_);
    if (recordLength_ < 2)
        Fail(XBaseError::Code::Damaged, "table damaged: invalid record length: " + path_);
    std::vector<unsigned char> desc(headerLength_ - kDbfHeaderSize);
    if (file_->ReadAt(kDbfHeaderSize, desc.data(), desc.size()) != desc.size())
        Fail(XBaseError::Code::Damaged, "table damaged: header cut short: " + path_);
    std::size_t pos = 0;
    std::uint32_t offset = 1;
    bool terminated = false;
    while (pos < desc.size()) {
        if (desc[pos] == kDbfHeaderTerminator) {
            terminated = true;
            break;
        }
        if (pos + kDbfFieldSize > desc.size() || fields_.size() >= kMaxFields)
            break;
        const unsigned char* d = &desc[pos];
        FieldDef f;
        std::size_t n = 0;
        while (n < kFieldNameSize && d[n] != 0)
            ++n;
        f.name = UpperAscii(std::string(reinterpret_cast<const char*>(d), n));
        while (!f.name.empty() && f.name.back() == ' ')
            f.name.pop_back();
        f.type = static_cast<char>(std::toupper(d[kFieldTypeOffset]));
        f.width = d[kFieldWidthOffset];
        f.decimals = d[kFieldDecimalsOffset];
        f.offset = static_cast<int>(offset);
        if (f.name.empty() || f.width == 0)
            Fail(XBaseError::Code::Damaged, "table damaged: invalid field descriptor: " + path_);
        offset += static_cast<std::uint32_t>(f.width);
        fields_.push_back(f);
        pos += kDbfFieldSize;
    }
    if (!terminated || fields_.empty())
        Fail(XBaseError::Code::Damaged,
             "table damaged: field list not terminated within the header: " + path_);
    if (offset != recordLength_)
        Fail(XBaseError::Code::Damaged,
             "table damaged: record length disagrees with the fields: " + path_);
    RecordCount();
}

DbfFile::~DbfFile() {
    try {
        WriteHeldCount();
    } catch (...) {
        // the records past the count read as never committed, as after a crash
    }
}

void DbfFile::HoldCount() {
    holdCount_ = true;
}

void DbfFile::WriteHeldCount() {
    WritePending();
    if (!countPending_)
        return;
    WriteCount(heldCount_);
    countPending_ = false;
}

namespace {

constexpr std::size_t kPendingBlock = std::size_t(64) << 10; // bytes of appends per write

} // namespace

void DbfFile::WritePending() {
    if (pending_.empty())
        return;
    const std::uint64_t pos = headerLength_ + std::uint64_t(pendingFirst_ - 1) * recordLength_;
    pending_.push_back(static_cast<char>(kDbfEofMarker));
    std::string block;
    block.swap(pending_);
    try {
        file_->WriteAt(pos, block.data(), block.size());
    } catch (...) {
        heldCount_ = pendingFirst_ - 1; // those rows never reached the table
        throw;
    }
    const std::uint64_t end = pos + block.size();
    if (lastSize_ > end)
        file_->Truncate(end); // drop the leftovers of an append cut short earlier
    lastSize_ = end;
    block.clear();
    if (block.capacity() <= 2 * kPendingBlock)
        pending_.swap(block); // keep the memory for the next block
}

int DbfFile::FieldIndex(const std::string& name) const {
    for (std::size_t i = 0; i < fields_.size(); ++i)
        if (EqualsNoCase(fields_[i].name, name))
            return static_cast<int>(i);
    return -1;
}

void DbfFile::SetFlags(std::uint8_t flags) {
    file_->WriteAt(kDbfFlagsOffset, &flags, 1);
    flags_ = flags;
}

std::uint32_t DbfFile::RecordCount() {
    if (countKnown_)
        return heldCount_;
    unsigned char c[4];
    if (file_->ReadAt(kDbfCountOffset, c, 4) != 4)
        Fail(XBaseError::Code::Damaged, "table damaged: header cut short: " + path_);
    const std::uint32_t claimed = Le32(c);
    const std::uint64_t size = file_->Size();
    lastSize_ = size;
    const std::uint64_t whole = size > headerLength_ ? (size - headerLength_) / recordLength_ : 0;
    if (claimed <= whole) {
        // Bytes past the counted records: the EOF marker, or an append whose
        // count never reached the header.
        if (!reportedCount_ && whole > claimed) {
            notices_.push_back("table holds " + std::to_string(whole - claimed) +
                               " record(s) past its count; they were never committed "
                               "and are ignored: " +
                               path_);
            reportedCount_ = true;
        }
        countKnown_ = holdCount_;
        heldCount_ = claimed;
        return claimed;
    }
    if (!reportedCount_) {
        notices_.push_back("table damaged: header counts " + std::to_string(claimed) +
                           " records but the file holds " + std::to_string(whole) +
                           "; only those are used: " + path_);
        reportedCount_ = true;
    }
    countKnown_ = holdCount_;
    heldCount_ = static_cast<std::uint32_t>(whole);
    return heldCount_;
}

void DbfFile::ReadRecord(std::uint32_t recno, char* out) {
    WritePending();
    if (recno == 0)
        Fail(XBaseError::Code::Invalid, "record number 0");
    const std::uint64_t pos = headerLength_ + std::uint64_t(recno - 1) * recordLength_;
    if (file_->ReadAt(pos, out, recordLength_) != recordLength_)
        Fail(XBaseError::Code::Damaged,
             "record " + std::to_string(recno) + " lies outside the table: " + path_);
}

std::uint32_t DbfFile::ReadRecords(std::uint32_t first, std::uint32_t count, char* out) {
    WritePending();
    const std::uint64_t pos = headerLength_ + std::uint64_t(first - 1) * recordLength_;
    std::size_t got = file_->ReadAt(pos, out, std::size_t(count) * recordLength_);
    return static_cast<std::uint32_t>(got / recordLength_);
}

void DbfFile::WriteRecord(std::uint32_t recno, const char* data) {
    WritePending();
    const std::uint64_t pos = headerLength_ + std::uint64_t(recno - 1) * recordLength_;
    file_->WriteAt(pos, data, recordLength_);
}

void DbfFile::WriteRecords(std::uint32_t first, std::uint32_t count, const char* data) {
    WritePending();
    const std::uint64_t pos = headerLength_ + std::uint64_t(first - 1) * recordLength_;
    file_->WriteAt(pos, data, std::size_t(count) * recordLength_);
}

void DbfFile::AppendRecords(std::uint32_t count, const char* data, std::uint32_t n) {
    if (std::uint64_t(count) + n > 0xFFFFFFFFull)
        Fail(XBaseError::Code::Invalid, "table full");
    const std::size_t bytes = std::size_t(n) * recordLength_;
    if (holdCount_ && countKnown_) {
        if (pending_.empty())
            pendingFirst_ = count + 1;
        pending_.append(data, bytes);
        heldCount_ = count + n;
        countPending_ = true;
        if (pending_.size() >= kPendingBlock)
            WritePending();
        return;
    }
    const std::uint64_t pos = headerLength_ + std::uint64_t(count) * recordLength_;
    appendBuffer_.assign(data, bytes);
    appendBuffer_.push_back(static_cast<char>(kDbfEofMarker));
    file_->WriteAt(pos, appendBuffer_.data(), appendBuffer_.size());
    WriteCount(count + n);
    const std::uint64_t end = pos + appendBuffer_.size();
    if (lastSize_ > end)
        file_->Truncate(end); // drop the leftovers of an append cut short earlier
    lastSize_ = end;
    if (appendBuffer_.capacity() > (std::size_t(1) << 20))
        appendBuffer_ = std::string();
}

void DbfFile::WriteCount(std::uint32_t count) {
    unsigned char h[8] = {};
    TodayBytes(&h[1]);
    PutLe32(&h[4], count);
    // Date and count in one write: bytes 1..7.
    file_->WriteAt(1, h + 1, 7);
}

} // namespace tarvina::xbase
