// Page allocation tables. Copies come in pairs; the copy with the higher usage
// count is current. Pair g starts at physical page patFirst + g * patStride and
// maps logical pages g * patEntries + 1 ... (g + 1) * patEntries.
//
// 6.x/7.x (one page per copy, pairs at 2 and 3, then every page size / 4 pages):
//   0x00 2  "PP"          0x04 4  usage count
//   0x08 4n entries, one per logical page: [page 16-23][type][page 0-7][page 8-15]
//           type 0 = unused; 'D' data, 'V' variable, 'A' ACS, 0x80 + key = index
// 8.x/9.0 (a copy spans 2048 bytes and at least two pages; first pair at 4 and 5
// copies into the file):
//   0x00 2  pair number (1 for the first)   0x03 2 "PP"   0x06 2 usage count
//   0x14 6n entries: u32 physical page (FFFFFFFE unused), u16 type (0x8000 + key = index)
// 9.5:
//   0x00 2  pair number   0x03 2 "PP"   0x08 4 usage count
//   0x10 8n entries: u32 physical page (FFFFFFFE unused), u16 type, u16 1 when in use
// A copy ends in a bookkeeping area that holds no entries; patEntries stops short
// of it.
//
// Reading: a lookup reads its group's pair (both copies, one after the other in
// the file) in one read, keeps the last few pairs and the entries it has found,
// and never reads the whole table; a pass over the whole table reads each pair
// once, in order.
#include "btrieve/pat.h"

#include <vector>

#include "btrieve/bytes.h"

