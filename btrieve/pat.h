// Logical-to-physical page mapping through the page allocation tables (PAT) of
// 6.x and later files; pre-6 pages are physical and map to themselves. Only pages
// the current PAT maps are ever read, so stale shadow copies stay unseen.
#pragma once

#include <array>
#include <atomic>
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

    // Whether a group's tables, read again, were found to have moved on to a newer
    // copy since first read: another program committed meanwhile, so pages read
    // through this map may mix versions.
    bool moved() const { return moved_.load(std::memory_order_acquire); }

    // Entries remembered from lookups, and page-table pairs held: at most these.
    static constexpr size_t kEntryCache = 1024;
    static constexpr size_t kHeldPairs = 4;

private:
    // Which copy of group's pair is current (0 or 1), from the copies' bytes (empty
    // for a copy cut off by the end of the file); -1 when neither is valid.
    int pick(uint32_t group, std::string_view first, std::string_view second, uint64_t& usage) const;
    // Notes the usage of the copy a group's read chose; sets moved_ when it differs
    // from the first read's.
    void pin(uint32_t group, uint64_t usage) const;
    // Both copies of a pair in one read into pair (its room reused), and a view of
    // the current one.
    Status loadGroup(uint32_t group, std::string& pair, std::string_view& copy) const;
    // The entry at byte at of a copy.
    PageEntry decode(std::string_view copy, uint64_t at) const;
    uint64_t entryOffset(uint32_t index) const {  // index 1-based in the group
        return layout_.patEntryBase + static_cast<uint64_t>(index - 1) * layout_.patEntrySize;
    }

    const PageStore& store_;
    const Layout& layout_;
    mutable std::mutex mutex_;
    // The pairs read last, for lookups: an index walk and the records it reaches
    // go back and forth between a few groups. Their buffers are reused, so that a
    // walk over many groups allocates nothing after the first few.
    struct Held {
        uint32_t group = 0xFFFFFFFFu;
        uint64_t used = 0;
        std::string pair;
        std::string_view copy;
    };
    mutable std::array<Held, kHeldPairs> held_;
    mutable uint64_t tick_ = 0;
    // Direct-mapped by logical page: logical + 1 (0 = empty) and its entry.
    struct Cached {
        uint64_t logical = 0;
        PageEntry entry;
    };
    mutable std::vector<Cached> entries_;
    mutable std::mutex pinMutex_;
    mutable std::vector<uint64_t> pinned_;  // by group: usage + 1 of the copy first chosen, 0 = not read
    mutable std::atomic<bool> moved_{false};
};

}  // namespace btrieve::detail
