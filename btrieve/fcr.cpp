// Reads the file control record (FCR) of a file of any family. The FCR's offsets,
// the key segment layout and each family's constants are tabled in formats.h; this
// file reads them in four steps: identify the family from the first page, pick the
// current FCR copy, read the record fields and slot layout, then the key descriptors.
#include "btrieve/fcr.h"

#include <algorithm>
#include <string>

#include "btrieve/bytes.h"

namespace btrieve::detail {
namespace {

namespace segment = fcr::segment;

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

// The B-tree root a key's first descriptor names, in the family's page numbers.
uint32_t rootPageAt(ByteReader& r, uint32_t at, PageNumbers numbers) {
    switch (numbers) {
    case PageNumbers::Swapped: return r.swapped32(at);
    case PageNumbers::PageTable: return r.u32(at) == 0xFFFFFFFFu ? 0xFFFFFFFFu : r.patPage(at);
    case PageNumbers::Plain: break;
    }
    return r.u32(at);
}

// The three-byte logical page of a segment's own ACS, in the order the family
// writes page numbers; pre-6 descriptors name none (0).
uint32_t acsPageAt(ByteReader& r, uint32_t at, PageNumbers numbers) {
    switch (numbers) {
    case PageNumbers::Swapped: return 0;
    case PageNumbers::PageTable: return static_cast<uint32_t>(r.u8(at)) << 16 | r.u8(at + 2) << 8 | r.u8(at + 1);
    case PageNumbers::Plain: break;
    }
    return r.u8(at) | r.u8(at + 1) << 8 | static_cast<uint32_t>(r.u8(at + 2)) << 16;
}

// Fills keys from the descriptors. katOffset 0 means descriptors packed from 0x110 (pre-6).
Status readKeys(ByteReader& r, uint32_t keyCount, uint32_t katOffset, uint32_t descriptorSize,
                Layout& out) {
    FileInfo& info = out.info;
    uint32_t packed = fcr::PackedDescriptors;
    uint32_t segmentsRead = 0;
    for (uint32_t k = 0; k < keyCount; ++k) {
        uint32_t at = packed;
        if (katOffset != 0) {
            at = r.u16(katOffset + 2ull * k);
            if (!r.ok()) return Status::Corrupt;
        }
        KeySpec key;
        key.number = static_cast<int>(k);
        std::vector<uint32_t> refs;
        uint16_t totalLength = 0;
        for (;;) {
            if (++segmentsRead > kMaxSegments || !fits(r.size(), at, descriptorSize)) return Status::Corrupt;
            KeySegment seg;
            seg.flags = r.u16(at + segment::Flags);
            const uint32_t stored = r.u16(at + segment::Position);
            seg.length = r.u16(at + segment::Length);
            seg.nullValue = r.u8(at + segment::NullValue);
            const uint8_t ext = r.u8(at + segment::ExtendedType);
            if (key.segments.empty()) {
                key.rootPage = rootPageAt(r, at, info.format->pageNumbers);
                key.uniqueCount = r.swapped32(at + segment::Distinct);
                totalLength = r.u16(at + segment::KeyLength);
                key.entrySize = r.u16(at + segment::EntrySize);
                key.duplicateOffset = r.u16(at + segment::DuplicateOffset);
            }
            if (seg.flags & keyflag::ExtendedType) {
                if (!knownType(ext)) return Status::UnsupportedLayout;
                seg.type = static_cast<DataType>(ext);
            } else {
                seg.type = (seg.flags & keyflag::Binary) ? DataType::OldBinary : DataType::OldString;
            }
            // Plain slots count their header in the stored position; compressed
            // records and pre-6 slots do not have one. A segment outside the
            // record is damage to this key alone (the length of a compressed
            // record is known only once it is read: see collectKeys).
            seg.position = stored >= out.recordOffset ? stored - out.recordOffset : stored;
            const bool outside = stored < out.recordOffset || seg.length == 0 ||
                                 (!info.compressed && seg.position + seg.length > info.recordLength);
            if (outside && key.damage.empty())
                key.damage = "segment " + std::to_string(key.segments.size()) + " lies outside the record (position " +
                             std::to_string(seg.position) + ", length " + std::to_string(seg.length) +
                             (info.compressed ? "" : ", record length " + std::to_string(info.recordLength)) + ")";
            refs.push_back(acsPageAt(r, at + segment::Acs, info.format->pageNumbers));
            const bool more = (seg.flags & keyflag::Segmented) != 0;
            key.segments.push_back(seg);
            at += descriptorSize;
            if (!more) break;
        }
        if (!r.ok()) return Status::Corrupt;
        if (key.totalLength() != totalLength) return Status::Corrupt;
        // An index entry (child pointer, key, record pointers) must fit a page.
        if (key.entrySize > info.pageSize || key.totalLength() + 16u > info.pageSize) return Status::Corrupt;
        packed = at;
        info.keys.push_back(std::move(key));
        out.acsRefs.push_back(std::move(refs));
    }
    return Status::Success;
}

// 6.x and 8.x/9.0 mark the stale FCR copy with 0x4000 at 0x0A (9.5 keeps its
// usage count there).
bool staleMarked(const FormatFamily& row, ByteReader& r) {
    return row.staleMarkAt != 0 && r.u16(row.staleMarkAt) == 0x4000;
}

// Picks the copy with the higher usage count among those that carry the signature.
// When the counts cannot tell (equal over different contents, or the higher on
// the copy marked stale while the other is not), both copies are left undecided.
Status pickCopy(PageStore& store, const FormatFamily& row, const std::vector<uint32_t>& pages, uint32_t copyBytes,
                Layout& out) {
    struct Copy {
        uint32_t page;
        uint64_t usage;
        bool stale;
        std::string bytes;
    };
    std::vector<Copy> valid;
    for (uint32_t p : pages) {
        std::string bytes;
        Status s = store.readAt(static_cast<uint64_t>(p) * store.pageSize(), copyBytes, bytes);
        if (s == Status::Truncated) continue;
        if (!ok(s)) return s;
        ByteReader r(bytes);
        if (r.u32(fcr::Signature) != fcr::SignatureValue) continue;
        const uint64_t usage = row.usageSize == 2 ? r.u16(row.usageAt) : r.u32(row.usageAt);
        valid.push_back({p, usage, staleMarked(row, r), std::move(bytes)});
    }
    if (valid.empty()) return Status::Truncated;
    const auto best = std::max_element(valid.begin(), valid.end(),
                                       [](const Copy& a, const Copy& b) { return a.usage < b.usage; });
    out.fcrPage = best->page;
    out.fcrUsage = best->usage;
    out.tableUsageLimit = valid.size() == pages.size() ? best->usage : 0;
    if (valid.size() == 2) {
        const Copy& other = valid[best == valid.begin() ? 1 : 0];
        if (other.usage == best->usage && other.bytes != best->bytes)
            out.undecided = "both control record copies have usage count " + std::to_string(best->usage);
        else if (other.usage != best->usage && best->stale && !other.stale)
            out.undecided = "the control record copy with the higher usage count (" + std::to_string(best->usage) +
                            ") is marked stale";
        if (!out.undecided.empty()) out.undecidedCopies = {valid[0].page, valid[1].page};
    }
    return Status::Success;
}

// A file too short to hold an FCR: truncated when its first bytes look like one.
Status shortFile(PageStore& store) {
    std::string head;
    Status s = store.readAt(0, static_cast<size_t>(std::min<uint64_t>(store.fileSize(), 4)), head);
    if (!ok(s)) return s;
    const bool looksPre6 = head.size() == 4 && head == std::string(4, '\0');
    const bool looksV6 = head.size() == 4 && head == std::string("FC\0\0", 4);
    return looksPre6 || looksV6 ? Status::Truncated : Status::NotBtrieveFile;
}

uint32_t pageSizeOf(ByteReader& r, const FormatFamily& row) {
    return row.pageSizeUnit == 1 ? r.u16(row.pageSizeAt) : r.u8(row.pageSizeAt) * row.pageSizeUnit;
}

// Step 1: the family, from the first 256 bytes; sets the page size on the store
// and finds the current FCR copy. fcrBytes is the length of one copy.
Status identify(PageStore& store, Layout& out, uint32_t& fcrBytes, bool& negative) {
    FileInfo& info = out.info;
    std::string head;
    Status s = store.readAt(0, 0x100, head);
    if (!ok(s)) return s;
    ByteReader h(head);
    const uint32_t magic = h.u32(fcr::Signature);
    const FormatFamily* row = nullptr;
    if (magic == 0) {
        row = &kPre6;
        info.version = versionOf(h.u16(fcr::Pre6Version), negative);
        if (info.version < row->versionMin || info.version > row->versionMax)
            return validPageSize(pageSizeOf(h, *row), row->maxPageSize) ? Status::UnsupportedVersion
                                                                          : Status::NotBtrieveFile;
    } else if (magic == fcr::SignatureValue) {
        row = familyOfVersion(versionOf(h.u16(fcr::Version), negative));
        if (row == nullptr) return Status::UnsupportedVersion;
    } else {
        return Status::NotBtrieveFile;
    }
    info.format = row;
    out.pat = row->pat;
    info.family = row->family;
    info.pageSize = pageSizeOf(h, *row);
    if (!validPageSize(info.pageSize, row->maxPageSize))
        return row->family == Family::Pre6 ? Status::NotBtrieveFile : Status::Corrupt;
    store.setPageSize(info.pageSize);
    out.patCopyPages = copyPages(*row, info.pageSize);
    fcrBytes = out.patCopyPages * info.pageSize;
    out.fcrPage = 0;
    if (row->usageSize == 0) return Status::Success;
    return pickCopy(store, *row, {0, out.patCopyPages}, fcrBytes, out);
}

// Step 2: the current copy's version lies in the row the first page named (pre-6
// files have one copy, read in step 1).
Status checkVersion(ByteReader& f, Layout& out, bool& negative) {
    FileInfo& info = out.info;
    if (info.family == Family::Pre6) return Status::Success;
    info.version = versionOf(f.u16(fcr::Version), negative);
    const FormatFamily& row = *info.format;
    return info.version >= row.versionMin && info.version <= row.versionMax ? Status::Success : Status::Corrupt;
}

// Step 3: counts, lengths, owner and file flags.
Status readRecordFields(ByteReader& f, Layout& out, bool negative, uint32_t& keyCount) {
    FileInfo& info = out.info;
    keyCount = f.u16(fcr::KeyCount);
    info.recordLength = f.u16(fcr::RecordLength);
    info.physicalRecordLength = f.u16(fcr::SlotLength);
    info.recordCount = f.swapped32(fcr::RecordCount);
    info.pageCount = f.swapped32(fcr::PageCount);
    for (size_t i = 0; i < out.ownerBlock.size(); ++i) out.ownerBlock[i] = f.u8(fcr::OwnerBlock + i);
    out.ownerAccess = f.u8(fcr::OwnerAccess);
    const uint8_t varMark = f.u8(fcr::VariableMark);
    info.fileFlags = f.u16(info.format->fileFlagsAt);
    out.freeChainHead = f.swapped32(fcr::FreeSlot);
    if (!f.ok()) return Status::Truncated;

    const bool blockSet = std::any_of(out.ownerBlock.begin(), out.ownerBlock.end(), [](uint8_t b) { return b != 0; });
    // An owner block is set with the owner, which also makes the version word
    // negative: a block under a positive word is damage (and would decrypt the
    // records into garbage).
    if (blockSet && !negative) return Status::Corrupt;
    info.ownerSet = negative || blockSet;
    info.encrypted = blockSet && (out.ownerAccess & 0x02) != 0;
    info.variable = (info.fileFlags & 0x0001) != 0 || varMark == 0xFF || varMark == 0xFD;
    info.compressed = (info.fileFlags & 0x0008) != 0;
    out.blankTruncation = (info.fileFlags & 0x0002) != 0 || varMark == 0xFD;
    // Files without keys came with 6.x: a pre-6 file has at least one.
    if (keyCount == 0 && info.family == Family::Pre6) return Status::Corrupt;
    return keyCount > kMaxKeys ? Status::Corrupt : Status::Success;
}

// Step 4: page geometry and where a slot keeps the record and its pointers.
Status readSlotLayout(ByteReader& f, Layout& out) {
    const FormatFamily& row = *out.info.format;
    const FileInfo& info = out.info;
    const uint32_t prl = info.physicalRecordLength;
    const uint32_t rl = info.recordLength;
    const uint32_t ps = info.pageSize;
    out.slotsOffset = row.slotsOffset;
    out.varPtrSize = row.varPtrSize;
    out.varCountOffset = row.varCountOffset;
    out.varDataOffset = row.varDataOffset;
    out.everyFragmentLinked = row.everyFragmentLinked;
    if (row.pat != PatKind::None) {
        out.patFirst = row.patFirstCopies * out.patCopyPages;
        out.patEntryBase = row.patEntryBase;
        out.patEntrySize = row.patEntrySize;
        out.patEntries = patEntries(row, ps);
        out.patStride = out.patEntries + 2 * out.patCopyPages;
    }
    const uint32_t tail = rl + (info.variable ? row.varPtrSize : 0u);
    out.dupPairs = row.family == Family::Pre6 ? 0 : f.u8(fcr::DuplicatePairs);
    if (info.compressed) {
        out.varPtrOffset = 0;
        out.liveByte = row.compressedLiveByte;
        if (prl < row.compressedMinSlot) return Status::Corrupt;
    } else if (!row.slotSystemData) {
        out.usageWord = row.usageWordSize != 0;
        out.recordOffset = row.usageWordSize;
        out.varPtrOffset = out.recordOffset + rl;
        if (prl < out.recordOffset + tail || rl == 0) return Status::Corrupt;
    } else {
        // The slot holds a usage word, possibly 8 bytes of system data, the
        // record, the variable pointer and the duplicate pointers. The
        // duplicate-pointer offset (or the slot length) tells where the record
        // starts.
        out.usageWord = true;
        const uint32_t dupOffset = f.u16(fcr::DuplicateOffset);
        const uint32_t dupPairs = f.u8(fcr::DuplicatePairs);
        const uint32_t before = dupOffset != 0 ? dupOffset : prl - 8 * dupPairs;
        const uint32_t word = row.usageWordSize;
        // No record can be empty: a length of 0 is damage, not a layout.
        if (rl == 0) return Status::Corrupt;
        if (before < tail + word || (before - tail != word && before - tail != word + 8))
            return Status::UnsupportedLayout;
        out.recordOffset = before - tail;
        out.varPtrOffset = out.recordOffset + rl;
        if (prl < before) return Status::Corrupt;
    }
    if (prl == 0 || prl > ps - out.slotsOffset) return Status::Corrupt;
    out.slotsPerPage = (ps - out.slotsOffset) / prl;
    return Status::Success;
}

// Step 5: the key allocation table (6.x and later) and the key descriptors.
Status readKeyTable(ByteReader& f, Layout& out, uint32_t keyCount, uint32_t fcrBytes) {
    const FormatFamily& row = *out.info.format;
    uint32_t katOffset = 0;
    if (row.katAt != 0) {
        katOffset = f.u16(row.katAt);
        const uint32_t second = row.keyCount2Size == 1 ? f.u8(row.keyCount2At) : f.u16(row.keyCount2At);
        if (second != keyCount) return Status::Corrupt;
        // The KAT follows the fields above (in 6.x it may start right at 0x7A).
        if (keyCount > 0 && (katOffset < row.katMinimum || !fits(fcrBytes, katOffset, 2ull * keyCount)))
            return Status::Corrupt;
    }
    return readKeys(f, keyCount, katOffset, row.descriptorSize, out);
}

// A plain pre-6 or 6.x slot holds its usage word (6.x), the record, its variable
// pointer and the duplicate pointers: a pair for each key with linked duplicates
// (6.x: as many pairs as the control record counts, perhaps some reserved for keys
// to come). A record or slot length that leaves anything else is damage (else
// records would come out cut short or run into their pointers). Slots that may
// hold system data (8.x) are checked as their layout is read.
Status checkPlainSlot(const Layout& out) {
    const FileInfo& info = out.info;
    if (info.format->slotSystemData || info.compressed) return Status::Success;
    uint32_t linked = 0;
    for (const KeySpec& k : info.keys)
        if (k.allowsDuplicates() && !(k.flags() & keyflag::RepeatingDuplicates)) ++linked;
    const uint32_t pairs = info.family == Family::Pre6 ? linked : out.dupPairs;
    const uint64_t used = out.recordOffset + info.recordLength + (info.variable ? out.varPtrSize : 0u) + 8ull * pairs;
    return info.physicalRecordLength == used && pairs >= linked ? Status::Success : Status::Corrupt;
}

}  // namespace

Status readHeader(PageStore& store, Layout& out, std::optional<uint32_t> copy) {
    out = Layout{};
    if (store.fileSize() < 0x100) return shortFile(store);
    uint32_t fcrBytes = 0;
    bool negative = false;
    Status s = identify(store, out, fcrBytes, negative);
    if (!ok(s)) return s;
    if (copy) {
        out.fcrPage = *copy;
        out.tableUsageLimit = 0;
    }

    std::string fcrBuf;
    s = store.readAt(static_cast<uint64_t>(out.fcrPage) * out.info.pageSize, fcrBytes, fcrBuf);
    if (!ok(s)) return s;
    ByteReader f(fcrBuf);
    uint32_t keyCount = 0;
    if (s = checkVersion(f, out, negative); !ok(s)) return s;
    if (s = readRecordFields(f, out, negative, keyCount); !ok(s)) return s;
    if (s = readSlotLayout(f, out); !ok(s)) return s;
    if (s = readKeyTable(f, out, keyCount, fcrBytes); !ok(s)) return s;

    // A count no file of this size could hold is a lie; refuse it before any scan
    // trusts it.
    const FileInfo& info = out.info;
    if (s = checkPlainSlot(out); !ok(s)) return s;
    const uint64_t capacity = store.physicalPages() * out.slotsPerPage;
    if (info.recordCount > capacity) return Status::Corrupt;
    if (info.family == Family::Pre6 && info.pageCount > store.physicalPages()) return Status::Truncated;
    return Status::Success;
}

}  // namespace btrieve::detail
