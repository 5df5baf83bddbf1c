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

}  // namespace btrieve
