#pragma once

#include "xbase/File.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace tarvina::xbase {

// FoxPro compound (CDX) index. Every structure is 512 bytes; offsets and
// pointers in the file are byte offsets. See docs/xbase-format.md.
//
// Index header (1024 bytes; the file header at 0 and each tag's header):
//   0..3   root node offset (uint32 LE)
//   4..7   free node list offset, -1 when none (uint32 LE)
//   8..11  change counter: bumped by every write, so other handles know when
//          what they cached is stale (uint32 LE)
//  12..13  key length (uint16 LE)
//  14      options: 0x01 unique, 0x08 has FOR, 0x20 compact, 0x40 compound,
//          0x80 set on the file header by FoxPro
//  15      signature, 1
//  502..503 order: 0 ascending, 1 descending (uint16 LE)
//  504..505 position of the FOR expression in the pool (uint16 LE); FoxPro
//           writes it right after the key expression's NUL: key length + 1
//  506..507 FOR expression length, its NUL included (uint16 LE)
//  508..509 position of the key expression in the pool: 0 (uint16 LE)
//  510..511 key expression length, its NUL included (uint16 LE)
//  512..1023 expression pool: key expression, NUL, FOR expression, NUL
// Versions of this program before the FoxPro layout wrote key length + FOR
// length at 504; such files are still read (see LoadDirectory).
constexpr std::uint32_t kCdxPage = 512;
constexpr std::uint32_t kCdxHeaderSize = 1024;
constexpr std::size_t kCdxRootOffset = 0;
constexpr std::size_t kCdxFreeOffset = 4;
constexpr std::size_t kCdxCounterOffset = 8;
constexpr std::size_t kCdxKeyLenOffset = 12;
constexpr std::size_t kCdxOptionsOffset = 14;
constexpr std::size_t kCdxSignatureOffset = 15;
constexpr std::size_t kCdxOrderOffset = 502;
constexpr std::size_t kCdxForPosOffset = 504;
constexpr std::size_t kCdxForLenOffset = 506;
constexpr std::size_t kCdxKeyPosOffset = 508;
constexpr std::size_t kCdxKeyExprLenOffset = 510;
constexpr std::size_t kCdxPoolOffset = 512;
constexpr std::uint8_t kCdxOptUnique = 0x01;
constexpr std::uint8_t kCdxOptFor = 0x08;
constexpr std::uint8_t kCdxOptCompact = 0x20;
constexpr std::uint8_t kCdxOptCompound = 0x40;
constexpr std::uint8_t kCdxOptFileHeader = 0x80;
constexpr std::uint8_t kCdxSignature = 1;
// The tag directory's keys are tag names, blank padded to 10 bytes.
constexpr int kCdxTagNameLength = 10;
// Longest key FoxPro allows in a compact index.
constexpr int kCdxMaxKeyLength = 240;
// Node header, both kinds:
//   0..1 attributes: 0 interior, 1 root, 2 leaf (sums: 3 = a root leaf)
//   2..3 number of keys (uint16 LE)
//   4..7 left sibling offset, -1 when none (uint32 LE)
//   8..11 right sibling offset, -1 when none (uint32 LE)
constexpr std::uint16_t kCdxAttrRoot = 1;
constexpr std::uint16_t kCdxAttrLeaf = 2;
constexpr std::uint32_t kCdxNone = 0xFFFFFFFFu;
// Interior node from 12: per key, the key (key length bytes), the record
// number of that key (uint32 BIG endian) and the child's offset (uint32 BIG
// endian); the key is the last (greatest) key of the child's subtree.
constexpr std::size_t kCdxInteriorEntries = 12;
// Compact leaf node from 12:
//  12..13 free bytes between the info array and the key bytes (uint16 LE)
//  14..17 record number mask (uint32 LE)
//  18     duplicate count mask
//  19     trailing count mask
//  20     bits of the record number
//  21     bits of the duplicate count
//  22     bits of the trailing count
//  23     bytes of one key info item
//  24..   key info items, each a little-endian bit field: record number (low
//         bits), duplicate count (leading bytes shared with the previous key
//         of the node), trailing count (trailing blanks left out); the
//         remaining key bytes are packed from the end of the node backwards,
//         first key last.
// FoxPro never uses fewer than three bytes for an info item: the duplicate and
// trailing counts take the bits the key length needs, the record number the
// rest of the item, so that the three counts fill it.
constexpr std::size_t kCdxLeafFree = 12;
constexpr std::size_t kCdxLeafRecMask = 14;
constexpr std::size_t kCdxLeafDupMask = 18;
constexpr std::size_t kCdxLeafTrailMask = 19;
constexpr std::size_t kCdxLeafRecBits = 20;
constexpr std::size_t kCdxLeafDupBits = 21;
constexpr std::size_t kCdxLeafTrailBits = 22;
constexpr std::size_t kCdxLeafItemBytes = 23;
constexpr std::size_t kCdxLeafItems = 24;
constexpr int kCdxLeafMinItemBytes = 3;

