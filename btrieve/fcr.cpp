// File control record, as this reader uses it. All offsets are from the start of
// the current FCR copy; "ws" = two u16 words, high word first.
//
//   offset  size  meaning
//   0x00    4     pre-6: zero; 6.x and later: "FC" 00 00
//   0x04    4     6.x/7.x: usage count of this copy (u32)
//   0x06    2     pre-6: version word (sign bit set when an owner is set);
//                 8.x/9.0: usage count of this copy (u16)
//   0x08    2     pre-6, 6.x/7.x: page size; 9.5: usage count of this copy (u32)
//   0x10    4     pre-6: ws absolute offset of the first free slot, FFFFFFFF for none
//   0x14    2     number of keys
//   0x16    2     logical (fixed) record length; 0 in compressed files
//   0x18    2     physical slot length
//   0x1A    4     ws record count
//   0x26    4     ws page count
//   0x2B    1     8.x and later: page size / 256
//   0x2E    9     owner block (zero without an owner); bytes 0-7 are the XOR key
//   0x37    1     owner access code; bit 1 = records encrypted
//   0x38    1     0xFF (or 0xFD, blank truncation): variable-length records
//   0x3C    8     name of the file's ACS
//   0x4A    2     6.x and later: version word (negative with an owner)
//   0x72    2     6.x and later: offset of the duplicate pointers in the slot
//   0x74    1     6.x and later: number of duplicate-pointer pairs
//   0x76    1/2   6.x: key count (u8); 8.x and later: key count (u16)
//   0x78    2     6.x: offset of the key allocation table (KAT)
//   0x7A    2     8.x and later: offset of the KAT (may lie in the copy's second page)
//   0x106   2     pre-6, 6.x: file flags (0x0001 variable, 0x0002 blank truncation,
//                 0x0008 compressed); 0xFFFF in 8.x and later
//   0x110   30*n  pre-6: key segment specs back to back
//   0x190   2     8.x and later: file flags
//
// Key segment spec (30 bytes; 36 in 8.x and later, same first 30 bytes):
//   0x00 4  B-tree root (pre-6: ws physical page; 6.x: page-table layout; 8.x: u32)
//   0x04 4  ws number of distinct key values
//   0x08 2  key flags (0x0010: another segment follows)
//   0x0A 2  total key length (first segment only)
//   0x0C 2  size of one index entry
//   0x12 2  offset of this key's duplicate pointers in the slot, 0 for none
//   0x14 2  position in the slot (pre-6 and compressed: in the record)
//   0x16 2  segment length
//   0x19 3  logical page of the segment's own ACS (6.x: page-table order; 8.x: LE)
//   0x1C 1  extended data type (valid with flag 0x0100)
//   0x1D 1  null value
#include "btrieve/fcr.h"

#include <algorithm>
#include <string>

#include "btrieve/bytes.h"

