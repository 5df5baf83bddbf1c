// The key segments the tests describe: position and length in the record, the type of
// the key's bytes and the flags given. A typed segment carries the extended-type flag,
// as a file's descriptor reads back; the writer sets that flag itself and ignores it here.
#pragma once

#include <cstdint>

#include "btrieve/types.h"

namespace testkeys {

inline btrieve::KeySegment keySegment(uint32_t position, uint16_t length, btrieve::DataType type,
                                      uint16_t flags = 0) {
    const bool typed = type != btrieve::DataType::OldString && type != btrieve::DataType::OldBinary;
    return btrieve::KeySegment{.flags = static_cast<uint16_t>(flags | (typed ? btrieve::keyflag::ExtendedType : 0)),
                               .position = position,
                               .length = length,
                               .type = type};
}

}  // namespace testkeys
