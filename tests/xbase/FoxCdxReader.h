#pragma once

// A reader of CDX files for tests, written from the FoxPro file format and
// sharing no code with the engine: it walks the bytes of a file and hands
// back the tag header fields and every leaf as stored, so that tests can hold
// them against FoxPro's rules.

#include <cstdint>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarvina::xbase::test {

struct FoxLeaf {
    std::uint32_t offset = 0;
    int attributes = 0;
    int count = 0;
    int freeBytes = 0;
    std::uint32_t recMask = 0;
    int dupMask = 0, trailMask = 0;
    int recBits = 0, dupBits = 0, trailBits = 0, itemBytes = 0;
    std::vector<std::string> keys; // trailing blanks restored
    std::vector<std::uint32_t> recs;
    int storedKeyBytes = 0; // key bytes the leaf keeps after compression
};

struct FoxTag {
    std::string name;
    std::uint32_t header = 0;
    int keyLength = 0;
    int options = 0;
    int at504 = 0, at506 = 0, at508 = 0, at510 = 0;
    std::string pool; // the 512 bytes of the expression pool
    std::vector<FoxLeaf> leaves;
};

class FoxCdx {
public:
    explicit FoxCdx(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (bytes_.size() < 1024 || bytes_.size() % 512 != 0)
            throw std::runtime_error("not a CDX file: " + path);
        directory.keyLength = U16(12);
        Walk(U32(0), directory.keyLength, directory.leaves, 0);
        for (const FoxLeaf& leaf : directory.leaves)
            for (std::size_t i = 0; i < leaf.keys.size(); ++i) {
                FoxTag tag;
                tag.name = leaf.keys[i];
                while (!tag.name.empty() && (tag.name.back() == ' ' || tag.name.back() == '\0'))
                    tag.name.pop_back();
                tag.header = leaf.recs[i];
                const std::size_t h = tag.header;
                tag.keyLength = U16(h + 12);
                tag.options = bytes_.at(h + 14);
                tag.at504 = U16(h + 504);
                tag.at506 = U16(h + 506);
                tag.at508 = U16(h + 508);
                tag.at510 = U16(h + 510);
                tag.pool = bytes_.substr(h + 512, 512);
                Walk(U32(h), tag.keyLength, tag.leaves, 0);
                tags.push_back(tag);
            }
    }

    FoxTag directory;
    std::vector<FoxTag> tags;

    const FoxTag& Tag(const std::string& name) const {
        for (const FoxTag& t : tags)
            if (t.name == name)
                return t;
        throw std::runtime_error("no tag " + name);
    }

private:
    std::uint32_t U32(std::size_t at) const {
        return std::uint32_t(Byte(at)) | std::uint32_t(Byte(at + 1)) << 8 |
               std::uint32_t(Byte(at + 2)) << 16 | std::uint32_t(Byte(at + 3)) << 24;
    }
    std::uint32_t Be32(std::size_t at) const {
        return std::uint32_t(Byte(at)) << 24 | std::uint32_t(Byte(at + 1)) << 16 |
               std::uint32_t(Byte(at + 2)) << 8 | std::uint32_t(Byte(at + 3));
    }
    int U16(std::size_t at) const { return Byte(at) | Byte(at + 1) << 8; }
    unsigned char Byte(std::size_t at) const { return static_cast<unsigned char>(bytes_.at(at)); }

    void Walk(std::uint32_t node, int keyLength, std::vector<FoxLeaf>& out, int depth) {
        if (depth > 32 || !visited_.insert(node).second)
            throw std::runtime_error("CDX tree loops");
        const std::size_t p = node;
        const int attributes = U16(p);
        const int count = U16(p + 2);
        if ((attributes & 2) == 0) {
            for (int i = 0; i < count; ++i)
                Walk(Be32(p + 12 + std::size_t(i) * (keyLength + 8) + keyLength + 4), keyLength,
                     out, depth + 1);
            return;
        }
        FoxLeaf leaf;
        leaf.offset = node;
        leaf.attributes = attributes;
        leaf.count = count;
        leaf.freeBytes = U16(p + 12);
        leaf.recMask = U32(p + 14);
        leaf.dupMask = Byte(p + 18);
        leaf.trailMask = Byte(p + 19);
        leaf.recBits = Byte(p + 20);
        leaf.dupBits = Byte(p + 21);
        leaf.trailBits = Byte(p + 22);
        leaf.itemBytes = Byte(p + 23);
        std::size_t keyEnd = p + 512;
        std::string previous;
        for (int i = 0; i < count; ++i) {
            std::uint64_t item = 0;
            for (int b = 0; b < leaf.itemBytes; ++b)
                item |= std::uint64_t(Byte(p + 24 + std::size_t(i * leaf.itemBytes + b)))
                        << (8 * b);
            const std::uint32_t rec = std::uint32_t(item) & leaf.recMask;
            const int dup = int(item >> leaf.recBits) & leaf.dupMask;
            const int trail = int(item >> (leaf.recBits + leaf.dupBits)) & leaf.trailMask;
            const int stored = keyLength - dup - trail;
            if (stored < 0)
                throw std::runtime_error("leaf counts exceed the key length");
            keyEnd -= std::size_t(stored);
            const std::string key = previous.substr(0, std::size_t(dup)) +
                                    bytes_.substr(keyEnd, std::size_t(stored)) +
                                    std::string(std::size_t(trail), ' ');
            leaf.keys.push_back(key);
            leaf.recs.push_back(rec);
            leaf.storedKeyBytes += stored;
            previous = key;
        }
        out.push_back(leaf);
    }

