// Data page (offsets in the page):
//   pre-6, 6.x   0x00 4  own page number (pre-6: ws physical; 6.x: page-table layout
//                        with type 'D'); 0x04 2  0x8000 | write counter; slots from 0x06
//   8.x, 9.0     0x00 4  u32 logical page; 0x04 2 type 0x0044; 0x06 2 0x8000 | counter;
//                        slots from 0x08
//   9.5          as 8.x with one more u16 at 0x06; 0x08 2 0x8000 | counter; slots from 0x0A
//
// Slot (physical record length each, back to back):
//   pre-6 plain      record, [4 variable pointer], duplicate pointers. Free slots are
//                    chained from FCR 0x10 through their first 4 bytes (ws offsets).
//   6.x/8.x plain    u16 usage (0 = free), [8 system data], record,
//                    [variable pointer: 4 bytes in 6.x, 6 in 8.x], duplicate pointers
//   compressed       pointer to the first fragment (4 bytes; 6 in 8.x), then a byte
//                    that is 1 in live slots (0x04; 0x06 in 8.x), then bookkeeping
//                    and duplicate pointers
//
// Variable pointer, 4 bytes: [page 16-23][page 0-7][page 8-15][fragment]; page
// FFFFFF = none. 6 bytes: u32 page (FFFFFFFF = none), u16 fragment. Pages are
// physical in pre-6 files, logical otherwise.
//
// Variable page:
//   header (page id as on data pages), FF FF FF FF, then a u16 fragment count at
//   0x0A (8.x: 0x0E, 9.5: 0x10), fragment bytes from 0x0C (0x10, 0x12).
//   At the end of the page, growing down, a u16 offset per fragment: fragment i at
//   page size - 2(i+1); FFFF = unused; the entry after the last fragment marks the
//   end of the used area. A fragment runs to the next higher offset.
//   Pre-6: bit 0x8000 of an offset says the fragment begins with a next pointer.
//   6.x and later: every fragment begins with one; FF FF FF FF ends the chain.
#include "btrieve/records.h"

#include <algorithm>
#include <set>

#include "btrieve/bytes.h"
#include "btrieve/compression.h"