namespace btrieve::detail {

uint32_t PageMap::groups() const {
    if (layout_.pat == PatKind::None) return 0;
    const uint64_t pages = store_.physicalPages();
    if (pages <= layout_.patFirst) return 0;
    return static_cast<uint32_t>((pages - layout_.patFirst + layout_.patStride - 1) / layout_.patStride);
}

// A copy whose usage count is above the current control record's belongs to a
// commit still under way (an engine writes the tables before the control record
// that makes them current): of the copies at or below that count the higher is
// current. Only where both are above it (tables counted apart from the control
// record), or where a control record copy is unreadable (damage, not a commit
// under way: see Layout::tableUsageLimit), does the higher of the two count.
// -1 when neither copy is valid, or one is damaged.
int PageMap::pick(uint32_t group, std::string_view first, std::string_view second, uint64_t& best) const {
    const std::string_view copies[2] = {first, second};
    const FormatFamily& row = *layout_.info.format;
    const bool bounded = layout_.tableUsageLimit != 0;
    int current = -1, newest = -1;
    uint64_t currentUsage = 0, newestUsage = 0;
    for (int member = 0; member < 2; ++member) {
        ByteReader r(copies[member]);
        const bool valid = layout_.pat == PatKind::V6 ? r.u16(0) == 0x5050
                                                      : r.u16(3) == 0x5050 && r.u16(0) == group + 1;
        const uint64_t usage = row.patUsageSize == 2 ? r.u16(row.patUsageAt) : r.u32(row.patUsageAt);
        // A copy never written is all zeros; one with other bytes but no signature
        // is damaged, and the other copy may be older than the file's records.
        if (!valid && copies[member].find_first_not_of('\0') != std::string_view::npos) return -1;
        if (!valid || !r.ok()) continue;
        if (newest < 0 || usage > newestUsage) newest = member, newestUsage = usage;
        if (bounded && usage > layout_.tableUsageLimit) continue;
        if (current < 0 || usage > currentUsage) current = member, currentUsage = usage;
    }
    if (current < 0) current = newest, currentUsage = newestUsage;
    best = currentUsage;
    return current;
}

void PageMap::pin(uint32_t group, uint64_t usage) const {
    std::lock_guard lock(pinMutex_);
    if (pinned_.size() <= group) pinned_.resize(static_cast<size_t>(group) + 1, 0);
    uint64_t& p = pinned_[group];
    if (p == 0) p = usage + 1;
    else if (p != usage + 1) moved_.store(true, std::memory_order_release);
}

// A copy counts only when all its pages lie within the file; where the file ends
// inside the pair, its first copy alone may still be whole.
Status PageMap::loadGroup(uint32_t group, std::string& pair, std::string_view& copy) const {
    const uint64_t first = layout_.patFirst + static_cast<uint64_t>(group) * layout_.patStride;
    const uint32_t copyPages = layout_.patCopyPages;
    const size_t copyBytes = static_cast<size_t>(copyPages) * store_.pageSize();
    bool cut = false;
    Status read = store_.readPages(first, 2 * copyPages, pair);
    if (read == Status::Truncated) {
        cut = true;
        read = store_.readPages(first, copyPages, pair);
        if (read == Status::Truncated) pair.clear();
    }
    if (!ok(read) && read != Status::Truncated) return read;
    const std::string_view bytes(pair);
    uint64_t usage = 0;
    const int current = pick(group, bytes.substr(0, std::min(bytes.size(), copyBytes)),
                             bytes.size() >= 2 * copyBytes ? bytes.substr(copyBytes) : std::string_view(), usage);
    if (current < 0) return cut ? Status::Truncated : Status::Corrupt;
    pin(group, usage);
    copy = bytes.substr(current * copyBytes, copyBytes);
    return Status::Success;
}

PageEntry PageMap::decode(std::string_view copy, uint64_t at) const {
    ByteReader r(copy);
    PageEntry e;
    if (layout_.pat == PatKind::V6) {
        const uint8_t type = r.u8(at + 1);
        e.physical = r.patPage(at);
        e.type = type >= 0x80 ? static_cast<uint16_t>(pagetype::Index | (type - 0x80)) : type;
    } else {
        const uint32_t page = r.u32(at);
        e.physical = page;
        e.type = r.u16(at + 4);
        const bool used = layout_.pat == PatKind::V95 ? r.u16(at + 6) != 0 : true;
        if (page == 0xFFFFFFFEu || !used) e.type = pagetype::Unused;
    }
    if (!r.ok()) e.type = pagetype::Unused;
    return e;
}

Status PageMap::lookup(uint32_t logical, PageEntry& out) const {
    out = PageEntry{};
    if (layout_.pat == PatKind::None) {
        if (logical >= store_.physicalPages()) return Status::Truncated;
        out.physical = logical;
        out.type = pagetype::Unused;  // pre-6 pages carry their kind themselves
        return Status::Success;
    }
    if (logical == 0) return Status::Success;  // logical 0 is never mapped
    const uint32_t group = (logical - 1) / layout_.patEntries;
    if (group >= groups()) return Status::Success;
    std::lock_guard lock(mutex_);
    if (entries_.empty()) entries_.resize(kEntryCache);
    Cached& c = entries_[logical % kEntryCache];
    if (c.logical != uint64_t{logical} + 1) {
        Held* h = nullptr;
        for (Held& x : held_)
            if (x.group == group) h = &x;
        if (!h) {
            h = &held_[0];
            for (Held& x : held_)
                if (x.used < h->used) h = &x;
            h->group = 0xFFFFFFFFu;
            Status s = loadGroup(group, h->pair, h->copy);
            if (!ok(s)) return s;
            h->group = group;
        }
        h->used = ++tick_;
        c.entry = decode(h->copy, entryOffset(logical - group * layout_.patEntries));
        c.logical = uint64_t{logical} + 1;
    }
    out = c.entry;
    if (out.type != pagetype::Unused && out.physical >= store_.physicalPages()) return Status::Truncated;
    return Status::Success;
}

Status PageMap::forEach(const std::function<bool(uint32_t, const PageEntry&)>& visit) const {
    const uint32_t n = groups();
    const uint64_t physicalPages = store_.physicalPages();
    std::vector<PageEntry> entries;
    std::string pair;
    for (uint32_t g = 0; g < n; ++g) {
        // One group's entries are decoded at once, then visited (a visitor may look
        // pages up itself).
        {
            std::string_view copy;
            Status s = loadGroup(g, pair, copy);
            if (!ok(s)) return s;
            entries.resize(layout_.patEntries + 1);
            for (uint32_t i = 1; i <= layout_.patEntries; ++i) entries[i] = decode(copy, entryOffset(i));
        }
        for (uint32_t i = 1; i <= layout_.patEntries; ++i) {
            const PageEntry& e = entries[i];
            if (e.type == pagetype::Unused) continue;
            if (e.physical >= physicalPages) return Status::Truncated;
            if (!visit(g * layout_.patEntries + i, e)) return Status::Success;
        }
    }
    return Status::Success;
}

Status PageMap::read(uint32_t logical, uint16_t type, PageRef& out) const {
    out.reset();
    PageEntry e;
    Status s = lookup(logical, e);
    if (!ok(s)) return s;
    return read(logical, e, type, out);
}

Status PageMap::read(uint32_t logical, const PageEntry& e, uint16_t type, PageRef& out) const {
    out.reset();
    if (layout_.pat != PatKind::None && e.type == pagetype::Unused) return Status::Corrupt;
    if (type != pagetype::Unused && layout_.pat != PatKind::None && e.type != type) return Status::Corrupt;
    Status s = store_.readPage(e.physical, out);
    if (!ok(s)) return s;
    // The page must name itself as the logical page asked for. This also rejects
    // tables that point at the FCR, at a table page, or twice at one page.
    ByteReader r(*out);
    bool self = false;
    switch (layout_.pat) {
    case PatKind::None: self = r.swapped32(0) == logical; break;
    case PatKind::V6: {
        const uint8_t t = r.u8(1);
        const uint16_t pageType = t >= 0x80 ? static_cast<uint16_t>(pagetype::Index | (t - 0x80)) : t;
        self = r.patPage(0) == logical && pageType == e.type;
        break;
    }
    default: self = r.u32(0) == logical && r.u16(4) == e.type; break;
    }
    if (!self) {
        out.reset();
        return Status::Corrupt;
    }
    return Status::Success;
}

}  // namespace btrieve::detail
