// Record slots on data pages and record tails on variable pages: which slots are
// live, and the logical bytes of a live slot (fixed part, variable tail, or the
// decompressed record). The layouts are listed at the top of records.cpp.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "btrieve/fcr.h"
#include "btrieve/pages.h"
#include "btrieve/pat.h"

namespace btrieve::detail {

// What a failed check found, in words, for the message that reports the failure
// (e.g. "variable page 85: fragment 2 is claimed by two records"). The first
// finding is kept: later failures are often its consequences.
class DamageNote {
public:
    void set(std::string text) const {
        std::lock_guard lock(mutex_);
        if (text_.empty()) text_ = std::move(text);
    }
    std::string get() const {
        std::lock_guard lock(mutex_);
        return text_;
    }

private:
    mutable std::mutex mutex_;
    mutable std::string text_;
};

// The fragments of variable pages a record's chain passed through, one number
// each (page << 16 | fragment), for the check that each fragment serves one record.
using FragmentList = std::vector<uint64_t>;

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

    // The logical bytes of a live slot. fragments, when given, gets the variable
    // page fragments the record was read from.
    Status decode(std::string_view slot, std::string& out, FragmentList* fragments = nullptr) const;
    // The same without a copy when the record lies whole in the slot (a fixed
    // record, or a variable one without a tail): out views the slot. Otherwise
    // the record is decoded into scratch and out views scratch.
    Status decodeView(std::string_view slot, std::string_view& out, std::string& scratch,
                      FragmentList* fragments = nullptr) const;

    // The fragments the records of a scan were read from (sorted here): none may
    // be named twice, a damaged pointer that hands one record's bytes out again.
    // After a scan of every record, no page they name may hold a fragment that
    // none of them claims either: a damaged pointer that ends a chain early, or
    // starts it part-way, leaves the rest of the record so. Corrupt, with the note
    // set, at the first fault.
    Status checkClaims(FragmentList& fragments, bool everyRecord) const;

    // What the last check that failed found, when it can say.
    const DamageNote& damage() const { return damage_; }

private:
    struct Fragment {
        std::string_view data;  // after any next pointer
        bool hasNext = false;
        uint32_t nextPage = 0;
        uint32_t nextFragment = 0;
    };
    // Variable page `page` as a chain reaches it (pre-6: physical, else logical).
    Status variablePage(uint32_t page, PageRef& holder) const;
    Status readChain(uint32_t page, uint32_t fragment, std::string& out, FragmentList* fragments) const;
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
    DamageNote damage_;
};

// Upper bound for one record's logical bytes; a longer chain or stream is corrupt.
constexpr size_t kMaxRecordBytes = 64u << 20;

}  // namespace btrieve::detail
