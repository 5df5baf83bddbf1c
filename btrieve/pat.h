// Logical-to-physical page mapping through the page allocation tables (PAT) of
// 6.x and later files; pre-6 pages are physical and map to themselves. Only pages
// the current PAT maps are ever read, so stale shadow copies stay unseen.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>
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

    // Entries remembered from lookups: at most kEntryCache.
    static constexpr size_t kEntryCache = 4096;

private:
    // Which copy of group's pair is current (0 or 1), from the first bytes of each
    // (empty for a copy cut off by the end of the file); -1 when neither is valid.
    int pick(uint32_t group, std::string_view first, std::string_view second) const;
    // The byte offset in the file of group's current copy, under mutex_: two small
    // reads of the copies' headers the first time, remembered after.
    Status currentCopy(uint32_t group, uint64_t& offset) const;
    // Both copies of a pair in one read, and the current one's bytes.
    Status loadGroup(uint32_t group, std::string& pair, std::string_view& copy) const;
    // The entry at byte at of bytes (a copy, or the entry alone).
    PageEntry decode(std::string_view bytes, uint64_t at) const;
    uint64_t entryOffset(uint32_t index) const {  // index 1-based in the group
        return layout_.patEntryBase + static_cast<uint64_t>(index - 1) * layout_.patEntrySize;
    }

    const PageStore& store_;
    const Layout& layout_;
    mutable std::mutex mutex_;
    // Per group: 0 not yet known, else 1 + the current copy. An interactive lookup
    // reads the two copies' headers and its own entry, never whole tables.
    mutable std::vector<uint8_t> current_;
    // Direct-mapped by logical page: logical + 1 (0 = empty) and its entry.
    struct Cached {
        uint64_t logical = 0;
        PageEntry entry;
    };
    mutable std::vector<Cached> entries_;
};

}  // namespace btrieve::detail
