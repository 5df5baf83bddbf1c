// The on-disk constants of each format family, kept as data: where the file
// control record (FCR) keeps each field, and each family's page geometry. The
// reader (fcr.cpp) and the writer (writer.cpp) both take their offsets from here.
//
// File control record. Offsets are from the start of the current FCR copy; "ws" =
// a 32-bit value as two u16 words, high word first.
//
//   offset  size  meaning
//   0x00    4     pre-6: zero; 6.x and later: "FC" 00 00
//   0x04    4     6.x/7.x: usage count of this copy (u32)
//   0x06    2     pre-6: version word (sign bit set when an owner is set);
//                 8.x/9.0: usage count of this copy (u16)
//   0x08    2     pre-6, 6.x/7.x: page size; 9.5: usage count of this copy (u32)
//   0x0A    2     6.x to 9.0: 0 on the current copy, 0x4000 on a stale one
//   0x0C    4     6.x: free-page list, FF FF FF FF for none
//   0x10    4     ws address of the first deleted slot, FFFFFFFF for none
//   0x14    2     number of keys
//   0x16    2     logical (fixed) record length; 0 in compressed files
//   0x18    2     physical slot length
//   0x1A    4     ws record count
//   0x22    2     6.x: FF FF
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
//   0x77    1     6.x: number of segment descriptors
//   0x78    2     6.x: offset of the key allocation table (KAT)
//   0x7A    2     8.x and later: offset of the KAT (may lie in the copy's second page)
//   0x106   2     pre-6, 6.x: file flags (0x0001 variable, 0x0002 blank truncation,
//                 0x0008 compressed); 0xFFFF in 8.x and later
//   0x110   30*n  pre-6: key segment descriptors back to back (6.x writers put them
//                 here too, and the KAT after them)
//   0x190   2     8.x and later: file flags
//
// Key segment descriptor (30 bytes; 36 in 8.x and later, same first 30 bytes):
//   0x00 4  B-tree root (pre-6: ws physical page; 6.x: page-table layout; 8.x: u32)
//   0x04 4  ws number of distinct key values
//   0x08 2  key flags (0x0010: another segment follows)
//   0x0A 2  total key length (first segment only)
//   0x0C 2  size of one index entry
//   0x0E 2  6.x: index entries per page
//   0x10 2  6.x: half of that
//   0x12 2  offset of this key's duplicate pointers in the slot, 0 for none
//   0x14 2  position in the slot (pre-6 and compressed: in the record)
//   0x16 2  segment length
//   0x19 3  logical page of the segment's own ACS (6.x: page-table order; 8.x: LE)
//   0x1C 1  extended data type (valid with flag 0x0100)
//   0x1D 1  null value
#pragma once

#include <cstdint>

#include "btrieve/types.h"

namespace btrieve::detail {

enum class PatKind { None, V6, V8, V95 };  // None: pre-6 pages are physical

// FCR field offsets, as tabled above.
namespace fcr {
enum : uint32_t {
    Signature = 0x00,
    V6Usage = 0x04,
    Pre6Version = 0x06,
    PageSize = 0x08,
    V6Stale = 0x0A,
    V6FreePages = 0x0C,
    FreeSlot = 0x10,
    KeyCount = 0x14,
    RecordLength = 0x16,
    SlotLength = 0x18,
    RecordCount = 0x1A,
    V6Marker = 0x22,
    PageCount = 0x26,
    OwnerBlock = 0x2E,
    OwnerAccess = 0x37,
    VariableMark = 0x38,
    Version = 0x4A,
    DuplicateOffset = 0x72,
    DuplicatePairs = 0x74,
    KeyCount2 = 0x76,
    V6SegmentCount = 0x77,
    PackedDescriptors = 0x110,
};
constexpr uint32_t SignatureValue = 0x00004346u;  // "FC" 00 00 at Signature

// Key segment descriptor fields.
namespace segment {
enum : uint32_t {
    Root = 0x00, Distinct = 0x04, Flags = 0x08, KeyLength = 0x0A, EntrySize = 0x0C,
    V6EntriesPerPage = 0x0E, V6HalfEntries = 0x10, DuplicateOffset = 0x12, Position = 0x14,
    Length = 0x16, Acs = 0x19, ExtendedType = 0x1C, NullValue = 0x1D,
};
}  // namespace segment
}  // namespace fcr

// How a family's pages give page numbers (index pages' own number and children,
// data pages' own number): ws physical page (pre-6), page-table layout
// [bits 16-23][type][bits 0-7][bits 8-15] (6.x), plain u32 logical page (8.x on).
enum class PageNumbers { Swapped, PageTable, Plain };
// How an index page says which key it belongs to: pre-6 by a write counter without
// the data pages' 0x8000 bit, 6.x by the type byte 0x80 + key number in its page
// number, 8.x on by the u16 0x8000 + key number at 0x04.
enum class IndexOwner { Counter, TypeByte, KeyWord };
// How index entries and duplicate chains point at a record: a ws value that
// File::addressFromPointer reads (pre-6 file offset, 6.x logical page * page size +
// slot offset), or (logical page << s) | slot index (8.x on).
enum class RecordPointers { Offset, PageShiftSlot };

// One format family's constants. A field of 0 means the family has no such thing.
// An open file's facts point at its row (FileInfo::format), set when its header is
// read; the page, index and record readers go by that row rather than by version.
struct FormatFamily {
    Family family = Family::Pre6;
    PatKind pat = PatKind::None;
    uint16_t versionMin = 0, versionMax = 0;  // version word range, inclusive

