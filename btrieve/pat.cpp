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

Status PageMap::loadGroup(uint32_t group, const std::string*& copy) const {
    copy = nullptr;
    for (auto it = held_.begin(); it != held_.end(); ++it)
        if (it->number == group) {
            held_.splice(held_.begin(), held_, it);
            copy = &held_.front().copy;
            return Status::Success;
        }
    const uint64_t first = layout_.patFirst + static_cast<uint64_t>(group) * layout_.patStride;
    const uint32_t copyPages = layout_.patCopyPages;
    const size_t copyBytes = static_cast<size_t>(copyPages) * store_.pageSize();
    // The pair's two copies lie one after the other and come in one read. Where the
    // file ends inside the pair, its first copy alone is read.
    std::string pair;
    bool cut = false;
    Status read = store_.readPages(first, 2 * copyPages, pair);
    if (read == Status::Truncated) {
        cut = true;
        read = store_.readPages(first, copyPages, pair);
        if (read == Status::Truncated) pair.clear();
    }
    if (!ok(read) && read != Status::Truncated) return read;
    bool found = false;
    uint64_t best = 0;
    std::string_view current;
    for (size_t at = 0; at + copyBytes <= pair.size(); at += copyBytes) {
        const std::string_view bytes = std::string_view(pair).substr(at, copyBytes);
        ByteReader r(bytes);
        uint64_t usage = 0;
        bool valid = false;
        if (layout_.pat == PatKind::V6) {
            valid = r.u16(0) == 0x5050;
            usage = r.u32(4);
        } else {
            valid = r.u16(3) == 0x5050 && r.u16(0) == group + 1;
            usage = layout_.pat == PatKind::V95 ? r.u32(8) : r.u16(6);
        }
        if (!valid) continue;
        if (!found || usage > best) {
            found = true;
            best = usage;
            current = bytes;
        }
    }
    if (!found) return cut ? Status::Truncated : Status::Corrupt;
    if (held_.size() >= kHeldGroups) held_.pop_back();
    held_.push_front(Group{group, std::string(current)});
    copy = &held_.front().copy;
    return Status::Success;
}

size_t PageMap::heldGroups() const {
    std::lock_guard lock(mutex_);
    return held_.size();
}

PageEntry PageMap::decode(const std::string& copy, uint32_t index) const {
    ByteReader r(copy);
    const uint64_t at = layout_.patEntryBase + static_cast<uint64_t>(index - 1) * layout_.patEntrySize;
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
    const std::string* copy = nullptr;
    Status s = loadGroup(group, copy);
    if (!ok(s)) return s;
    out = decode(*copy, logical - group * layout_.patEntries);
    if (out.type != pagetype::Unused && out.physical >= store_.physicalPages()) return Status::Truncated;
    return Status::Success;
}

Status PageMap::forEach(const std::function<bool(uint32_t, const PageEntry&)>& visit) const {
    const uint32_t n = groups();
    const uint64_t physicalPages = store_.physicalPages();
    std::vector<PageEntry> entries;
    for (uint32_t g = 0; g < n; ++g) {
        // One group's entries are decoded under one lock, then visited without it
        // (a visitor may look pages up itself).
        {
            std::lock_guard lock(mutex_);
            const std::string* copy = nullptr;
            Status s = loadGroup(g, copy);
            if (!ok(s)) return s;
            entries.resize(layout_.patEntries + 1);
            for (uint32_t i = 1; i <= layout_.patEntries; ++i) entries[i] = decode(*copy, i);
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
