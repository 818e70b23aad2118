#include "xbase/Cdx.h"

#include "xbase/Error.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <unordered_set>

namespace tarvina::xbase {

namespace {

constexpr int kMaxDepth = 64;
// Decoded nodes kept per open file. The code tag of a million codes decodes
// to about 8 MB, so random lookups on it are served from memory.
constexpr std::size_t kCacheBudget = std::size_t(16) << 20; // bytes
constexpr std::size_t kCachePages = 1u << 21;               // pages beyond 1 GB are not cached
constexpr std::size_t kMaxFaults = 100;

std::uint32_t Le32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
std::uint32_t Be32(const unsigned char* p) {
    return std::uint32_t(p[3]) | std::uint32_t(p[2]) << 8 | std::uint32_t(p[1]) << 16 |
           std::uint32_t(p[0]) << 24;
}
std::uint16_t Le16(const unsigned char* p) {
    return std::uint16_t(p[0] | p[1] << 8);
}
void PutLe32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void PutBe32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[3 - i] = static_cast<unsigned char>(v >> (8 * i));
}
void PutLe16(unsigned char* p, std::uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

int BitsFor(std::uint32_t v) {
    int b = 1;
    while (b < 32 && (v >> b) != 0)
        ++b;
    return b;
}

// Unsigned byte order over the whole key, then record number. Eight bytes at
// a time as big-endian words: the keys of this system are short, and this is
// the inner loop of every lookup.
int Compare(const unsigned char* a, std::uint32_t ra, const unsigned char* b, std::uint32_t rb,
            int keyLength) {
    std::size_t i = 0;
    const std::size_t n = static_cast<std::size_t>(keyLength);
    if constexpr (std::endian::native != std::endian::little) {
        const int c = std::memcmp(a, b, n);
        if (c != 0)
            return c < 0 ? -1 : 1;
        i = n;
    }
    for (; i + 8 <= n; i += 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y)
            return __builtin_bswap64(x) < __builtin_bswap64(y) ? -1 : 1;
    }
    for (; i < n; ++i)
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
    return ra < rb ? -1 : (ra > rb ? 1 : 0);
}

int TrailingBlanks(const unsigned char* k, int keyLength) {
    int t = 0;
    while (t < keyLength && k[keyLength - 1 - t] == ' ')
        ++t;
    return t;
}

// Bytes of one leaf info item for the largest record number of a node, as
// FoxPro lays them out: the duplicate and trailing counts take as many bits
// as the key length needs, the item takes at least three bytes, and the
// record number gets every bit the two counts leave. Record numbers have at
// most 32 bits; an item wider than that gives the spare bits to the counts.
int ItemBytes(std::uint32_t maxRec, int keyLength, int* recBits, int* countBits) {
    int cb = BitsFor(static_cast<std::uint32_t>(keyLength));
    const int bytes = std::max(kCdxLeafMinItemBytes, (BitsFor(maxRec) + 2 * cb + 7) / 8);
    int rb = bytes * 8 - 2 * cb;
    if (rb > 32) {
        cb = (bytes * 8 - 32) / 2;
        rb = 32;
    }
    if (recBits)
        *recBits = rb;
    if (countBits)
        *countBits = cb;
    return bytes;
}

int InteriorCapacity(int keyLength) {
    return static_cast<int>((kCdxPage - kCdxInteriorEntries) / (std::size_t(keyLength) + 8));
}

void EncodeInterior(const CdxNode& n, int keyLength, unsigned char* out) {
    std::memset(out, 0, kCdxPage);
    PutLe16(out, n.attr);
    PutLe16(out + 2, static_cast<std::uint16_t>(n.count));
    PutLe32(out + 4, n.left);
    PutLe32(out + 8, n.right);
    unsigned char* p = out + kCdxInteriorEntries;
    for (int i = 0; i < n.count; ++i) {
        std::memcpy(p, &n.keys[std::size_t(i) * keyLength], std::size_t(keyLength));
        PutBe32(p + keyLength, n.recs[i]);
        PutBe32(p + keyLength + 4, n.children[i]);
        p += keyLength + 8;
    }
}

} // namespace

bool EncodeLeaf(const unsigned char* keys, const std::uint32_t* recs, int count, int keyLength,
                std::uint16_t attr, std::uint32_t left, std::uint32_t right, unsigned char* out) {
    std::memset(out, 0, kCdxPage);
    std::uint32_t maxRec = 0;
    for (int i = 0; i < count; ++i)
        maxRec = std::max(maxRec, recs[i]);
    int rb = 0, cb = 0;
    const int bytes = ItemBytes(maxRec, keyLength, &rb, &cb);
    const std::size_t itemsEnd = kCdxLeafItems + std::size_t(count) * bytes;
    if (itemsEnd > kCdxPage)
        return false;
    PutLe16(out, attr);
    PutLe16(out + 2, static_cast<std::uint16_t>(count));
    PutLe32(out + 4, left);
    PutLe32(out + 8, right);
    PutLe32(out + kCdxLeafRecMask, rb == 32 ? 0xFFFFFFFFu : (1u << rb) - 1);
    out[kCdxLeafDupMask] = static_cast<unsigned char>((1u << cb) - 1);
    out[kCdxLeafTrailMask] = static_cast<unsigned char>((1u << cb) - 1);
    out[kCdxLeafRecBits] = static_cast<unsigned char>(rb);
    out[kCdxLeafDupBits] = static_cast<unsigned char>(cb);
    out[kCdxLeafTrailBits] = static_cast<unsigned char>(cb);
    out[kCdxLeafItemBytes] = static_cast<unsigned char>(bytes);
    std::size_t pos = kCdxPage;
    const unsigned char* prev = nullptr;
    for (int i = 0; i < count; ++i) {
        const unsigned char* k = keys + std::size_t(i) * keyLength;
        const int trail = TrailingBlanks(k, keyLength);
        int dup = 0;
        if (prev)
            while (dup < keyLength - trail && k[dup] == prev[dup])
                ++dup;
        const std::size_t stored = std::size_t(keyLength - dup - trail);
        if (pos < itemsEnd + stored)
            return false;
        pos -= stored;
        std::memcpy(out + pos, k + dup, stored);
        const std::uint64_t v =
            std::uint64_t(recs[i]) | std::uint64_t(dup) << rb | std::uint64_t(trail) << (rb + cb);
        unsigned char* item = out + kCdxLeafItems + std::size_t(i) * bytes;
        for (int b = 0; b < bytes; ++b)
            item[b] = static_cast<unsigned char>(v >> (8 * b));
        prev = k;
    }
    PutLe16(out + kCdxLeafFree, static_cast<std::uint16_t>(pos - itemsEnd));
    return true;
}