namespace btrieve::detail {
namespace {

constexpr uint32_t kMaxKeys = 119;
constexpr uint32_t kMaxSegments = 420;

bool validPageSize(uint32_t ps, uint32_t maximum) {
    return ps >= 512 && ps <= maximum && ps % 512 == 0;
}

// The version word as a positive number plus the owner sign.
uint16_t versionOf(uint16_t word, bool& negative) {
    negative = (word & 0x8000) != 0;
    return negative ? static_cast<uint16_t>(-static_cast<int16_t>(word)) : word;
}

bool knownType(uint8_t t) { return t <= 20 || t == 25 || t == 26; }

// Fills keys from the specs. katOffset 0 means packed specs from 0x110 (pre-6).
Status readKeys(ByteReader& fcr, uint32_t keyCount, uint32_t katOffset, uint32_t specSize,
                Layout& out) {
    FileInfo& info = out.info;
    uint32_t packed = 0x110;
    uint32_t segmentsRead = 0;
    for (uint32_t k = 0; k < keyCount; ++k) {
        uint32_t at = packed;
        if (katOffset != 0) {
            at = fcr.u16(katOffset + 2ull * k);
            if (!fcr.ok()) return Status::Corrupt;
        }
        KeySpec key;
        key.number = static_cast<int>(k);
        std::vector<uint32_t> refs;
        uint16_t totalLength = 0;
        for (;;) {
            if (++segmentsRead > kMaxSegments || !fits(fcr.size(), at, specSize)) return Status::Corrupt;
            KeySegment seg;
            seg.flags = fcr.u16(at + 0x08);
            const uint32_t stored = fcr.u16(at + 0x14);
            seg.length = fcr.u16(at + 0x16);
            seg.nullValue = fcr.u8(at + 0x1D);
            const uint8_t ext = fcr.u8(at + 0x1C);
            if (key.segments.empty()) {
                switch (out.pat) {
                case PatKind::None: key.rootPage = fcr.swapped32(at); break;
                case PatKind::V6:
                    key.rootPage = fcr.u32(at) == 0xFFFFFFFFu ? 0xFFFFFFFFu : fcr.patPage(at);
                    break;
                default: key.rootPage = fcr.u32(at); break;
                }
                key.uniqueCount = fcr.swapped32(at + 0x04);
                totalLength = fcr.u16(at + 0x0A);
                key.entrySize = fcr.u16(at + 0x0C);
                key.duplicateOffset = fcr.u16(at + 0x12);
            }
            if (seg.flags & keyflag::ExtendedType) {
                if (!knownType(ext)) return Status::UnsupportedLayout;
                seg.type = static_cast<DataType>(ext);
            } else {
                seg.type = (seg.flags & keyflag::Binary) ? DataType::OldBinary : DataType::OldString;
            }
            // Plain slots count their header in the stored position; compressed
            // records and pre-6 slots do not have one.
            if (stored < out.recordOffset) return Status::Corrupt;
            seg.position = stored - out.recordOffset;
            if (seg.length == 0) return Status::Corrupt;
            if (!info.compressed && seg.position + seg.length > info.recordLength) return Status::Corrupt;
            uint32_t acsPage = 0;
            if (out.pat == PatKind::V6)
                acsPage = static_cast<uint32_t>(fcr.u8(at + 0x19)) << 16 | fcr.u8(at + 0x1B) << 8 | fcr.u8(at + 0x1A);
            else if (out.pat != PatKind::None)
                acsPage = fcr.u8(at + 0x19) | fcr.u8(at + 0x1A) << 8 | static_cast<uint32_t>(fcr.u8(at + 0x1B)) << 16;
            refs.push_back(acsPage);
            const bool more = (seg.flags & keyflag::Segmented) != 0;
            key.segments.push_back(seg);
            at += specSize;
            if (!more) break;
        }
        if (!fcr.ok()) return Status::Corrupt;
        if (key.totalLength() != totalLength) return Status::Corrupt;
        // An index entry (child pointer, key, record pointers) must fit a page.
        if (key.entrySize > info.pageSize || key.totalLength() + 16u > info.pageSize) return Status::Corrupt;
        packed = at;
        info.keys.push_back(std::move(key));
        out.acsRefs.push_back(std::move(refs));
    }
    return Status::Success;
}

// Picks the copy with the higher usage count among those that carry the signature.
Status pickCopy(PageStore& store, const std::vector<uint32_t>& pages, uint32_t usageAt,
                uint32_t usageSize, uint32_t& chosen) {
    bool found = false;
    uint64_t best = 0;
    for (uint32_t p : pages) {
        PageRef page;
        Status s = store.readPage(p, page);
        if (s == Status::Truncated) continue;
        if (!ok(s)) return s;
        ByteReader r(*page);
        if (r.u32(0) != 0x00004346u) continue;  // "FC" 00 00
        uint64_t usage = usageSize == 2 ? r.u16(usageAt) : r.u32(usageAt);
        if (!found || usage > best) {
            found = true;
            best = usage;
            chosen = p;
        }
    }
    return found ? Status::Success : Status::Truncated;
}

}  // namespace

Status readHeader(PageStore& store, Layout& out) {
    out = Layout{};
    FileInfo& info = out.info;
    std::string head;
    if (store.fileSize() < 0x100) {
        Status s = store.readAt(0, static_cast<size_t>(std::min<uint64_t>(store.fileSize(), 4)), head);
        if (!ok(s)) return s;
        const bool looksPre6 = head.size() == 4 && head == std::string(4, '\0');
        const bool looksV6 = head.size() == 4 && head == std::string("FC\0\0", 4);
        return looksPre6 || looksV6 ? Status::Truncated : Status::NotBtrieveFile;
    }
    Status s = store.readAt(0, 0x100, head);
    if (!ok(s)) return s;
    ByteReader h(head);
    const uint32_t magic = h.u32(0);
    uint32_t fcrBytes = 0;
    bool negative = false;

    if (magic == 0) {
        info.family = Family::Pre6;
        info.version = versionOf(h.u16(0x06), negative);
        const uint8_t major = info.version >> 8;
        if (major < 3 || major > 5) {
            return validPageSize(h.u16(0x08), 4096) ? Status::UnsupportedVersion : Status::NotBtrieveFile;
        }
        info.pageSize = h.u16(0x08);
        if (!validPageSize(info.pageSize, 4096)) return Status::NotBtrieveFile;
        store.setPageSize(info.pageSize);
        out.fcrPage = 0;
        fcrBytes = info.pageSize;
        out.pat = PatKind::None;
    } else if (magic == 0x00004346u) {
        const uint16_t version = versionOf(h.u16(0x4A), negative);
        if (version >= 0x0600 && version < 0x0800) {
            info.family = Family::V6;
            info.pageSize = h.u16(0x08);
            if (!validPageSize(info.pageSize, 4096)) return Status::Corrupt;
            store.setPageSize(info.pageSize);
            s = pickCopy(store, {0, 1}, 0x04, 4, out.fcrPage);
            fcrBytes = info.pageSize;
            out.pat = PatKind::V6;
        } else if (version >= 0x0800 && version <= 0x0950) {
            info.family = Family::V8;
            info.pageSize = h.u8(0x2B) * 256u;
            if (!validPageSize(info.pageSize, 16384)) return Status::Corrupt;
            store.setPageSize(info.pageSize);
            // Each FCR copy, like each page-table copy, takes at least 2048 bytes
            // and at least two pages.
            out.patCopyPages = std::max<uint32_t>(2, 2048 / info.pageSize);
            fcrBytes = out.patCopyPages * info.pageSize;
            out.pat = version == 0x0950 ? PatKind::V95 : PatKind::V8;
            if (out.pat == PatKind::V95)
                s = pickCopy(store, {0, out.patCopyPages}, 0x08, 4, out.fcrPage);
            else
                s = pickCopy(store, {0, out.patCopyPages}, 0x06, 2, out.fcrPage);
        } else {
            return Status::UnsupportedVersion;
        }
        if (!ok(s)) return s;
    } else {
        return Status::NotBtrieveFile;
    }

    std::string fcrBuf;
    s = store.readAt(static_cast<uint64_t>(out.fcrPage) * info.pageSize, fcrBytes, fcrBuf);
    if (!ok(s)) return s;
    ByteReader f(fcrBuf);

    // The version and family come from the current copy.
    if (info.family != Family::Pre6) {
        info.version = versionOf(f.u16(0x4A), negative);
        const bool v6 = info.version >= 0x0600 && info.version < 0x0800;
        if (v6 != (info.family == Family::V6) || info.version > 0x0950) return Status::Corrupt;
        if ((info.version == 0x0950) != (out.pat == PatKind::V95)) return Status::Corrupt;
    }

    const uint32_t keyCount = f.u16(0x14);
    info.recordLength = f.u16(0x16);
    info.physicalRecordLength = f.u16(0x18);
    info.recordCount = f.swapped32(0x1A);
    info.pageCount = f.swapped32(0x26);
    for (size_t i = 0; i < out.ownerBlock.size(); ++i) out.ownerBlock[i] = f.u8(0x2E + i);
    out.ownerAccess = f.u8(0x37);
    const uint8_t varMark = f.u8(0x38);
    info.fileFlags = info.family == Family::V8 ? f.u16(0x190) : f.u16(0x106);
    out.freeChainHead = f.swapped32(0x10);
    if (!f.ok()) return Status::Truncated;

    const bool blockSet = std::any_of(out.ownerBlock.begin(), out.ownerBlock.end(), [](uint8_t b) { return b != 0; });
    info.ownerSet = negative || blockSet;
    info.encrypted = blockSet && (out.ownerAccess & 0x02) != 0;
    info.variable = (info.fileFlags & 0x0001) != 0 || varMark == 0xFF || varMark == 0xFD;
    info.compressed = (info.fileFlags & 0x0008) != 0;
    out.blankTruncation = (info.fileFlags & 0x0002) != 0 || varMark == 0xFD;
    if (keyCount > kMaxKeys) return Status::Corrupt;

    // Page geometry and slot layout per family.
    const uint32_t prl = info.physicalRecordLength;
    const uint32_t rl = info.recordLength;
    const uint32_t ps = info.pageSize;
    switch (info.family) {
    case Family::Pre6:
        out.slotsOffset = 6;
        out.varPtrSize = 4;
        out.varCountOffset = 0x0A;
        out.varDataOffset = 0x0C;
        out.everyFragmentLinked = false;
        if (info.compressed) {
            out.varPtrOffset = 0;
            out.liveByte = 4;
            if (prl < 5) return Status::Corrupt;
        } else {
            out.recordOffset = 0;
            out.varPtrOffset = rl;
            if (prl < rl + (info.variable ? 4u : 0u) || rl == 0) return Status::Corrupt;
        }
        break;
    case Family::V6:
        out.slotsOffset = 6;
        out.varPtrSize = 4;
        out.varCountOffset = 0x0A;
        out.varDataOffset = 0x0C;
        out.everyFragmentLinked = true;
        out.patFirst = 2;
        out.patCopyPages = 1;
        out.patEntryBase = 8;
        out.patEntrySize = 4;
        out.patEntries = ps / 4 - 2;
        out.patStride = ps / 4;
        if (info.compressed) {
            out.varPtrOffset = 0;
            out.liveByte = 4;
            if (prl < 7) return Status::Corrupt;
        } else {
            out.usageWord = true;
            out.recordOffset = 2;
            out.varPtrOffset = 2 + rl;
            if (prl < 2 + rl + (info.variable ? 4u : 0u) || rl == 0) return Status::Corrupt;
        }
        break;
    case Family::V8: {
        const bool v95 = out.pat == PatKind::V95;
        const uint32_t base = v95 ? 8 : 6;  // page id, type, and in 9.5 one more u16
        out.slotsOffset = base + 2;
        out.varPtrSize = 6;
        out.varCountOffset = base + 8;
        out.varDataOffset = base + 10;
        out.everyFragmentLinked = true;
        const uint32_t copy = out.patCopyPages * ps;
        out.patFirst = 4 * out.patCopyPages;
        if (v95) {
            out.patEntryBase = 0x10;
            out.patEntrySize = 8;
            out.patEntries = (copy / 16 * 15 - 32) / 8;
        } else {
            out.patEntryBase = 0x14;
            out.patEntrySize = 6;
            out.patEntries = ps == 512 ? 312 : (copy / 16 * 15 - 24) / 6;
        }
        out.patStride = out.patEntries + 2 * out.patCopyPages;
        if (info.compressed) {
            out.varPtrOffset = 0;
            out.liveByte = 6;
            if (prl < 9) return Status::Corrupt;
        } else {
            // The slot holds a usage word, possibly 8 bytes of system data, the
            // record, the variable pointer and the duplicate pointers. The
            // duplicate-pointer offset (or the slot length) tells where the record
            // starts.
            out.usageWord = true;
            const uint32_t dupOffset = f.u16(0x72);
            const uint32_t dupPairs = f.u8(0x74);
            const uint32_t tail = rl + (info.variable ? 6u : 0u);
            const uint32_t before = dupOffset != 0 ? dupOffset : prl - 8 * dupPairs;
            if (before < tail + 2 || (before - tail != 2 && before - tail != 10) || rl == 0)
                return Status::UnsupportedLayout;
            out.recordOffset = before - tail;
            out.varPtrOffset = out.recordOffset + rl;
            if (prl < before) return Status::Corrupt;
        }
        break;
    }
    }
    if (prl == 0 || prl > ps - out.slotsOffset) return Status::Corrupt;
    out.slotsPerPage = (ps - out.slotsOffset) / prl;

    // Keys.
    uint32_t katOffset = 0;
    uint32_t specSize = 30;
    if (info.family == Family::V6) {
        katOffset = f.u16(0x78);
        if (f.u8(0x76) != keyCount) return Status::Corrupt;
    } else if (info.family == Family::V8) {
        katOffset = f.u16(0x7A);
        specSize = 36;
        if (f.u16(0x76) != keyCount) return Status::Corrupt;
    }
    // The KAT follows the fields above (in 6.x it may start right at 0x7A).
    const uint32_t katMinimum = info.family == Family::V6 ? 0x7A : 0x7C;
    if (info.family != Family::Pre6 && keyCount > 0 &&
        (katOffset < katMinimum || !fits(fcrBytes, katOffset, 2ull * keyCount)))
        return Status::Corrupt;
    s = readKeys(f, keyCount, katOffset, specSize, out);
    if (!ok(s)) return s;

    // A count no file of this size could hold is a lie; refuse it before any scan
    // trusts it.
    const uint64_t capacity = store.physicalPages() * out.slotsPerPage;
    if (info.recordCount > capacity) return Status::Corrupt;
    if (info.family == Family::Pre6 && info.pageCount > store.physicalPages()) return Status::Truncated;
    return Status::Success;
}

}  // namespace btrieve::detail
