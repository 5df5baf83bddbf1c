// Key values and their ordering: extracting a key from a record by the file's key
// segments, and comparing two keys by segment type and flags (string, zstring,
// integer, unsigned binary, float, date, logical, case-insensitive, ACS, descending).
#pragma once

#include <string>
#include <string_view>

#include "btrieve/types.h"

namespace btrieve {

// The concatenated segment bytes of key in record. Bytes past the end of a short
// (variable) record count as zero.
std::string extractKey(const KeySpec& key, std::string_view record);
// extractKey appended to out, without a string of its own (for keys by the million).
void appendKey(const KeySpec& key, std::string_view record, std::string& out);

// <0, 0, >0 as a orders before, with or after b under key (both as extractKey makes them).
int compareKeys(const KeySpec& key, const FileInfo& info, std::string_view a, std::string_view b);

// keyValue brought to the key's full length: a segment the value does not fill is
// padded as its type stores text (blanks for STRING, zeros otherwise, so a zstring
// ends at the value's end); a longer value is cut at the key length.
std::string padKeyValue(const KeySpec& key, std::string_view keyValue);

// Whether the engine leaves a record out of key's index: with flag 0x0200 (null
// if any segment) when any segment consists only of its null byte, with flag 0x0008
// (null if all) when every segment does. keyBytes in extractKey form.
bool isNullKey(const KeySpec& key, std::string_view keyBytes);
// Whether key has one of the two null flags.
bool hasNullValue(const KeySpec& key);

// The key made of the first n segments of key (all of them when n is larger).
KeySpec leadingSegments(const KeySpec& key, size_t n);

}  // namespace btrieve