CdxNode DecodeNode(const unsigned char* page, int keyLength, const std::string& where) {
    auto bad = [&](const std::string& why) {
        Fail(XBaseError::Code::Damaged, "index damaged: " + why + " (" + where + ")");
    };
    CdxNode n;
    n.attr = Le16(page);
    n.count = Le16(page + 2);
    n.left = Le32(page + 4);
    n.right = Le32(page + 8);
    n.leaf = (n.attr & kCdxAttrLeaf) != 0;
    if (n.attr > 3)
        bad("unknown node attributes");
    const std::size_t kl = static_cast<std::size_t>(keyLength);
    n.keys.resize(std::size_t(n.count) * kl);
    n.recs.resize(static_cast<std::size_t>(n.count));
    if (!n.leaf) {
        if (kCdxInteriorEntries + std::size_t(n.count) * (kl + 8) > kCdxPage)
            bad("interior node holds more keys than fit");
        n.children.resize(static_cast<std::size_t>(n.count));
        const unsigned char* p = page + kCdxInteriorEntries;
        for (int i = 0; i < n.count; ++i) {
            std::memcpy(&n.keys[std::size_t(i) * kl], p, kl);
            n.recs[i] = Be32(p + kl);
            n.children[i] = Be32(p + kl + 4);
            p += kl + 8;
        }
        return n;
    }
    const std::uint32_t recMask = Le32(page + kCdxLeafRecMask);
    const unsigned dupMask = page[kCdxLeafDupMask];
    const unsigned trailMask = page[kCdxLeafTrailMask];
    const int rb = page[kCdxLeafRecBits];
    const int db = page[kCdxLeafDupBits];
    const int tb = page[kCdxLeafTrailBits];
    const int bytes = page[kCdxLeafItemBytes];
    n.itemBytes = static_cast<std::uint8_t>(bytes);
    n.recBits = static_cast<std::uint8_t>(rb);
    n.dupBits = static_cast<std::uint8_t>(db);
    n.trailBits = static_cast<std::uint8_t>(tb);
    auto mask = [](int bits) { return bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1; };
    n.masksAgree = rb <= 32 && db <= 8 && tb <= 8 && recMask == mask(rb) && dupMask == mask(db) &&
                   trailMask == mask(tb);
    if (n.count > 0 &&
        (bytes < 1 || bytes > 8 || rb > 32 || db > 8 || tb > 8 || rb + db + tb > bytes * 8))
        bad("invalid leaf bit layout");
    const std::size_t itemsEnd = kCdxLeafItems + std::size_t(n.count) * std::size_t(bytes);
    if (itemsEnd > kCdxPage)
        bad("leaf node holds more keys than fit");
    std::size_t pos = kCdxPage;
    for (int i = 0; i < n.count; ++i) {
        const unsigned char* item = page + kCdxLeafItems + std::size_t(i) * bytes;
        std::uint64_t v = 0;
        for (int b = 0; b < bytes; ++b)
            v |= std::uint64_t(item[b]) << (8 * b);
        const std::uint32_t rec = static_cast<std::uint32_t>(v) & recMask;
        const std::size_t dup = static_cast<std::size_t>((v >> rb) & dupMask);
        const std::size_t trail = static_cast<std::size_t>((v >> (rb + db)) & trailMask);
        if (dup + trail > kl || (i == 0 && dup > 0))
            bad("leaf key counts exceed the key length");
        const std::size_t stored = kl - dup - trail;
        if (pos < itemsEnd + stored)
            bad("leaf key bytes overlap their info items");
        pos -= stored;
        unsigned char* k = &n.keys[std::size_t(i) * kl];
        if (dup)
            std::memcpy(k, k - kl, dup);
        std::memcpy(k + dup, page + pos, stored);
        std::memset(k + dup + stored, ' ', trail);
        n.recs[i] = rec;
    }
    return n;
}

std::string LeafLayoutFault(const CdxNode& n) {
    if (!n.leaf)
        return std::string();
    const int bytes = n.itemBytes;
    if (bytes < kCdxLeafMinItemBytes)
        return "uses " + std::to_string(bytes) + " byte(s) per entry, FoxPro at least " +
               std::to_string(kCdxLeafMinItemBytes);
    if (n.recBits + n.dupBits + n.trailBits != bytes * 8)
        return std::to_string(n.recBits) + "+" + std::to_string(n.dupBits) + "+" +
               std::to_string(n.trailBits) + " bits do not fill " + std::to_string(bytes) +
               " bytes per entry";
    if (!n.masksAgree)
        return "masks disagree with the bit counts";
    return std::string();
}

// ---------------------------------------------------------------------------
// Writer

namespace {

void WriteHeader(IFile& file, std::uint32_t at, std::uint32_t root, int keyLength,
                 std::uint8_t options, const std::string& keyExpr, const std::string& forExpr) {
    unsigned char h[kCdxHeaderSize] = {};
    PutLe32(h + kCdxRootOffset, root);
    PutLe32(h + kCdxFreeOffset, kCdxNone);
    PutLe32(h + kCdxCounterOffset, 0);
    PutLe16(h + kCdxKeyLenOffset, static_cast<std::uint16_t>(keyLength));
    h[kCdxOptionsOffset] = options;
    h[kCdxSignatureOffset] = kCdxSignature;
    PutLe16(h + kCdxOrderOffset, 0);
    if (!keyExpr.empty() || !forExpr.empty()) {
        const std::size_t keyLen = keyExpr.size() + 1;
        const std::size_t forLen = forExpr.size() + 1;
        if (keyLen + forLen > kCdxHeaderSize - kCdxPoolOffset)
            Fail(XBaseError::Code::Invalid, "index expressions too long: " + keyExpr);
        // The FOR expression follows the key expression's NUL, and 504 says
        // where, as FoxPro and Harbour write and read it.
        PutLe16(h + kCdxForPosOffset, static_cast<std::uint16_t>(keyLen));
        PutLe16(h + kCdxForLenOffset, static_cast<std::uint16_t>(forLen));
        PutLe16(h + kCdxKeyPosOffset, 0);
        PutLe16(h + kCdxKeyExprLenOffset, static_cast<std::uint16_t>(keyLen));
        std::memcpy(h + kCdxPoolOffset, keyExpr.data(), keyExpr.size());
        std::memcpy(h + kCdxPoolOffset + keyLen, forExpr.data(), forExpr.size());
    }
    file.WriteAt(at, h, sizeof h);
}

} // namespace

