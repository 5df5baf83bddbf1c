// Sorting many keys at once (an export in key order, an index built in memory):
// the stable order of n keys, so that equal keys keep the order they were given in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "btrieve/status.h"
#include "btrieve/file.h"
#include "btrieve/types.h"

namespace btrieve {

// Every live record's key bytes (extractKey form, back to back, short records
// padded) and address, in physical order: one scan of the file in two runs at
// once that reads only the key's bytes and never copies a record. The two
// vectors are replaced. UnsupportedLayout when the file holds more records than
// stableKeyOrder's 32-bit positions can order. passed: what the scan does with
// the pages behind it (see PassedPages).
Status collectKeys(const File& file, const KeySpec& key, std::string& keys, std::vector<RecordAddress>& addresses,
                   PassedPages passed = PassedPages::Release);

// keys holds n keys of key.totalLength() bytes each, back to back, in extractKey
// form. Returns the indexes 0..n-1 in the order compareKeys gives, ties in index
// order. Keys of at most eight bytes of integer, unsigned, date, time, logical or
// plain string segments are radix-sorted; others are merge-sorted by compareKeys.
std::vector<uint32_t> stableKeyOrder(const KeySpec& key, const FileInfo& info, std::string_view keys, size_t n);

// addresses (one per key of keys, as collectKeys gives them) in the order
// stableKeyOrder gives: for short keys placed as they are counted, with no list
// of positions in between.
std::vector<RecordAddress> addressesInKeyOrder(const KeySpec& key, const FileInfo& info, std::string_view keys,
                                               const std::vector<RecordAddress>& addresses);

// Whether stableKeyOrder radix-sorts key, and the number it sorts a key by: the
// segments' bytes most significant first, a signed segment's sign bit flipped, a
// descending segment's bits inverted.
bool radixSortable(const KeySpec& key);
uint64_t radixValue(const KeySpec& key, std::string_view keyBytes);

// ---- the engine's own order: duplicate chains and null keys ----------------------

// No record: the end of a duplicate chain (FF FF FF FF on disk).
constexpr RecordAddress kNoRecord = ~RecordAddress{0};

// The low bits of an 8.x/9.x record pointer that number the slot in its page: the
// bit width of the slots per page, at least 4.
uint32_t recordPointerShift(uint32_t slotsPerPage);

// The record named by the 4-byte record pointer at `at` of bytes, as index entries
// and duplicate chains store it: pre-6 and 6.x a ws byte address (pre-6 absolute,
// 6.x logical page * page size + offset); 8.x and later a plain u32 (logical page
// << recordPointerShift) | slot index. kNoRecord for FF FF FF FF or short bytes.
RecordAddress recordPointerAt(const File& file, std::string_view bytes, uint64_t at);

// Whether the records of file carry linked-duplicate pointers for key (a key with
// duplicates that are not repeating, whose pointer pair lies inside the slot).
bool hasDuplicateChains(const File& file, const KeySpec& key);

// Puts members, the records of one key value, in the order of their duplicate
// chain (insertion order). false, with members unchanged, when their slots cannot
// be read or they do not form exactly one whole chain linked both ways.
bool orderByChain(const File& file, const KeySpec& key, std::vector<RecordAddress>& members);

// Drops the records whose key is null (isNullKey) from keys and addresses (as
// collectKeys gives them), keeping the others in their order; returns how many.
uint64_t dropNullKeys(const KeySpec& key, std::string& keys, std::vector<RecordAddress>& addresses);

// The live records of key in the order of the engine's index: key order, the
// records of one value in chain order where the file keeps chains (else physical
// order), and the records whose key is null (isNullKey) left out. leftOut counts
// those. keys and addresses are scratch.
Status engineKeyOrder(const File& file, const KeySpec& key, std::vector<RecordAddress>& order,
                      uint64_t* leftOut = nullptr, PassedPages passed = PassedPages::Release);

}  // namespace btrieve