struct CdxTag {
    std::string name; // upper case
    std::string keyExpr;
    std::string forExpr;
    int keyLength = 0;
    std::uint32_t header = 0; // offset of the tag's header
    std::uint32_t root = 0;
    std::uint8_t options = 0;
    bool descending = false;
};

struct CdxNode {
    bool leaf = true;
    std::uint16_t attr = 0;
    std::uint32_t left = kCdxNone, right = kCdxNone;
    int count = 0;
    std::vector<unsigned char> keys; // count * key length
    std::vector<std::uint32_t> recs;
    std::vector<std::uint32_t> children; // interior only
    // Leaf only, as the node holds them: bytes of one info item, the bit
    // counts of its three parts, and whether the masks match those counts.
    std::uint8_t itemBytes = 0, recBits = 0, dupBits = 0, trailBits = 0;
    bool masksAgree = true;
};

struct CdxEntry {
    std::string key;
    std::uint32_t rec = 0;
};

// Writes a whole new CDX file tag by tag. The entries of a tag arrive in
// order and are packed into full leaves as they come, so a tag of any size
// takes only the memory of one leaf and of its interior levels; the interior
// levels follow the leaves, the tag directory comes last.
class CdxWriter {
public:
    CdxWriter(IFileSystem& fs, const std::string& path);
    ~CdxWriter();
    CdxWriter(const CdxWriter&) = delete;
    CdxWriter& operator=(const CdxWriter&) = delete;

    void BeginTag(const std::string& name, const std::string& keyExpr, const std::string& forExpr,
                  int keyLength);
    // Entries in ascending (key, record number) order; keyLength bytes each.
    void Add(const unsigned char* key, std::uint32_t rec);
    void EndTag();
    // Forgets the tag begun last (its source failed half-way); its pages are
    // written over by what follows.
    void AbortTag();
    void Finish();

private:
    void WriteLeaf(bool last);
    std::uint32_t WriteInteriorLevels();
    std::unique_ptr<IFile> file_;
    std::uint32_t end_ = kCdxHeaderSize + kCdxPage;
    std::vector<std::pair<std::string, std::uint32_t>> directory_;
    struct Sink;
    std::unique_ptr<Sink> sink_;
    // The tag being written.
    bool inTag_ = false;
    std::string name_, keyExpr_, forExpr_;
    int keyLength_ = 0;
    std::uint32_t header_ = 0;
    std::uint32_t firstLeaf_ = 0;
    std::uint32_t leaves_ = 0;
    // The leaf being filled.
    std::vector<unsigned char> leafKeys_;
    std::vector<std::uint32_t> leafRecs_;
    std::size_t leafStored_ = 0;
    std::uint32_t leafMaxRec_ = 0;
    // The last entry of each written leaf, for the interior levels.
    std::vector<unsigned char> upKeys_;
    std::vector<std::uint32_t> upRecs_;
};

// An open CDX file. In shared mode every operation first compares the change
// counter with the one its cache was read under; the caller holds the table's
// lock around each operation (shared to read, exclusive to write).
class CdxFile {
public:
    enum class Find { Ge, Gt, Lt, Le };

    // In shared mode, `lockFile` and `lockOffset` name the table's write lock,
    // which writers hold exclusively.
    CdxFile(std::unique_ptr<IFile> file, std::string path, bool shared, IFile* lockFile = nullptr,
            std::uint64_t lockOffset = 0);
    ~CdxFile();
    CdxFile(const CdxFile&) = delete;
    CdxFile& operator=(const CdxFile&) = delete;

    const std::string& Path() const { return path_; }
    const std::vector<CdxTag>& Tags() const { return tags_; }
    int TagIndex(const std::string& name) const; // -1 when absent

    // Re-reads the directory and the tag headers when another handle wrote;
    // the caller holds the table's lock.
    void Refresh();
    // Runs a lookup (Seek, First, Last) without a lock when it can: the change
    // counter is odd while a writer is at work and even otherwise. A lookup
    // served from nodes cached under the current even counter is a consistent
    // snapshot; one that had to read nodes is checked against the counter
    // again afterwards and retried when a writer came in between. When a
    // writer is at work, or retries keep failing, it waits for the shared lock.
    template <class F> auto Read(F&& body) -> decltype(body());
    // Writes bracket every change; EndWrite bumps the change counter. On a
    // file open exclusively no other handle reads the counter, so it stays
    // odd from the first change to the next Settle (Sync, close).
    void BeginWrite();
    void EndWrite();
    void Settle();

    // The entry of the order nearest to (key, rec) in the given direction.
    bool Seek(int tag, const unsigned char* key, std::uint32_t rec, Find how, CdxEntry& out);
    bool First(int tag, CdxEntry& out);
    bool Last(int tag, CdxEntry& out);
    // Insert returns false when the entry is there already; Remove when it is
    // missing.
    bool Insert(int tag, const unsigned char* key, std::uint32_t rec);
    bool Remove(int tag, const unsigned char* key, std::uint32_t rec);