// Collects pages and writes them in large blocks.
struct CdxWriter::Sink {
    Sink(IFile& f, std::uint32_t at) : file(f), start(at) {}
    unsigned char* Next() {
        buf.resize(buf.size() + kCdxPage);
        return &buf[buf.size() - kCdxPage];
    }
    void Flush() {
        if (!buf.empty())
            file.WriteAt(start, buf.data(), buf.size());
        start += static_cast<std::uint32_t>(buf.size());
        buf.clear();
    }
    void MaybeFlush() {
        if (buf.size() >= 128 * kCdxPage)
            Flush();
    }
    IFile& file;
    std::uint32_t start;
    std::vector<unsigned char> buf;
};

CdxWriter::CdxWriter(IFileSystem& fs, const std::string& path) : file_(fs.Create(path)) {}

CdxWriter::~CdxWriter() = default;

void CdxWriter::BeginTag(const std::string& name, const std::string& keyExpr,
                         const std::string& forExpr, int keyLength) {
    if (inTag_)
        Fail(XBaseError::Code::Invalid, "internal error: tag begun inside another");
    if (keyLength < 1 || keyLength > kCdxMaxKeyLength)
        Fail(XBaseError::Code::Invalid, "key length out of range for tag " + name);
    inTag_ = true;
    name_ = name;
    keyExpr_ = keyExpr;
    forExpr_ = forExpr;
    keyLength_ = keyLength;
    header_ = end_;
    firstLeaf_ = end_ + kCdxHeaderSize;
    leaves_ = 0;
    leafKeys_.clear();
    leafRecs_.clear();
    leafStored_ = 0;
    leafMaxRec_ = 0;
    upKeys_.clear();
    upRecs_.clear();
    sink_ = std::make_unique<Sink>(*file_, firstLeaf_);
}

void CdxWriter::Add(const unsigned char* key, std::uint32_t rec) {
    const std::size_t kl = static_cast<std::size_t>(keyLength_);
    const std::size_t n = leafRecs_.size();
    const unsigned char* prev = n > 0 ? &leafKeys_[(n - 1) * kl] : nullptr;
    if (prev == nullptr && !upRecs_.empty())
        prev = &upKeys_[upKeys_.size() - kl];
    if (prev != nullptr) {
        const std::uint32_t prevRec = n > 0 ? leafRecs_.back() : upRecs_.back();
        const int c = std::memcmp(prev, key, kl);
        if (c > 0 || (c == 0 && prevRec >= rec))
            Fail(XBaseError::Code::Invalid,
                 "internal error: tag " + name_ + " entries out of order");
    }
    const int trail = TrailingBlanks(key, keyLength_);
    int dup = 0;
    if (n > 0)
        while (dup < keyLength_ - trail && key[dup] == prev[dup])
            ++dup;
    const std::uint32_t maxRec = std::max(leafMaxRec_, rec);
    const std::size_t bytes = std::size_t(ItemBytes(maxRec, keyLength_, nullptr, nullptr));
    const std::size_t stored = kl - std::size_t(dup) - std::size_t(trail);
    if (n > 0 && kCdxLeafItems + (n + 1) * bytes + leafStored_ + stored > kCdxPage) {
        WriteLeaf(false);
        Add(key, rec); // the first entry of the next leaf stores its whole key
        return;
    }
    leafKeys_.insert(leafKeys_.end(), key, key + kl);
    leafRecs_.push_back(rec);
    leafStored_ += stored;
    leafMaxRec_ = maxRec;
}

void CdxWriter::WriteLeaf(bool last) {
    const std::uint32_t at = firstLeaf_ + leaves_ * kCdxPage;
    const std::uint16_t attr = kCdxAttrLeaf | (last && leaves_ == 0 ? kCdxAttrRoot : 0);
    const int count = static_cast<int>(leafRecs_.size());
    if (!EncodeLeaf(leafKeys_.data(), leafRecs_.data(), count, keyLength_, attr,
                    leaves_ ? at - kCdxPage : kCdxNone, last ? kCdxNone : at + kCdxPage,
                    sink_->Next()))
        Fail(XBaseError::Code::Invalid, "internal error: leaf packing mismatch");
    sink_->MaybeFlush();
    if (count > 0) {
        const std::size_t kl = static_cast<std::size_t>(keyLength_);
        upKeys_.insert(upKeys_.end(), leafKeys_.end() - long(kl), leafKeys_.end());
        upRecs_.push_back(leafRecs_.back());
    }
    ++leaves_;
    leafKeys_.clear();
    leafRecs_.clear();
    leafStored_ = 0;
    leafMaxRec_ = 0;
}

std::uint32_t CdxWriter::WriteInteriorLevels() {
    const std::size_t kl = static_cast<std::size_t>(keyLength_);
    const std::size_t cap = static_cast<std::size_t>(InteriorCapacity(keyLength_));
    std::vector<std::uint32_t> offsets(leaves_);
    for (std::uint32_t l = 0; l < leaves_; ++l)
        offsets[l] = firstLeaf_ + l * kCdxPage;
    std::vector<unsigned char> keys = std::move(upKeys_);
    std::vector<std::uint32_t> recs = std::move(upRecs_);
    while (offsets.size() > 1) {
        const std::size_t nodes = (offsets.size() + cap - 1) / cap;
        const std::uint32_t base = end_;
        Sink sink(*file_, base);
        std::vector<unsigned char> nextKeys;
        std::vector<std::uint32_t> nextRecs, nextOffsets;
        for (std::size_t j = 0; j < nodes; ++j) {
            const std::size_t b = j * cap;
            const std::size_t e = std::min(offsets.size(), b + cap);
            CdxNode n;
            n.leaf = false;
            n.attr = nodes == 1 ? kCdxAttrRoot : 0;
            const std::uint32_t at = base + static_cast<std::uint32_t>(j) * kCdxPage;
            n.left = j ? at - kCdxPage : kCdxNone;
            n.right = j + 1 < nodes ? at + kCdxPage : kCdxNone;
            n.count = static_cast<int>(e - b);
            n.keys.assign(keys.begin() + long(b * kl), keys.begin() + long(e * kl));
            n.recs.assign(recs.begin() + long(b), recs.begin() + long(e));
            n.children.assign(offsets.begin() + long(b), offsets.begin() + long(e));
            EncodeInterior(n, keyLength_, sink.Next());
            sink.MaybeFlush();
            nextKeys.insert(nextKeys.end(), keys.begin() + long((e - 1) * kl),
                            keys.begin() + long(e * kl));
            nextRecs.push_back(recs[e - 1]);
            nextOffsets.push_back(at);
        }
        sink.Flush();
        end_ = base + static_cast<std::uint32_t>(nodes) * kCdxPage;
        keys.swap(nextKeys);
        recs.swap(nextRecs);
        offsets.swap(nextOffsets);
    }
    return offsets.front();
}