    std::string bytes_;
    std::set<std::uint32_t> visited_;
};

// FoxPro's rules for a compact leaf: the duplicate and trailing counts take
// the bits that the key length needs; an entry takes at least three bytes,
// and the record number every bit the counts leave.
struct FoxLeafRule {
    int itemBytes, recBits, countBits;
};

inline int BitsNeeded(std::uint64_t v) {
    int b = 0;
    while (b < 64 && (v >> b) != 0)
        ++b;
    return b;
}

inline FoxLeafRule FoxRuleFor(int keyLength, std::uint32_t largestRecord) {
    const int countBits = BitsNeeded(std::uint64_t(keyLength));
    int bytes = 3;
    while (bytes * 8 - 2 * countBits < BitsNeeded(largestRecord))
        ++bytes;
    return {bytes, bytes * 8 - 2 * countBits, countBits};
}

// Holds one tag of a file against FoxPro's rules: the header fields at 504 to
// 511 and the expression pool, and every leaf's entry layout and free space.
// `entries` are the (key, record number) pairs the tag must hold, in order
// (null: the entries are not checked).
inline void ExpectFoxProTag(const FoxCdx& cdx, const std::string& name, const std::string& keyExpr,
                            const std::string& forExpr,
                            const std::vector<std::pair<std::string, std::uint32_t>>* entries) {
    SCOPED_TRACE("tag " + name);
    const FoxTag& tag = cdx.Tag(name);
    const int keyLen = int(keyExpr.size()) + 1, forLen = int(forExpr.size()) + 1;
    EXPECT_EQ(tag.at504, keyLen) << "FOR expression's position";
    EXPECT_EQ(tag.at506, forLen) << "FOR expression's length";
    EXPECT_EQ(tag.at508, 0) << "key expression's position";
    EXPECT_EQ(tag.at510, keyLen) << "key expression's length";
    EXPECT_EQ(tag.pool.substr(0, std::size_t(keyLen)), keyExpr + '\0');
    EXPECT_EQ(tag.pool.substr(std::size_t(tag.at504), std::size_t(forLen)), forExpr + '\0');
    EXPECT_EQ((tag.options & 0x08) != 0, !forExpr.empty()) << "FOR option bit";
    std::vector<std::pair<std::string, std::uint32_t>> held;
    for (const FoxLeaf& leaf : tag.leaves) {
        SCOPED_TRACE("leaf at " + std::to_string(leaf.offset));
        std::uint32_t largest = 0;
        for (std::uint32_t r : leaf.recs)
            largest = std::max(largest, r);
        const FoxLeafRule rule = FoxRuleFor(tag.keyLength, largest);
        EXPECT_EQ(leaf.itemBytes, rule.itemBytes);
        EXPECT_GE(leaf.itemBytes, 3);
        EXPECT_LE(leaf.itemBytes, 5);
        EXPECT_EQ(leaf.recBits, rule.recBits);
        EXPECT_EQ(leaf.dupBits, rule.countBits);
        EXPECT_EQ(leaf.trailBits, rule.countBits);
        EXPECT_EQ(leaf.recBits + leaf.dupBits + leaf.trailBits, 8 * leaf.itemBytes);
        EXPECT_EQ(leaf.recMask, rule.recBits >= 32 ? 0xFFFFFFFFu : (1u << rule.recBits) - 1);
        EXPECT_EQ(leaf.dupMask, (1 << rule.countBits) - 1);
        EXPECT_EQ(leaf.trailMask, (1 << rule.countBits) - 1);
        EXPECT_EQ(leaf.freeBytes, 512 - 24 - leaf.count * leaf.itemBytes - leaf.storedKeyBytes);
        if (entries)
            for (std::size_t i = 0; i < leaf.keys.size(); ++i)
                held.emplace_back(leaf.keys[i], leaf.recs[i]);
        if (::testing::Test::HasFailure())
            return; // one broken leaf says enough
    }
    if (!entries)
        return;
    EXPECT_EQ(held.size(), entries->size());
    EXPECT_TRUE(held == *entries) << "the tag's entries differ from the table's rows";
}

} // namespace tarvina::xbase::test