    // Every entry of a tag in order. Structural faults (order, interior keys
    // that disagree with their child, cycles, pointers outside the file) are
    // appended to `faults` when given, else thrown as XBaseError(Damaged).
    // Departures from the FoxPro layout (leaves with fewer than three bytes
    // per entry, bit counts that do not fill them) are appended to `layout`
    // when given.
    void Walk(int tag, const std::function<void(const unsigned char*, std::uint32_t)>& visit,
              std::vector<std::string>* faults, std::vector<std::string>* layout = nullptr);
    // The places where the file departs from the layout FoxPro writes: tag
    // header fields 504..511 and the leaves of the tag directory; with
    // `firstLeaves` also the first leaf of each tag, which is enough to tell
    // a file an earlier version of this program wrote.
    std::vector<std::string> LayoutFaults(bool firstLeaves);
    void Sync() {
        Settle();
        file_->Sync();
    }

private:
    struct Piece {
        std::uint32_t offset;
        std::vector<unsigned char> key;
        std::uint32_t rec;
    };
    std::shared_ptr<const CdxNode> Node(std::uint32_t offset, int keyLength);
    void LoadDirectory();
    void ReadExpressions(const unsigned char* header, CdxTag& tag) const;
    std::uint32_t ReadCounter();
    std::uint32_t Allocate();
    void MarkWriting();
    void PutNode(std::uint32_t offset, const CdxNode& node, int keyLength);
    void PatchSibling(std::uint32_t offset, bool leftPointer, std::uint32_t value);
    std::vector<Piece> Rewrite(CdxNode node, std::uint32_t offset, int keyLength, bool isRoot);
    bool Modify(int tag, const unsigned char* key, std::uint32_t rec, bool insert);
    struct WalkState;
    void WalkTree(std::uint32_t root, int keyLength,
                  const std::function<void(const unsigned char*, std::uint32_t)>& visit,
                  std::vector<std::string>* faults, std::vector<std::string>* layout = nullptr);
    bool WalkNode(WalkState& st, std::uint32_t offset, int depth, CdxEntry* maxOut);
    [[noreturn]] void Damaged(const std::string& what) const;

    std::unique_ptr<IFile> file_;
    std::string path_;
    bool shared_;
    std::vector<CdxTag> tags_;
    std::uint32_t counter_ = 0;
    // The header as mapped memory, so that the change counter every shared
    // lookup checks costs no system call; null until mapped or when it cannot be.
    const unsigned char* head_ = nullptr;
    bool headTried_ = false;
    bool valid_ = false;     // the cache and tags belong to counter_
    bool filesRead_ = false; // a node or header came from the file since the flag was cleared
    bool marked_ = false;    // this write transaction has made the counter odd
    IFile* lockFile_;
    std::uint64_t lockOffset_;
    std::uint64_t size_ = 0;
    std::uint64_t end_ = 0;
    bool writing_ = false;
    bool sizeKnown_ = false; // size_ and end_ follow this handle's writes (exclusive)
    struct Cached {
        std::shared_ptr<const CdxNode> node;
        int keyLength;
    };
    // Decoded nodes by page number (offset / 512): a lookup is one index.
    std::vector<Cached> cache_;
    std::size_t cachedBytes_ = 0; // estimated heap held by cache_'s nodes
    const Cached* CacheFind(std::uint32_t offset) const;
    void CacheStore(std::uint32_t offset, std::shared_ptr<const CdxNode> node, int keyLength);
    void CacheDrop(std::uint32_t offset);
    void CacheClear();
};

template <class F> auto CdxFile::Read(F&& body) -> decltype(body()) {
    if (shared_ && !writing_) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            const std::uint32_t before = ReadCounter();
            if (before & 1)
                break; // a writer is at work (or died at work): wait for the lock
            try {
                filesRead_ = false;
                if (!valid_ || before != counter_)
                    LoadDirectory();
                auto result = body();
                if (!filesRead_ || ReadCounter() == before)
                    return result;
            } catch (const std::exception&) {
                if (ReadCounter() == before)
                    throw;
            }
            valid_ = false; // what was read may mix two states
        }
    }
    struct Held {
        IFile* f;
        std::uint64_t at;
        ~Held() {
            if (f)
                f->Unlock(at);
        }
    } held{shared_ ? lockFile_ : nullptr, lockOffset_};
    if (held.f)
        held.f->Lock(held.at, LockMode::Shared, true);
    Refresh();
    return body();
}

// Encodes a compact leaf; false when the entries do not fit in one node.
bool EncodeLeaf(const unsigned char* keys, const std::uint32_t* recs, int count, int keyLength,
                std::uint16_t attr, std::uint32_t left, std::uint32_t right, unsigned char* out);
// Decodes a node; throws XBaseError(Damaged) naming `where` when it is not valid.
CdxNode DecodeNode(const unsigned char* page, int keyLength, const std::string& where);
// What is wrong with a leaf's info item layout; empty when it is as FoxPro
// writes it.
std::string LeafLayoutFault(const CdxNode& leaf);

} // namespace tarvina::xbase
