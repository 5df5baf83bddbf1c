// Record compression: the stored stream is a sequence of pairs, always in this order,
//
//   offset  size  meaning
//   0       2     literal count n (u16 LE)
//   2       n     n bytes copied as they are
//   2+n     2     run count m (u16 LE)
//   4+n     1     byte b: the run stands for m copies of b
//
// repeated; the stream may end after either member of a pair, and nothing follows
// the last token. The fragments of a record are concatenated before decoding, since
// fragment boundaries fall inside tokens.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "btrieve/status.h"

namespace btrieve::detail {

// Decodes stream into out. Corrupt when a token is cut short or the output would
// pass maxOutput bytes.
Status decompressRecord(std::string_view stream, std::string& out, size_t maxOutput);

}  // namespace btrieve::detail