void CdxWriter::EndTag() {
    if (!inTag_)
        Fail(XBaseError::Code::Invalid, "internal error: no tag begun");
    WriteLeaf(true); // an empty tag is one empty root leaf
    sink_->Flush();
    sink_.reset();
    end_ = firstLeaf_ + leaves_ * kCdxPage;
    const std::uint32_t root = WriteInteriorLevels();
    std::uint8_t options = kCdxOptCompact | kCdxOptCompound;
    if (!forExpr_.empty())
        options |= kCdxOptFor;
    WriteHeader(*file_, header_, root, keyLength_, options, keyExpr_, forExpr_);
    directory_.emplace_back(UpperAscii(name_), header_);
    inTag_ = false;
    upKeys_ = {};
    upRecs_ = {};
}

void CdxWriter::AbortTag() {
    inTag_ = false;
    sink_.reset();
    end_ = header_;
    leafKeys_.clear();
    leafRecs_.clear();
    upKeys_ = {};
    upRecs_ = {};
}

void CdxWriter::Finish() {
    if (inTag_)
        Fail(XBaseError::Code::Invalid, "internal error: tag left open");
    std::sort(directory_.begin(), directory_.end());
    std::vector<unsigned char> keys;
    std::vector<std::uint32_t> recs;
    for (const auto& [name, header] : directory_) {
        std::string k = name;
        k.resize(kCdxTagNameLength, ' ');
        keys.insert(keys.end(), k.begin(), k.end());
        recs.push_back(header);
    }
    unsigned char page[kCdxPage];
    if (!EncodeLeaf(keys.data(), recs.data(), static_cast<int>(recs.size()), kCdxTagNameLength,
                    kCdxAttrRoot | kCdxAttrLeaf, kCdxNone, kCdxNone, page))
        Fail(XBaseError::Code::Unsupported, "too many tags for one index file");
    file_->WriteAt(kCdxHeaderSize, page, kCdxPage);
    WriteHeader(*file_, 0, kCdxHeaderSize, kCdxTagNameLength,
                kCdxOptFileHeader | kCdxOptCompound | kCdxOptCompact, std::string(), std::string());
    // A tag given up half-way may have left pages past the end.
    if (file_->Size() > end_)
        file_->Truncate(end_);
    file_->Sync();
}

// ---------------------------------------------------------------------------
// Open file

CdxFile::CdxFile(std::unique_ptr<IFile> file, std::string path, bool shared, IFile* lockFile,
                 std::uint64_t lockOffset)
    : file_(std::move(file)), path_(std::move(path)), shared_(shared), lockFile_(lockFile),
      lockOffset_(lockOffset) {
    LoadDirectory();
}

CdxFile::~CdxFile() {
    try {
        Settle();
    } catch (...) {
        // an odd counter only sends readers to the lock
    }
}

void CdxFile::Damaged(const std::string& what) const {
    Fail(XBaseError::Code::Damaged, "index damaged: " + what + " (" + path_ + ")");
}

int CdxFile::TagIndex(const std::string& name) const {
    for (std::size_t i = 0; i < tags_.size(); ++i)
        if (EqualsNoCase(tags_[i].name, name))
            return static_cast<int>(i);
    return -1;
}

std::uint32_t CdxFile::ReadCounter() {
    if (!headTried_) {
        headTried_ = true;
        head_ = file_->MapHead(kCdxPage);
    }
    if (head_ != nullptr) {
        // Another handle's pwrite lands in the same page-cache page the map
        // shows; the acquire load keeps the node reads that follow after it.
        static_assert(kCdxCounterOffset % 4 == 0);
        const std::uint32_t raw = __atomic_load_n(
            reinterpret_cast<const std::uint32_t*>(head_ + kCdxCounterOffset), __ATOMIC_ACQUIRE);
        if constexpr (std::endian::native == std::endian::little)
            return raw;
        else
            return Le32(reinterpret_cast<const unsigned char*>(&raw));
    }
    unsigned char c[4];
    if (file_->ReadAt(kCdxCounterOffset, c, 4) != 4)
        Damaged("file shorter than its header");
    return Le32(c);
}

const CdxFile::Cached* CdxFile::CacheFind(std::uint32_t offset) const {
    const std::size_t page = offset / kCdxPage;
    if (page >= cache_.size() || !cache_[page].node)
        return nullptr;
    return &cache_[page];
}

namespace {

std::size_t NodeBytes(const CdxNode& n) {
    // The node, its shared control block and three heap blocks with their
    // allocator overhead.
    return sizeof(CdxNode) + 64 + n.keys.capacity() + 4 * n.recs.capacity() +
           4 * n.children.capacity();
}

} // namespace

void CdxFile::CacheStore(std::uint32_t offset, std::shared_ptr<const CdxNode> node, int keyLength) {
    const std::size_t page = offset / kCdxPage;
    if (page >= kCachePages)
        return;
    CacheDrop(offset);
    const std::size_t bytes = NodeBytes(*node);
    if (cachedBytes_ + bytes > kCacheBudget) {
        // Leaves go first: the interior levels are few and every lookup
        // passes through them.
        for (Cached& c : cache_)
            if (c.node && c.node->leaf) {
                cachedBytes_ -= NodeBytes(*c.node);
                c.node.reset();
            }
        if (cachedBytes_ + bytes > kCacheBudget / 2)
            CacheClear();
    }
    if (page >= cache_.size())
        cache_.resize(std::min(std::max(page + 1, cache_.size() * 2), kCachePages));
    cachedBytes_ += bytes;
    cache_[page] = {std::move(node), keyLength};
}

void CdxFile::CacheDrop(std::uint32_t offset) {
    const std::size_t page = offset / kCdxPage;
    if (page < cache_.size() && cache_[page].node) {
        cachedBytes_ -= NodeBytes(*cache_[page].node);
        cache_[page].node.reset();
    }
}

void CdxFile::CacheClear() {
    cache_.clear();
    cachedBytes_ = 0;
}