namespace btrieve::detail {

Status RecordReader::dataPage(uint32_t page, PageRef& out, PageKind& kind) const {
    kind = PageKind::NotData;
    out.reset();
    if (layout_.pat == PatKind::None) {
        if (page == 0) return Status::Success;  // the FCR
        Status s = store_.readPage(page, out);
        if (!ok(s)) return s;
        ByteReader r(*out);
        if (r.swapped32(0) == page && (r.u16(4) & 0x8000) != 0) kind = PageKind::Data;
        return Status::Success;
    }
    PageEntry e;
    Status s = map_.lookup(page, e);
    if (!ok(s)) return s;
    return dataPage(page, e, out, kind);
}

Status RecordReader::dataPage(uint32_t page, const PageEntry& e, PageRef& out, PageKind& kind) const {
    kind = PageKind::NotData;
    out.reset();
    if (e.type != pagetype::Data) return Status::Success;
    Status s = map_.read(page, e, pagetype::Data, out);
    if (!ok(s)) return s;
    kind = PageKind::Data;
    return Status::Success;
}

Status RecordReader::loadFreeSlots() const {
    std::call_once(freeOnce_, [this] {
        const uint32_t ps = layout_.info.pageSize;
        const uint64_t limit = store_.physicalPages() * layout_.slotsPerPage + 1;
        uint64_t at = layout_.freeChainHead;
        while (at != 0xFFFFFFFFu) {
            const uint64_t page = at / ps;
            const uint64_t offset = at % ps;
            if (offset < layout_.slotsOffset || (offset - layout_.slotsOffset) % layout_.info.physicalRecordLength != 0 ||
                offset + layout_.info.physicalRecordLength > ps || page == 0) {
                freeStatus_ = Status::Corrupt;
                return;
            }
            if (!freeSlots_.insert(at).second || freeSlots_.size() > limit) {
                freeStatus_ = Status::Corrupt;  // the chain runs in a circle
                return;
            }
            PageRef p;
            Status s = store_.readPage(page, p);
            if (!ok(s)) {
                freeStatus_ = s;
                return;
            }
            ByteReader r(*p);
            at = r.swapped32(offset);
        }
    });
    return freeStatus_;
}

Status RecordReader::isLive(uint32_t page, uint32_t offset, std::string_view slot, bool& live) const {
    live = false;
    ByteReader r(slot);
    if (layout_.info.compressed) {
        live = r.u8(layout_.liveByte) != 0;
        return Status::Success;
    }
    if (layout_.usageWord) {
        live = r.u16(0) != 0;
        return Status::Success;
    }
    // Pre-6 plain slots: not on the free chain and not blank.
    Status s = loadFreeSlots();
    if (!ok(s)) return s;
    const uint64_t absolute = static_cast<uint64_t>(page) * layout_.info.pageSize + offset;
    if (freeSlots_.count(absolute)) return Status::Success;
    for (char c : slot)
        if (c != 0) {
            live = true;
            break;
        }
    return Status::Success;
}

bool RecordReader::readPointer(std::string_view bytes, uint64_t at, uint32_t& page, uint32_t& fragment,
                               bool& none) const {
    ByteReader r(bytes);
    if (layout_.varPtrSize == 4) {
        page = static_cast<uint32_t>(r.u8(at)) << 16 | r.u8(at + 1) | r.u8(at + 2) << 8;
        fragment = r.u8(at + 3);
        none = page == 0xFFFFFFu;
    } else {
        page = r.u32(at);
        fragment = r.u16(at + 4);
        none = page == 0xFFFFFFFFu;
    }
    return r.ok();
}

Status RecordReader::variablePage(uint32_t page, PageRef& holder) const {
    if (layout_.pat != PatKind::None) {
        Status s = map_.read(page, pagetype::Variable, holder);
        return s == Status::Corrupt ? Status::VariablePageError : s;
    }
    if (page == 0) return Status::VariablePageError;
    Status s = store_.readPage(page, holder);
    // The open found the file as long as its header says, so when it still is, the
    // pointer that leads past its end is what is damaged: it was not cut short.
    if (s == Status::Truncated && page >= store_.physicalPages() && store_.checkSize() == Status::Success) {
        damage_.set("a record's chain reaches variable page " + std::to_string(page) + ", past the end of the file");
        return Status::VariablePageError;
    }
    if (!ok(s)) return s;
    ByteReader r(*holder);
    if (r.swapped32(0) != page || (r.u16(4) & 0x8000) != 0) return Status::VariablePageError;
    return Status::Success;
}

Status RecordReader::fragment(uint32_t page, uint32_t index, PageRef& holder, Fragment& out) const {
    out = Fragment{};
    const uint32_t ps = layout_.info.pageSize;
    if (Status s = variablePage(page, holder); !ok(s)) return s;
    std::string_view bytes(*holder);
    ByteReader r(bytes);
    const uint32_t count = r.u16(layout_.varCountOffset);
    const uint64_t tableStart = ps - 2ull * count;  // lowest byte of the offset table
    if (index >= count || 2ull * count > ps - layout_.varDataOffset) return Status::VariablePageError;
    const uint16_t entry = r.u16(ps - 2ull * (index + 1));
    if (entry == 0xFFFF) return Status::VariablePageError;
    const uint32_t begin = entry & 0x7FFF;
    // The fragment runs to the next higher offset in the table, counting the
    // end-of-area entry after the last fragment; without one, to the table.
    // Two fragments that begin at one offset hold the same bytes: a damaged
    // offset, which would hand one record's bytes out as another's.
    uint64_t end = tableStart;
    const uint32_t scan = 2ull * (count + 1) <= ps - layout_.varDataOffset ? count + 1 : count;
    for (uint32_t i = 0; i < scan; ++i) {
        const uint16_t e = r.u16(ps - 2ull * (i + 1));
        if (e == 0xFFFF) continue;
        const uint32_t o = e & 0x7FFF;
        // Every offset lies in the fragment area (6.x and later keep no flag in
        // it): one outside is a count that took in bytes that are no table.
        if (i < count && (o < layout_.varDataOffset || o > tableStart || (layout_.everyFragmentLinked && e != o))) {
            damage_.set("variable page " + std::to_string(page) + ": fragment " + std::to_string(i) +
                        " lies outside the page's fragment area");
            return Status::VariablePageError;
        }
        if (o > begin && o < end) end = o;
        if (o == begin && i != index && i < count) {
            damage_.set("variable page " + std::to_string(page) + ": fragments " + std::to_string(index) + " and " +
                        std::to_string(i) + " begin at the same offset");
            return Status::VariablePageError;
        }
    }
    if (!r.ok() || begin < layout_.varDataOffset || end > tableStart || begin > end)
        return Status::VariablePageError;
    std::string_view data = bytes.substr(begin, end - begin);
    const bool linked = layout_.everyFragmentLinked || (entry & 0x8000) != 0;
    if (linked) {
        bool none = false;
        if (data.size() < layout_.varPtrSize || !readPointer(data, 0, out.nextPage, out.nextFragment, none))
            return Status::VariablePageError;
        out.hasNext = !none;
        data.remove_prefix(layout_.varPtrSize);
    }
    out.data = data;
    return Status::Success;
}

Status RecordReader::checkClaims(FragmentList& fragments, bool everyRecord) const {
    std::sort(fragments.begin(), fragments.end());
    const auto twice = std::adjacent_find(fragments.begin(), fragments.end());
    if (twice != fragments.end()) {
        damage_.set("variable page " + std::to_string(*twice >> 16) + ": fragment " + std::to_string(*twice & 0xFFFF) +
                    " is claimed by two records");
        return Status::Corrupt;
    }
    if (!everyRecord) return Status::Success;
    // Whether every live fragment of a page is among its claims [at, end).
    const uint32_t ps = layout_.info.pageSize;
    auto allClaimed = [&](uint32_t page, const PageRef& holder, FragmentList::const_iterator at,
                          FragmentList::const_iterator end) {
        ByteReader r(*holder);
        const uint32_t count = r.u16(layout_.varCountOffset);
        for (uint32_t i = 0; 2ull * count <= ps - layout_.varDataOffset && i < count; ++i) {
            if (r.u16(ps - 2ull * (i + 1)) == 0xFFFF) continue;
            while (at != end && (*at & 0xFFFF) < i) ++at;
            if (at == end || (*at & 0xFFFF) != i) {
                damage_.set("variable page " + std::to_string(page) + ": fragment " + std::to_string(i) +
                            " is claimed by no record");
                return false;
            }
        }
        return true;
    };
    auto claimsOf = [&](uint32_t page) {
        const auto at = std::lower_bound(fragments.cbegin(), fragments.cend(), uint64_t{page} << 16);
        return std::make_pair(at, std::find_if(at, fragments.cend(), [&](uint64_t f) { return f >> 16 != page; }));
    };
    if (layout_.pat == PatKind::None) {
        // Without a page table, only the pages the records reach are known to be in
        // use: a page no record reaches may be a freed one with its old bytes.
        for (auto at = fragments.cbegin(); at != fragments.cend();) {
            const uint32_t page = static_cast<uint32_t>(*at >> 16);
            const auto [from, to] = claimsOf(page);
            PageRef holder;
            if (ok(variablePage(page, holder)) && !allClaimed(page, holder, from, to)) return Status::Corrupt;
            at = to;
        }
        return Status::Success;
    }
    // The page table names every variable page of this version, reached or not.
    bool whole = true;
    Status s = map_.forEach([&](uint32_t logical, const PageEntry& entry) {
        if (entry.type != pagetype::Variable) return true;
        PageRef holder;
        if (!ok(map_.read(logical, entry, pagetype::Variable, holder))) return true;
        const auto [from, to] = claimsOf(logical);
        whole = allClaimed(logical, holder, from, to);
        return whole;
    });
    return !ok(s) ? s : whole ? Status::Success : Status::Corrupt;
}

Status RecordReader::readChain(uint32_t page, uint32_t index, std::string& out, FragmentList* fragments) const {
    // A chain that visits a fragment twice runs in a circle; record each one seen.
    std::set<uint64_t> seen;
    for (;;) {
        const uint64_t id = static_cast<uint64_t>(page) << 16 | index;
        if (!seen.insert(id).second) return Status::VariablePageError;
        if (fragments) fragments->push_back(id);
        PageRef holder;
        Fragment f;
        Status s = fragment(page, index, holder, f);
        if (!ok(s)) return s;
        if (f.data.size() > kMaxRecordBytes - out.size()) return Status::VariablePageError;
        out.append(f.data);
        if (!f.hasNext) return Status::Success;
        page = f.nextPage;
        index = f.nextFragment;
    }
}

Status RecordReader::decodeView(std::string_view slot, std::string_view& out, std::string& scratch,
                                FragmentList* fragments) const {
    const Layout& l = layout_;
    out = {};
    if (!l.info.compressed) {
        uint32_t page = 0, index = 0;
        bool none = true;
        if (l.info.variable && !readPointer(slot, l.varPtrOffset, page, index, none)) return Status::Corrupt;
        if (none) {
            if (!fits(slot.size(), l.recordOffset, l.info.recordLength)) return Status::Corrupt;
            out = slot.substr(l.recordOffset, l.info.recordLength);
            return Status::Success;
        }
    }
    Status s = decode(slot, scratch, fragments);
    if (ok(s)) out = scratch;
    return s;
}

Status RecordReader::decode(std::string_view slot, std::string& out, FragmentList* fragments) const {
    out.clear();
    const Layout& l = layout_;
    uint32_t page = 0, index = 0;
    bool none = true;
    if (l.info.compressed || l.info.variable) {
        if (!readPointer(slot, l.varPtrOffset, page, index, none)) return Status::Corrupt;
    }
    if (l.info.compressed) {
        if (none) return Status::VariablePageError;
        std::string stream;
        Status s = readChain(page, index, stream, fragments);
        if (!ok(s)) return s;
        s = decompressRecord(stream, out, kMaxRecordBytes);
        return s == Status::Corrupt ? Status::VariablePageError : s;
    }
    if (!fits(slot.size(), l.recordOffset, l.info.recordLength)) return Status::Corrupt;
    out.assign(slot.substr(l.recordOffset, l.info.recordLength));
    if (l.info.variable && !none) {
        std::string tail;
        Status s = readChain(page, index, tail, fragments);
        if (!ok(s)) return s;
        out += tail;
    }
    return Status::Success;
}

}  // namespace btrieve::detail
