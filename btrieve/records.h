// Record slots on data pages and record tails on variable pages: which slots are
// live, and the logical bytes of a live slot (fixed part, variable tail, or the
// decompressed record). The layouts are listed at the top of records.cpp.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>

#include "btrieve/fcr.h"
#include "btrieve/pages.h"
#include "btrieve/pat.h"

namespace btrieve::detail {

class RecordReader {
public:
    RecordReader(const PageStore& store, const PageMap& map, const Layout& layout)
        : store_(store), map_(map), layout_(layout) {}

    // A data page by its number (pre-6: physical, else logical). NotData when the
    // page exists but holds no records.
    enum class PageKind { Data, NotData };
    Status dataPage(uint32_t page, PageRef& out, PageKind& kind) const;
    // The same for a logical page whose page-table entry is at hand.
    Status dataPage(uint32_t page, const PageEntry& entry, PageRef& out, PageKind& kind) const;

    // Whether the slot at offset in a data page holds a live record.
    Status isLive(uint32_t page, uint32_t offset, std::string_view slot, bool& live) const;

    // The logical bytes of a live slot.
    Status decode(std::string_view slot, std::string& out) const;
    // The same without a copy when the record lies whole in the slot (a fixed
    // record, or a variable one without a tail): out views the slot. Otherwise
    // the record is decoded into scratch and out views scratch.
    Status decodeView(std::string_view slot, std::string_view& out, std::string& scratch) const;

private:
    struct Fragment {
        std::string_view data;  // after any next pointer
        bool hasNext = false;
        uint32_t nextPage = 0;
        uint32_t nextFragment = 0;
    };
    Status readChain(uint32_t page, uint32_t fragment, std::string& out) const;
    Status fragment(uint32_t page, uint32_t index, PageRef& holder, Fragment& out) const;
    bool readPointer(std::string_view bytes, uint64_t at, uint32_t& page, uint32_t& fragment,
                     bool& none) const;
    Status loadFreeSlots() const;

    const PageStore& store_;
    const PageMap& map_;
    const Layout& layout_;
    mutable std::once_flag freeOnce_;
    mutable Status freeStatus_ = Status::Success;
    mutable std::unordered_set<uint64_t> freeSlots_;  // pre-6: absolute offsets on the free chain
};

// Upper bound for one record's logical bytes; a longer chain or stream is corrupt.
constexpr size_t kMaxRecordBytes = 64u << 20;

}  // namespace btrieve::detail