namespace {

// The NUL-terminated text at `pos` of the pool; false when it runs off the pool.
bool PoolText(const unsigned char* header, std::size_t pos, std::string& out) {
    constexpr std::size_t poolSize = kCdxHeaderSize - kCdxPoolOffset;
    if (pos >= poolSize)
        return false;
    const char* p = reinterpret_cast<const char*>(header + kCdxPoolOffset + pos);
    const std::size_t n = strnlen(p, poolSize - pos);
    if (pos + n == poolSize)
        return false;
    out.assign(p, n);
    return true;
}

} // namespace

void CdxFile::ReadExpressions(const unsigned char* t, CdxTag& tag) const {
    std::size_t keyPos = Le16(t + kCdxKeyPosOffset);
    if (!PoolText(t, keyPos, tag.keyExpr)) {
        keyPos = 0;
        if (!PoolText(t, 0, tag.keyExpr))
            Damaged("tag " + tag.name + " has an unterminated key expression");
    }
    // FoxPro and Harbour give the FOR expression's position at 504 and its
    // length at 506. Earlier versions of this program wrote the total of both
    // lengths at 504, which points past the FOR expression: a position is
    // believed when the text there has the length 506 gives (or 506 is not
    // kept); otherwise the FOR expression follows the key expression's NUL.
    const std::size_t forPos = Le16(t + kCdxForPosOffset);
    const std::size_t forLen = Le16(t + kCdxForLenOffset);
    std::string atPos;
    if (forPos > 0 && PoolText(t, forPos, atPos) && (forLen == 0 || atPos.size() + 1 == forLen)) {
        tag.forExpr = atPos;
        return;
    }
    if (!PoolText(t, keyPos + tag.keyExpr.size() + 1, tag.forExpr))
        Damaged("tag " + tag.name + " has an unterminated FOR expression");
}

void CdxFile::LoadDirectory() {
    CacheClear();
    tags_.clear();
    valid_ = false;
    filesRead_ = true;
    size_ = file_->Size();
    end_ = (size_ + kCdxPage - 1) / kCdxPage * kCdxPage;
    sizeKnown_ = !shared_;
    unsigned char h[kCdxHeaderSize];
    if (size_ < kCdxHeaderSize || file_->ReadAt(0, h, sizeof h) != sizeof h)
        Damaged("file shorter than its header");
    counter_ = Le32(h + kCdxCounterOffset);
    const int dirKeyLength = Le16(h + kCdxKeyLenOffset);
    if (dirKeyLength < 1 || dirKeyLength > kCdxMaxKeyLength)
        Damaged("invalid tag directory key length");
    std::vector<std::pair<std::string, std::uint32_t>> entries;
    WalkTree(
        Le32(h + kCdxRootOffset), dirKeyLength,
        [&](const unsigned char* key, std::uint32_t rec) {
            std::string name(reinterpret_cast<const char*>(key),
                             static_cast<std::size_t>(dirKeyLength));
            while (!name.empty() && (name.back() == ' ' || name.back() == '\0'))
                name.pop_back();
            entries.emplace_back(UpperAscii(name), rec);
        },
        nullptr);
    if (entries.size() > 1000)
        Damaged("implausible number of tags");
    for (const auto& [name, at] : entries) {
        unsigned char t[kCdxHeaderSize];
        if (at % kCdxPage != 0 || at < kCdxHeaderSize ||
            at + std::uint64_t(kCdxHeaderSize) > size_ ||
            file_->ReadAt(at, t, sizeof t) != sizeof t)
            Damaged("tag " + name + " has its header outside the file");
        CdxTag tag;
        tag.name = name;
        tag.header = at;
        tag.root = Le32(t + kCdxRootOffset);
        tag.keyLength = Le16(t + kCdxKeyLenOffset);
        tag.options = t[kCdxOptionsOffset];
        tag.descending = Le16(t + kCdxOrderOffset) != 0;
        if (tag.keyLength < 1 || tag.keyLength > kCdxMaxKeyLength)
            Damaged("tag " + name + " has an invalid key length");
        ReadExpressions(t, tag);
        tags_.push_back(tag);
    }
    valid_ = true;
}

void CdxFile::Refresh() {
    if (!shared_ || writing_)
        return;
    if (!valid_ || ReadCounter() != counter_)
        LoadDirectory();
}

void CdxFile::BeginWrite() {
    Refresh();
    writing_ = true;
    if (shared_ || !sizeKnown_) {
        size_ = file_->Size();
        end_ = (size_ + kCdxPage - 1) / kCdxPage * kCdxPage;
        sizeKnown_ = !shared_;
    }
}

void CdxFile::MarkWriting() {
    if (marked_)
        return;
    // Odd while the nodes change; a writer that dies leaves it odd, which
    // sends readers to the lock (and the next writer moves on from it).
    const std::uint32_t odd = (counter_ & 1) ? counter_ + 2 : counter_ + 1;
    unsigned char c[4];
    PutLe32(c, odd);
    file_->WriteAt(kCdxCounterOffset, c, 4);
    counter_ = odd;
    marked_ = true;
}

void CdxFile::EndWrite() {
    writing_ = false;
    if (shared_)
        Settle();
}

void CdxFile::Settle() {
    if (!marked_)
        return;
    marked_ = false;
    unsigned char c[4];
    PutLe32(c, counter_ + 1);
    file_->WriteAt(kCdxCounterOffset, c, 4);
    ++counter_;
}

std::shared_ptr<const CdxNode> CdxFile::Node(std::uint32_t offset, int keyLength) {
    if (const Cached* c = CacheFind(offset); c && c->keyLength == keyLength)
        return c->node;
    if (offset % kCdxPage != 0 || offset < kCdxHeaderSize ||
        offset + std::uint64_t(kCdxPage) > size_)
        Damaged("node pointer " + std::to_string(offset) + " outside the file");
    unsigned char page[kCdxPage];
    filesRead_ = true;
    if (file_->ReadAt(offset, page, kCdxPage) != kCdxPage)
        Damaged("node " + std::to_string(offset) + " cut short");
    auto node = std::make_shared<const CdxNode>(
        DecodeNode(page, keyLength, path_ + " node " + std::to_string(offset)));
    CacheStore(offset, node, keyLength);
    return node;
}

std::uint32_t CdxFile::Allocate() {
    if (end_ + kCdxPage > 0xFFFFFE00ull)
        Fail(XBaseError::Code::Invalid, "index file full: " + path_);
    const std::uint32_t at = static_cast<std::uint32_t>(end_);
    end_ += kCdxPage;
    return at;
}

