#include "xbase/KeySorter.h"

#include "xbase/Error.h"

#include <algorithm>
#include <cstring>
#include <queue>

namespace tarvina::xbase {

namespace {

constexpr std::size_t kIoBlock = std::size_t(64) << 10; // bytes per read or write of a run

} // namespace

KeySorter::KeySorter(IFileSystem& fs, std::string workPath, int keyLength, std::size_t budget)
    : fs_(fs), workPath_(std::move(workPath)), keyLength_(static_cast<std::size_t>(keyLength)),
      entrySize_(keyLength_ + 4),
      capacity_(std::max<std::size_t>(64, budget / (entrySize_ + sizeof(Item)))) {
    fs_.Remove(workPath_); // what a build cut short by a crash left
}

KeySorter::~KeySorter() {
    if (work_) {
        work_.reset();
        try {
            fs_.Remove(workPath_);
        } catch (...) {
            // a work file left behind is overwritten by the next build
        }
    }
}

void KeySorter::Add(const unsigned char* key, std::uint32_t rec) {
    if (buffer_.size() / entrySize_ >= capacity_)
        Spill();
    const std::size_t at = buffer_.size();
    buffer_.resize(at + entrySize_);
    unsigned char* e = &buffer_[at];
    std::memcpy(e, key, keyLength_);
    for (int i = 0; i < 4; ++i)
        e[keyLength_ + std::size_t(i)] = static_cast<unsigned char>(rec >> (24 - 8 * i));
    ++count_;
}

void KeySorter::SortBuffer() {
    const std::size_t n = buffer_.size() / entrySize_;
    order_.resize(n);
    const std::size_t head = std::min<std::size_t>(8, entrySize_);
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char* e = &buffer_[i * entrySize_];
        std::uint64_t p = 0;
        for (std::size_t b = 0; b < 8; ++b)
            p = p << 8 | (b < head ? e[b] : 0);
        order_[i] = {p, static_cast<std::uint32_t>(i)};
    }
    const std::size_t rest = entrySize_ - head;
    std::sort(order_.begin(), order_.end(), [&](const Item& a, const Item& b) {
        if (a.prefix != b.prefix)
            return a.prefix < b.prefix;
        return rest > 0 && std::memcmp(&buffer_[a.index * entrySize_ + head],
                                       &buffer_[b.index * entrySize_ + head], rest) < 0;
    });
}

void KeySorter::Spill() {
    if (buffer_.empty())
        return;
    SortBuffer();
    if (!work_)
        work_ = fs_.Create(workPath_);
    const std::uint64_t start = workEnd_;
    std::vector<unsigned char> block;
    block.reserve(kIoBlock + entrySize_);
    for (const Item& it : order_) {
        const unsigned char* e = &buffer_[std::size_t(it.index) * entrySize_];
        block.insert(block.end(), e, e + entrySize_);
        if (block.size() >= kIoBlock) {
            work_->WriteAt(workEnd_, block.data(), block.size());
            workEnd_ += block.size();
            block.clear();
        }
    }
    if (!block.empty()) {
        work_->WriteAt(workEnd_, block.data(), block.size());
        workEnd_ += block.size();
    }
    runs_.push_back({start, order_.size()});
    buffer_.clear();
    order_.clear();
}

void KeySorter::Drain(const std::function<void(const unsigned char*, std::uint32_t)>& out) {
    auto recOf = [&](const unsigned char* e) {
        const unsigned char* r = e + keyLength_;
        return std::uint32_t(r[0]) << 24 | std::uint32_t(r[1]) << 16 | std::uint32_t(r[2]) << 8 |
               std::uint32_t(r[3]);
    };
    if (runs_.empty()) {
        SortBuffer();
        for (const Item& it : order_) {
            const unsigned char* e = &buffer_[std::size_t(it.index) * entrySize_];
            out(e, recOf(e));
        }
    } else {
        Spill();
        buffer_ = {};
        order_ = {};
        Merge(out);
    }
    buffer_ = {};
    order_ = {};
    runs_.clear();
}

void KeySorter::Merge(const std::function<void(const unsigned char*, std::uint32_t)>& out) {
    struct Cursor {
        std::uint64_t next; // file offset of the entries not yet read
        std::uint64_t left; // entries not yet read
        std::vector<unsigned char> block;
        std::size_t pos = 0; // of the current entry in block
    };
    std::vector<Cursor> cursors;
    cursors.reserve(runs_.size());
    const std::size_t perBlock = std::max<std::size_t>(1, kIoBlock / entrySize_);
    auto fill = [&](Cursor& c) {
        const std::uint64_t n = std::min<std::uint64_t>(c.left, perBlock);
        c.block.resize(std::size_t(n) * entrySize_);
        if (n > 0 && work_->ReadAt(c.next, c.block.data(), c.block.size()) != c.block.size())
            Fail(XBaseError::Code::Io, "sort work file cut short: " + workPath_);
        c.next += c.block.size();
        c.left -= n;
        c.pos = 0;
        return n > 0;
    };
    auto greater = [&](std::size_t a, std::size_t b) {
        return std::memcmp(&cursors[a].block[cursors[a].pos], &cursors[b].block[cursors[b].pos],
                           entrySize_) > 0;
    };
    std::priority_queue<std::size_t, std::vector<std::size_t>, decltype(greater)> heap(greater);
    for (const Run& r : runs_) {
        cursors.push_back({r.offset, r.count, {}, 0});
        if (fill(cursors.back()))
            heap.push(cursors.size() - 1);
    }
    while (!heap.empty()) {
        const std::size_t i = heap.top();
        heap.pop();
        Cursor& c = cursors[i];
        const unsigned char* e = &c.block[c.pos];
        const unsigned char* r = e + keyLength_;
        out(e, std::uint32_t(r[0]) << 24 | std::uint32_t(r[1]) << 16 | std::uint32_t(r[2]) << 8 |
                   std::uint32_t(r[3]));
        c.pos += entrySize_;
        if (c.pos < c.block.size() || fill(c))
            heap.push(i);
    }
}

} // namespace tarvina::xbase