    // Page size: a u16 at 0x08, or (8.x and later) a byte of 256-byte units at 0x2B.
    uint32_t pageSizeAt = 0;
    uint32_t pageSizeUnit = 0;  // 1: u16 in bytes; 256: u8 in units of 256
    uint32_t maxPageSize = 0;

    // FCR copies: two copies, each at least copyMinBytes and copyMinPages long;
    // the current one has the higher usage count.
    uint32_t copyMinBytes = 0, copyMinPages = 0;
    uint32_t usageAt = 0, usageSize = 0;  // usageSize 0: a single copy at page 0
    uint32_t staleMarkAt = 0;             // u16 that is 0x4000 on a stale copy, 0 for none

    // Fields whose place differs between families.
    uint32_t fileFlagsAt = 0;
    uint32_t keyCount2At = 0, keyCount2Size = 0;  // the second key count, checked against 0x14
    uint32_t katAt = 0, katMinimum = 0;           // katAt 0: descriptors packed from 0x110
    uint32_t descriptorSize = 0;

    // Data pages and slots.
    uint32_t slotsOffset = 0;         // first slot in a data page
    uint32_t usageWordSize = 0;       // plain slots start with a usage word of this size
    bool slotSystemData = false;      // plain slots may hold 8 bytes of system data before the record
    uint32_t compressedLiveByte = 0;  // compressed slots: byte that is non-zero when live
    uint32_t compressedMinSlot = 0;   // compressed slots are at least this long

    // Variable pages.
    uint32_t varPtrSize = 0;  // 4: [page 16-23][page 0-7][page 8-15][fragment]; 6: u32 page, u16 fragment
    uint32_t varCountOffset = 0, varDataOffset = 0;
    bool everyFragmentLinked = false;

    // Page allocation tables: pairs of copies after the FCR copies.
    uint32_t patFirstCopies = 0;  // copies (of copyPages each) before the first pair
    uint32_t patEntryBase = 0, patEntrySize = 0;
    uint32_t patUsableSixteenths = 0;  // share of a copy, in sixteenths, that holds entries
    uint32_t patReserved = 0;          // bytes of that share not given to entries
    uint32_t patEntriesAt512 = 0;      // entries per pair with 512-byte pages, when not by the rule
    uint32_t patUsageAt = 0, patUsageSize = 0;  // a copy's usage count

    // Page numbers and record pointers.
    PageNumbers pageNumbers = PageNumbers::Swapped;
    RecordPointers recordPointers = RecordPointers::Offset;

    // Index pages (index_btree.cpp): header length, where the entry count and the
    // right-most child stand, how a page names its key, and (9.5) a u16 that is zero.
    uint32_t indexHeader = 0, indexCountAt = 0, indexRightAt = 0;
    IndexOwner indexOwner = IndexOwner::Counter;
    uint32_t indexZeroAt = 0;

