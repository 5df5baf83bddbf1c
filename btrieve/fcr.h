// The file control record (FCR): format family, version, page geometry, record
// layout and key descriptors, read from the current FCR copy. The offsets, and each
// family's constants, are tabled in formats.h.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "btrieve/formats.h"
#include "btrieve/pages.h"
#include "btrieve/status.h"
#include "btrieve/types.h"

namespace btrieve::detail {

// Everything the page and record readers need, derived once from the header.
struct Layout {
    FileInfo info;                       // keys carry logical positions; acs still -1
    // Per key and segment: the ACS page the segment descriptor names, 0 if none.
    std::vector<std::vector<uint32_t>> acsRefs;
    uint32_t fcrPage = 0;                // physical page of the current FCR copy
    uint64_t fcrUsage = 0;               // its usage count (6.x and later)
    // Both FCR copies when their usage counts cannot tell which is current (equal
    // counts over different contents, or the higher count on the copy marked
    // stale): the reader then decides by what the tables and records bear out.
    // Empty when the counts decide. undecided says why they do not.
    std::vector<uint32_t> undecidedCopies;
    std::string undecided;
    // Page-table copies counted above this belong to a commit under way (0: no
    // limit). Set only when both FCR copies carry the signature: with one of them
    // unreadable the file is damaged, not half-way through a commit.
    uint64_t tableUsageLimit = 0;

    // Page geometry.
    uint32_t slotsOffset = 6;            // first record slot in a data page
    uint32_t slotsPerPage = 0;

    // Slot layout. Compressed files keep only a pointer to the record's first
    // fragment in the slot; the rest of the record lives on variable pages.
    bool usageWord = false;              // slot starts with a u16 usage count (0 = free)
    uint32_t recordOffset = 0;           // fixed record bytes start here in the slot
    uint32_t varPtrOffset = 0;           // variable-tail (or compressed-record) pointer in the slot
    uint32_t varPtrSize = 4;             // 4: [page 16-23][page 0-7][page 8-15][fragment]; 6: u32 page, u16 fragment
    uint32_t liveByte = 0;               // compressed slots: byte that is non-zero in live slots
    uint32_t dupPairs = 0;               // 6.x and later: duplicate-pointer pairs a slot holds (FCR 0x74)

    // Variable pages.
    uint32_t varCountOffset = 0x0A;      // u16 number of fragment slots
    uint32_t varDataOffset = 0x0C;       // first fragment byte
    bool everyFragmentLinked = false;    // every fragment begins with a next pointer (else: bit 0x8000 of its offset)

    // Page allocation tables.
    PatKind pat = PatKind::None;
    uint32_t patFirst = 0;               // physical page of the first copy of the first pair
    uint32_t patCopyPages = 1;           // pages per copy
    uint32_t patEntryBase = 0;           // offset in a copy of the entry for the pair's first logical page
    uint32_t patEntrySize = 4;
    uint32_t patEntries = 0;             // logical pages mapped per pair
    uint32_t patStride = 0;              // physical pages from one pair to the next

    bool blankTruncation = false;        // file flag 0x0002, or 0xFD at FCR 0x38
    uint32_t freeChainHead = 0xFFFFFFFFu;  // pre-6: absolute offset of the first free slot
    std::array<uint8_t, 9> ownerBlock{};
    uint8_t ownerAccess = 0;
};

// Reads and checks the FCR, sets the store's page size. copy: the physical page of
// the FCR copy to read, instead of the one the usage counts choose (the page tables
// are then read without a bound from the counts: see tableUsageLimit).
Status readHeader(PageStore& store, Layout& out, std::optional<uint32_t> copy = std::nullopt);

}  // namespace btrieve::detail
