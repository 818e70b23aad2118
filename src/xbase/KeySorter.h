#pragma once

#include "xbase/File.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarvina::xbase {

// Puts the (key, record number) entries of one tag in index order within a
// bounded amount of memory. Entries gather in a buffer; a full buffer is
// sorted and written as a run to a work file; the runs are merged as they are
// read back. A table that fits the budget never touches the work file.
class KeySorter {
public:
    // `workPath` is created only when a run has to be written, and removed
    // with the sorter. `budget` counts the buffer and its sort index.
    KeySorter(IFileSystem& fs, std::string workPath, int keyLength, std::size_t budget);
    ~KeySorter();
    KeySorter(const KeySorter&) = delete;
    KeySorter& operator=(const KeySorter&) = delete;

    // Entries arrive in any order; equal keys come out in ascending record
    // number.
    void Add(const unsigned char* key, std::uint32_t rec);
    // Hands every entry to `out` in ascending (key, record number) order; the
    // sorter is spent afterwards.
    void Drain(const std::function<void(const unsigned char*, std::uint32_t)>& out);
    std::uint64_t Count() const { return count_; }
    std::size_t Runs() const { return runs_.size(); }

private:
    struct Run {
        std::uint64_t offset;
        std::uint64_t count;
    };
    void SortBuffer();
    void Spill();
    void Merge(const std::function<void(const unsigned char*, std::uint32_t)>& out);

    IFileSystem& fs_;
    std::string workPath_;
    std::size_t keyLength_;
    std::size_t entrySize_; // key, then the record number big-endian: bytes compare in order
    std::size_t capacity_;  // entries per buffer
    std::vector<unsigned char> buffer_;
    struct Item {
        std::uint64_t prefix; // the entry's first eight bytes, big-endian
        std::uint32_t index;  // its position in buffer_
    };
    std::vector<Item> order_;
    std::unique_ptr<IFile> work_;
    std::uint64_t workEnd_ = 0;
    std::vector<Run> runs_;
    std::uint64_t count_ = 0;
};

} // namespace tarvina::xbase