    // ACS pages: where the signature byte 0xAC may stand (0 for a second place: none).
    uint32_t acsSignatureAt[2] = {0, 0};
};

inline constexpr FormatFamily kFormats[] = {
    {.family = Family::Pre6, .pat = PatKind::None, .versionMin = 0x0300, .versionMax = 0x05FF,
     .pageSizeAt = 0x08, .pageSizeUnit = 1, .maxPageSize = 4096,
     .copyMinBytes = 0, .copyMinPages = 1, .usageAt = 0, .usageSize = 0,
     .fileFlagsAt = 0x106, .keyCount2At = 0, .keyCount2Size = 0, .katAt = 0, .katMinimum = 0, .descriptorSize = 30,
     .slotsOffset = 6, .usageWordSize = 0, .compressedLiveByte = 4, .compressedMinSlot = 5,
     .varPtrSize = 4, .varCountOffset = 0x0A, .varDataOffset = 0x0C, .everyFragmentLinked = false,
     .pageNumbers = PageNumbers::Swapped, .recordPointers = RecordPointers::Offset,
     .indexHeader = 12, .indexCountAt = 6, .indexRightAt = 8, .indexOwner = IndexOwner::Counter,
     .acsSignatureAt = {6, 0}},
    {.family = Family::V6, .pat = PatKind::V6, .versionMin = 0x0600, .versionMax = 0x07FF,
     .pageSizeAt = 0x08, .pageSizeUnit = 1, .maxPageSize = 4096,
     .copyMinBytes = 0, .copyMinPages = 1, .usageAt = 0x04, .usageSize = 4, .staleMarkAt = 0x0A,
     .fileFlagsAt = 0x106, .keyCount2At = 0x76, .keyCount2Size = 1, .katAt = 0x78, .katMinimum = 0x7A,
     .descriptorSize = 30,
     .slotsOffset = 6, .usageWordSize = 2, .compressedLiveByte = 4, .compressedMinSlot = 7,
     .varPtrSize = 4, .varCountOffset = 0x0A, .varDataOffset = 0x0C, .everyFragmentLinked = true,
     .patFirstCopies = 2, .patEntryBase = 0x08, .patEntrySize = 4, .patUsableSixteenths = 16, .patReserved = 8,
     .patUsageAt = 4, .patUsageSize = 4,
     .pageNumbers = PageNumbers::PageTable, .recordPointers = RecordPointers::Offset,
     .indexHeader = 12, .indexCountAt = 6, .indexRightAt = 8, .indexOwner = IndexOwner::TypeByte,
     .acsSignatureAt = {6, 0}},
    {.family = Family::V8, .pat = PatKind::V8, .versionMin = 0x0800, .versionMax = 0x094F,
     .pageSizeAt = 0x2B, .pageSizeUnit = 256, .maxPageSize = 16384,
     .copyMinBytes = 2048, .copyMinPages = 2, .usageAt = 0x06, .usageSize = 2, .staleMarkAt = 0x0A,
     .fileFlagsAt = 0x190, .keyCount2At = 0x76, .keyCount2Size = 2, .katAt = 0x7A, .katMinimum = 0x7C,
     .descriptorSize = 36,
     .slotsOffset = 8, .usageWordSize = 2, .slotSystemData = true, .compressedLiveByte = 6, .compressedMinSlot = 9,
     .varPtrSize = 6, .varCountOffset = 14, .varDataOffset = 16, .everyFragmentLinked = true,
     .patFirstCopies = 4, .patEntryBase = 0x14, .patEntrySize = 6, .patUsableSixteenths = 15, .patReserved = 24,
     .patEntriesAt512 = 312, .patUsageAt = 6, .patUsageSize = 2,
     .pageNumbers = PageNumbers::Plain, .recordPointers = RecordPointers::PageShiftSlot,
     .indexHeader = 14, .indexCountAt = 8, .indexRightAt = 10, .indexOwner = IndexOwner::KeyWord,
     .acsSignatureAt = {8, 0}},
    // 9.5: the 8.x layout with wider usage counts (the FCR's covers 0x0A, so a stale
    // copy has no mark there) and a zero u16 at 0x06 of index pages.
    {.family = Family::V8, .pat = PatKind::V95, .versionMin = 0x0950, .versionMax = 0x0950,
     .pageSizeAt = 0x2B, .pageSizeUnit = 256, .maxPageSize = 16384,
     .copyMinBytes = 2048, .copyMinPages = 2, .usageAt = 0x08, .usageSize = 4,
     .fileFlagsAt = 0x190, .keyCount2At = 0x76, .keyCount2Size = 2, .katAt = 0x7A, .katMinimum = 0x7C,
     .descriptorSize = 36,
     .slotsOffset = 10, .usageWordSize = 2, .slotSystemData = true, .compressedLiveByte = 6, .compressedMinSlot = 9,
     .varPtrSize = 6, .varCountOffset = 16, .varDataOffset = 18, .everyFragmentLinked = true,
     .patFirstCopies = 4, .patEntryBase = 0x10, .patEntrySize = 8, .patUsableSixteenths = 15, .patReserved = 32,
     .patEntriesAt512 = 0, .patUsageAt = 8, .patUsageSize = 4,
     .pageNumbers = PageNumbers::Plain, .recordPointers = RecordPointers::PageShiftSlot,
     .indexHeader = 16, .indexCountAt = 10, .indexRightAt = 12, .indexOwner = IndexOwner::KeyWord,
     .indexZeroAt = 6, .acsSignatureAt = {8, 10}},
};

inline constexpr const FormatFamily& kPre6 = kFormats[0];
inline constexpr const FormatFamily& kV6 = kFormats[1];
inline constexpr const FormatFamily& kV8 = kFormats[2];
inline constexpr const FormatFamily& kV95 = kFormats[3];

// The family a version word belongs to, among those with a signature (6.x and
// later), or null.
inline const FormatFamily* familyOfVersion(uint16_t version) {
    for (const FormatFamily& f : kFormats)
        if (f.family != Family::Pre6 && version >= f.versionMin && version <= f.versionMax) return &f;
    return nullptr;
}

// Pages per FCR (and page-table) copy.
constexpr uint32_t copyPages(const FormatFamily& f, uint32_t pageSize) {
    const uint32_t byBytes = f.copyMinBytes / pageSize;
    return byBytes > f.copyMinPages ? byBytes : f.copyMinPages;
}

// Logical pages one page-table pair maps.
constexpr uint32_t patEntries(const FormatFamily& f, uint32_t pageSize) {
    if (pageSize == 512 && f.patEntriesAt512 != 0) return f.patEntriesAt512;
    const uint32_t copy = copyPages(f, pageSize) * pageSize;
    return (copy / 16 * f.patUsableSixteenths - f.patReserved) / f.patEntrySize;
}

}  // namespace btrieve::detail
