#pragma once

// What the table engine's parts (the engine, field access, maintenance) share
// and nothing outside them needs.

#include "xbase/Error.h"
#include "xbase/Expression.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <new>
#include <string>

namespace tarvina::xbase {

constexpr std::uint32_t kScanChunk = 4096; // records read per block during scans

// The buffer of one scan block: never more records than the scan reads, so a
// small table of wide records costs what its file holds, not 4096 records of
// up to 64 KiB each.
inline std::size_t ScanBlockBytes(std::uint32_t records, std::uint32_t recordLength) {
    return std::size_t(records < kScanChunk ? records : kScanChunk) * recordLength;
}

// Runs one public operation so that it completes or throws XBaseError only.
template <class F> auto Guard(F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const XBaseError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw XBaseError(XBaseError::Code::Io, "out of memory");
    } catch (const std::exception& e) {
        throw XBaseError(XBaseError::Code::Invalid, std::string("internal error: ") + e.what());
    }
}

// A tag of the production index with its expressions parsed against the
// table's fields; a tag the engine cannot evaluate is kept, unusable, with
// the reason.
struct CompiledTag {
    std::string name;
    std::string keyText, forText;
    int keyLength = 0;
    bool usable = false;
    std::string problem;
    Expression key;
    Expression cond;
    bool hasCond = false;
    // The condition keeps deleted rows out of the tag (as every tag of this
    // system's tables does), so a lookup may trust the tag on that.
    bool excludesDeleted = false;

    bool Includes(const char* record) const { return !hasCond || cond.EvalBool(record); }
};

} // namespace tarvina::xbase
