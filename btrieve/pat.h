// Logical-to-physical page mapping through the page allocation tables (PAT) of
// 6.x and later files; pre-6 pages are physical and map to themselves. Only pages
// the current PAT maps are ever read, so stale shadow copies stay unseen.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <string>

#include "btrieve/fcr.h"
#include "btrieve/pages.h"

namespace btrieve::detail {

namespace pagetype {
constexpr uint16_t Unused = 0;
constexpr uint16_t Acs = 0x41;       // 'A'
constexpr uint16_t Data = 0x44;      // 'D'
constexpr uint16_t Variable = 0x56;  // 'V'
constexpr uint16_t Index = 0x8000;   // 0x8000 + key number
}  // namespace pagetype

struct PageEntry {
    uint64_t physical = 0;
    uint16_t type = pagetype::Unused;
};

class PageMap {
public:
    PageMap(const PageStore& store, const Layout& layout) : store_(store), layout_(layout) {}

    // The current mapping of a logical page; InvalidRecordAddress-free: Corrupt or
    // Truncated when the tables say so, Success with type Unused for a free entry.
    Status lookup(uint32_t logical, PageEntry& out) const;

    // Every mapped logical page in logical order; visit returns false to stop.
    Status forEach(const std::function<bool(uint32_t, const PageEntry&)>& visit) const;

    // A logical page's bytes, after checking that the page names itself as that
    // logical page (and, when type is not Unused, that the table gives that type).
    Status read(uint32_t logical, uint16_t type, PageRef& out) const;
    // The same for an entry already looked up (as forEach hands them out).
    Status read(uint32_t logical, const PageEntry& entry, uint16_t type, PageRef& out) const;

    // Number of page-table groups the file is long enough to hold.
    uint32_t groups() const;

    // Groups whose current copy is held now, and the most held at once.
    size_t heldGroups() const;
    static constexpr size_t kHeldGroups = 16;

private:
    // The current copy of a group, read when it is not held (both copies of the
    // pair in one read), under mutex_.
    Status loadGroup(uint32_t group, const std::string*& copy) const;
    PageEntry decode(const std::string& copy, uint32_t index) const;  // index 1-based in the group

    const PageStore& store_;
    const Layout& layout_;
    mutable std::mutex mutex_;
    // The current copies of the groups used last, most recent first: an index walk
    // and the records it reaches alternate between a few groups.
    struct Group {
        uint32_t number;
        std::string copy;
    };
    mutable std::list<Group> held_;
};

}  // namespace btrieve::detail