void CdxFile::PutNode(std::uint32_t offset, const CdxNode& node, int keyLength) {
    MarkWriting();
    unsigned char page[kCdxPage];
    if (node.leaf) {
        if (!EncodeLeaf(node.keys.data(), node.recs.data(), node.count, keyLength, node.attr,
                        node.left, node.right, page))
            Fail(XBaseError::Code::Invalid, "internal error: leaf overflow");
    } else {
        EncodeInterior(node, keyLength, page);
    }
    file_->WriteAt(offset, page, kCdxPage);
    size_ = std::max<std::uint64_t>(size_, offset + std::uint64_t(kCdxPage));
    auto cached = std::make_shared<CdxNode>(node);
    if (node.leaf) {
        // The layout the page now has, as a read of it would give.
        cached->itemBytes = page[kCdxLeafItemBytes];
        cached->recBits = page[kCdxLeafRecBits];
        cached->dupBits = page[kCdxLeafDupBits];
        cached->trailBits = page[kCdxLeafTrailBits];
        cached->masksAgree = true;
    }
    CacheStore(offset, std::move(cached), keyLength);
}

void CdxFile::PatchSibling(std::uint32_t offset, bool leftPointer, std::uint32_t value) {
    if (offset == kCdxNone || offset % kCdxPage != 0 || offset < kCdxHeaderSize ||
        offset + std::uint64_t(kCdxPage) > size_)
        return; // a broken link is left for a rebuild; never write outside the file
    MarkWriting();
    unsigned char v[4];
    PutLe32(v, value);
    file_->WriteAt(offset + (leftPointer ? 4 : 8), v, 4);
    CacheDrop(offset);
}

namespace {

// How a node of `count` entries that does not fit one page is split, as
// [begin, end) ranges: two halves when they fit, else as many full nodes as
// needed. fits(b, e): entries b..e-1 fit one node.
template <class Fits> std::vector<std::pair<int, int>> SplitPoints(int count, const Fits& fits) {
    std::vector<std::pair<int, int>> chunks;
    const int mid = count / 2;
    if (fits(0, mid) && fits(mid, count))
        return {{0, mid}, {mid, count}};
    int b = 0;
    while (b < count) {
        int lo = b + 1, hi = count; // largest e with fits(b, e)
        while (lo < hi) {
            int m = (lo + hi + 1) / 2;
            if (fits(b, m))
                lo = m;
            else
                hi = m - 1;
        }
        chunks.emplace_back(b, lo);
        b = lo;
    }
    return chunks;
}

} // namespace

std::vector<CdxFile::Piece> CdxFile::Rewrite(CdxNode node, std::uint32_t offset, int keyLength,
                                             bool isRoot) {
    const std::size_t kl = static_cast<std::size_t>(keyLength);
    std::vector<Piece> pieces;
    if (node.count == 0) {
        if (isRoot) {
            CdxNode empty;
            empty.leaf = true;
            empty.attr = kCdxAttrRoot | kCdxAttrLeaf;
            PutNode(offset, empty, keyLength);
        } else {
            PatchSibling(node.left, false, node.right);
            PatchSibling(node.right, true, node.left);
        }
        return pieces;
    }
    const std::uint16_t base = node.leaf ? kCdxAttrLeaf : 0;
    auto piece = [&](std::uint32_t at, const CdxNode& n) {
        const std::size_t last = std::size_t(n.count - 1);
        pieces.push_back({at,
                          std::vector<unsigned char>(n.keys.begin() + long(last * kl),
                                                     n.keys.begin() + long(last * kl + kl)),
                          n.recs[last]});
    };
    auto fits = [&](int b, int e) {
        if (!node.leaf)
            return e - b <= InteriorCapacity(keyLength);
        unsigned char page[kCdxPage];
        return EncodeLeaf(&node.keys[std::size_t(b) * kl], &node.recs[std::size_t(b)], e - b,
                          keyLength, 0, 0, 0, page);
    };
    if (fits(0, node.count)) {
        node.attr = static_cast<std::uint16_t>(base | (isRoot ? kCdxAttrRoot : 0));
        PutNode(offset, node, keyLength);
        piece(offset, node);
        return pieces;
    }
    const std::vector<std::pair<int, int>> chunks = SplitPoints(node.count, fits);
    std::vector<std::uint32_t> at(chunks.size());
    at[0] = offset;
    for (std::size_t c = 1; c < chunks.size(); ++c)
        at[c] = Allocate();
    for (std::size_t c = 0; c < chunks.size(); ++c) {
        CdxNode sub;
        sub.leaf = node.leaf;
        sub.attr = base;
        sub.left = c == 0 ? node.left : at[c - 1];
        sub.right = c + 1 == chunks.size() ? node.right : at[c + 1];
        const auto [b, e] = chunks[c];
        sub.count = e - b;
        sub.keys.assign(node.keys.begin() + long(std::size_t(b) * kl),
                        node.keys.begin() + long(std::size_t(e) * kl));
        sub.recs.assign(node.recs.begin() + b, node.recs.begin() + e);
        if (!node.leaf)
            sub.children.assign(node.children.begin() + b, node.children.begin() + e);
        PutNode(at[c], sub, keyLength);
        piece(at[c], sub);
    }
    PatchSibling(node.right, true, at.back());
    return pieces;
}

namespace {

// `leaf` with (key, rec) inserted at pos, or the entry at pos removed.
void EditLeaf(CdxNode& leaf, int pos, const unsigned char* key, std::uint32_t rec, int kl,
              bool insert) {
    const auto at = leaf.keys.begin() + long(std::size_t(pos) * std::size_t(kl));
    if (insert) {
        leaf.keys.insert(at, key, key + kl);
        leaf.recs.insert(leaf.recs.begin() + pos, rec);
        ++leaf.count;
    } else {
        leaf.keys.erase(at, at + kl);
        leaf.recs.erase(leaf.recs.begin() + pos);
        --leaf.count;
    }
}

// `parent` with its entry i replaced by the pieces (offset, last key and
// record) its child became when rewritten.
template <class Pieces>
void ReplaceChild(CdxNode& parent, std::size_t i, const Pieces& pieces, std::size_t kl) {
    parent.keys.erase(parent.keys.begin() + long(i * kl), parent.keys.begin() + long(i * kl + kl));
    parent.recs.erase(parent.recs.begin() + long(i));
    parent.children.erase(parent.children.begin() + long(i));
    std::size_t ins = i;
    for (const auto& pc : pieces) {
        parent.keys.insert(parent.keys.begin() + long(ins * kl), pc.key.begin(), pc.key.end());
        parent.recs.insert(parent.recs.begin() + long(ins), pc.rec);
        parent.children.insert(parent.children.begin() + long(ins), pc.offset);
        ++ins;
    }
    parent.count = static_cast<int>(parent.recs.size());
}

// A new root above the pieces the old root was split into.
template <class Pieces> CdxNode RootAbove(const Pieces& pieces) {
    CdxNode root;
    root.leaf = false;
    root.attr = kCdxAttrRoot;
    for (const auto& pc : pieces) {
        root.keys.insert(root.keys.end(), pc.key.begin(), pc.key.end());
        root.recs.push_back(pc.rec);
        root.children.push_back(pc.offset);
    }
    root.count = static_cast<int>(pieces.size());
    return root;
}

// The entry idx of a node.
void EntryAt(const CdxNode& node, int idx, int kl, CdxEntry& out) {
    out.key.assign(reinterpret_cast<const char*>(&node.keys[std::size_t(idx) * std::size_t(kl)]),
                   std::size_t(kl));
    out.rec = node.recs[idx];
}

} // namespace

bool CdxFile::Modify(int t, const unsigned char* key, std::uint32_t rec, bool insert) {
    if (!writing_)
        Fail(XBaseError::Code::Invalid, "internal error: index change outside a write");
    CdxTag& tag = tags_.at(static_cast<std::size_t>(t));
    const int kl = tag.keyLength;
    struct Step {
        std::uint32_t offset;
        std::shared_ptr<const CdxNode> node;
        int index;
    };
    std::vector<Step> path;
    std::uint32_t offset = tag.root;
    for (int depth = 0;; ++depth) {
        if (depth > kMaxDepth)
            Damaged("tag " + tag.name + " is deeper than any index can be (a cycle?)");
        auto node = Node(offset, kl);
        if (node->leaf) {
            path.push_back({offset, node, -1});
            break;
        }
        if (node->count == 0)
            Damaged("tag " + tag.name + " has an empty interior node");
        int idx = 0;
        while (idx < node->count &&
               Compare(&node->keys[std::size_t(idx) * kl], node->recs[idx], key, rec, kl) < 0)
            ++idx;
        if (idx == node->count) {
            if (!insert)
                return false;
            idx = node->count - 1;
        }
        path.push_back({offset, node, idx});
        offset = node->children[idx];
    }
    const CdxNode& leaf = *path.back().node;
    int pos = 0;
    while (pos < leaf.count &&
           Compare(&leaf.keys[std::size_t(pos) * kl], leaf.recs[pos], key, rec, kl) < 0)
        ++pos;
    const bool equal = pos < leaf.count && Compare(&leaf.keys[std::size_t(pos) * kl],
                                                   leaf.recs[pos], key, rec, kl) == 0;
    if (insert == equal)
        return false;
    CdxNode m = leaf;
    EditLeaf(m, pos, key, rec, kl, insert);
    std::vector<Piece> pieces = Rewrite(std::move(m), path.back().offset, kl, path.size() == 1);
    for (int level = static_cast<int>(path.size()) - 2; level >= 0; --level) {
        const Step& s = path[std::size_t(level)];
        const CdxNode& p = *s.node;
        const std::size_t i = static_cast<std::size_t>(s.index);
        if (pieces.size() == 1 && pieces[0].offset == p.children[i] && pieces[0].rec == p.recs[i] &&
            std::memcmp(pieces[0].key.data(), &p.keys[i * kl], std::size_t(kl)) == 0)
            return true; // the parent still describes its child
        CdxNode np = p;
        ReplaceChild(np, i, pieces, std::size_t(kl));
        pieces = Rewrite(std::move(np), s.offset, kl, level == 0);
    }
    if (pieces.size() > 1) {
        const std::uint32_t rootAt = Allocate();
        PutNode(rootAt, RootAbove(pieces), kl);
        tag.root = rootAt;
        unsigned char v[4];
        PutLe32(v, rootAt);
        file_->WriteAt(tag.header + kCdxRootOffset, v, 4);
    }
    return true;
}

bool CdxFile::Insert(int tag, const unsigned char* key, std::uint32_t rec) {
    return Modify(tag, key, rec, true);
}

bool CdxFile::Remove(int tag, const unsigned char* key, std::uint32_t rec) {
    return Modify(tag, key, rec, false);
}

bool CdxFile::Seek(int t, const unsigned char* key, std::uint32_t rec, Find how, CdxEntry& out) {
    const CdxTag& tag = tags_.at(static_cast<std::size_t>(t));
    const int kl = tag.keyLength;
    const bool forward = how == Find::Ge || how == Find::Gt;
    // Forward: the first entry with cmp >= 0 (Ge) or > 0 (Gt).
    // Backward: the last entry with cmp < 0 (Lt) or <= 0 (Le).
    auto passes = [&](const unsigned char* k, std::uint32_t r) {
        const int c = Compare(k, r, key, rec, kl);
        switch (how) {
        case Find::Ge:
            return c >= 0;
        case Find::Gt:
            return c > 0;
        case Find::Lt:
            return c >= 0; // first entry that is NOT before the target
        case Find::Le:
            return c > 0;
        }
        return false;
    };
    bool haveFallback = false;
    std::uint32_t offset = tag.root;
    for (int depth = 0;; ++depth) {
        if (depth > kMaxDepth)
            Damaged("tag " + tag.name + " is deeper than any index can be (a cycle?)");
        // A cached node is used in place (no reference count to bump on the
        // hot path); one read from the file is held for this step.
        std::shared_ptr<const CdxNode> held;
        const CdxNode* node = nullptr;
        if (const Cached* c = CacheFind(offset); c && c->keyLength == kl) {
            node = c->node.get();
        } else {
            held = Node(offset, kl);
            node = held.get();
        }
        // Entries are sorted, so `passes` is false up to a point and true
        // after it: find that point by halving.
        int lo = 0, hi = node->count;
        while (lo < hi) {
            const int mid = (lo + hi) / 2;
            if (passes(&node->keys[std::size_t(mid) * kl], node->recs[mid]))
                hi = mid;
            else
                lo = mid + 1;
        }
        int idx = lo;
        if (node->leaf) {
            if (forward) {
                if (idx == node->count) {
                    if (node->count > 0 && depth > 0)
                        Damaged("tag " + tag.name + " has an interior key above its leaf");
                    return false;
                }
            } else {
                if (idx == 0)
                    return haveFallback;
                --idx;
            }
            EntryAt(*node, idx, kl, out);
            return true;
        }
        if (idx == node->count) {
            if (forward || node->count == 0)
                return forward ? false : haveFallback;
            idx = node->count - 1;
            EntryAt(*node, idx, kl, out);
            return true;
        }
        if (!forward && idx > 0) {
            EntryAt(*node, idx - 1, kl, out);
            haveFallback = true;
        }
        offset = node->children[idx];
    }
}

bool CdxFile::First(int tag, CdxEntry& out) {
    std::vector<unsigned char> low(std::size_t(tags_.at(std::size_t(tag)).keyLength), 0);
    return Seek(tag, low.data(), 0, Find::Ge, out);
}

bool CdxFile::Last(int tag, CdxEntry& out) {
    std::vector<unsigned char> high(std::size_t(tags_.at(std::size_t(tag)).keyLength), 0xFF);
    return Seek(tag, high.data(), 0xFFFFFFFFu, Find::Le, out);
}

struct CdxFile::WalkState {
    int keyLength;
    const std::function<void(const unsigned char*, std::uint32_t)>& visit;
    std::vector<std::string>* faults;
    std::vector<std::string>* layout;
    std::unordered_set<std::uint32_t> seen;
    std::vector<unsigned char> lastKey;
    std::uint32_t lastRec = 0;
    bool haveLast = false;
};

void CdxFile::Walk(int tag, const std::function<void(const unsigned char*, std::uint32_t)>& visit,
                   std::vector<std::string>* faults, std::vector<std::string>* layout) {
    Refresh();
    const CdxTag& t = tags_.at(static_cast<std::size_t>(tag));
    WalkTree(t.root, t.keyLength, visit, faults, layout);
}

void CdxFile::WalkTree(std::uint32_t root, int keyLength,
                       const std::function<void(const unsigned char*, std::uint32_t)>& visit,
                       std::vector<std::string>* faults, std::vector<std::string>* layout) {
    WalkState st{keyLength, visit, faults, layout, {}, {}, 0, false};
    WalkNode(st, root, 0, nullptr);
}

std::vector<std::string> CdxFile::LayoutFaults(bool firstLeaves) {
    Refresh();
    std::vector<std::string> out;
    unsigned char h[kCdxHeaderSize];
    if (file_->ReadAt(0, h, sizeof h) != sizeof h)
        Damaged("file shorter than its header");
    {
        std::vector<std::string> ignored;
        WalkTree(
            Le32(h + kCdxRootOffset), Le16(h + kCdxKeyLenOffset),
            [](const unsigned char*, std::uint32_t) {}, &ignored, &out);
        for (auto& f : out)
            f = "tag directory: " + f;
    }
    for (const CdxTag& tag : tags_) {
        const std::string name = "tag " + tag.name + ": ";
        unsigned char t[kCdxHeaderSize];
        if (file_->ReadAt(tag.header, t, sizeof t) != sizeof t)
            Damaged("tag " + tag.name + " has its header outside the file");
        const std::size_t keyLen = tag.keyExpr.size() + 1, forLen = tag.forExpr.size() + 1;
        auto field = [&](std::size_t at, std::size_t want, const char* what) {
            const std::size_t have = Le16(t + at);
            if (have != want)
                out.push_back(name + "header offset " + std::to_string(at) + " holds " +
                              std::to_string(have) + ", FoxPro writes " + std::to_string(want) +
                              " (" + what + ")");
        };
        field(kCdxForPosOffset, keyLen, "position of the FOR expression");
        field(kCdxForLenOffset, forLen, "length of the FOR expression with its NUL");
        field(kCdxKeyPosOffset, 0, "position of the key expression");
        field(kCdxKeyExprLenOffset, keyLen, "length of the key expression with its NUL");
        if (!firstLeaves)
            continue;
        std::uint32_t offset = tag.root;
        for (int depth = 0; depth <= kMaxDepth; ++depth) {
            const auto node = Node(offset, tag.keyLength);
            if (node->leaf) {
                const std::string fault = LeafLayoutFault(*node);
                if (!fault.empty())
                    out.push_back(name + "leaf node " + std::to_string(offset) + " " + fault);
                break;
            }
            if (node->count == 0)
                Damaged("tag " + tag.name + " has an empty interior node");
            offset = node->children[0];
        }
    }
    return out;
}

bool CdxFile::WalkNode(WalkState& st, std::uint32_t offset, int depth, CdxEntry* maxOut) {
    auto fault = [&](const std::string& what) {
        if (!st.faults)
            Damaged(what);
        if (st.faults->size() < kMaxFaults)
            st.faults->push_back(what);
        return false;
    };
    if (depth > kMaxDepth)
        return fault("tree deeper than any index can be at node " + std::to_string(offset));
    if (!st.seen.insert(offset).second)
        return fault("node " + std::to_string(offset) + " is reached twice (a cycle?)");
    std::shared_ptr<const CdxNode> node;
    try {
        node = Node(offset, st.keyLength);
    } catch (const XBaseError& e) {
        return fault(e.what());
    }
    const std::size_t kl = static_cast<std::size_t>(st.keyLength);
    if (node->leaf) {
        if (st.layout && st.layout->size() < kMaxFaults) {
            const std::string odd = LeafLayoutFault(*node);
            if (!odd.empty())
                st.layout->push_back("leaf node " + std::to_string(offset) + " " + odd);
        }
        for (int i = 0; i < node->count; ++i) {
            const unsigned char* k = &node->keys[std::size_t(i) * kl];
            if (st.haveLast &&
                Compare(st.lastKey.data(), st.lastRec, k, node->recs[i], st.keyLength) >= 0)
                fault("keys out of order in node " + std::to_string(offset));
            st.lastKey.assign(k, k + kl);
            st.lastRec = node->recs[i];
            st.haveLast = true;
            st.visit(k, node->recs[i]);
        }
        if (maxOut && node->count > 0) {
            maxOut->key.assign(st.lastKey.begin(), st.lastKey.end());
            maxOut->rec = st.lastRec;
        }
        return true;
    }
    if (node->count == 0)
        return fault("empty interior node " + std::to_string(offset));
    bool ok = true;
    for (int i = 0; i < node->count; ++i) {
        CdxEntry childMax;
        childMax.rec = 0xFFFFFFFFu;
        if (!WalkNode(st, node->children[i], depth + 1, &childMax)) {
            ok = false;
            continue;
        }
        const unsigned char* k = &node->keys[std::size_t(i) * kl];
        if (childMax.key.size() == kl &&
            (childMax.rec != node->recs[i] || std::memcmp(childMax.key.data(), k, kl) != 0))
            fault("interior key of node " + std::to_string(offset) +
                  " disagrees with the last key of its child");
    }
    if (maxOut && st.haveLast) {
        maxOut->key.assign(st.lastKey.begin(), st.lastKey.end());
        maxOut->rec = st.lastRec;
    }
    return ok;
}

} // namespace tarvina::xbase
