// Helpers shared by the key-order tests: a key segment in one line, and the order
// that a stable sort by compareKeys gives, which every faster sort must equal.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "btrieve/keys.h"
#include "key_segment.h"

namespace keyordertest {

using testkeys::keySegment;

inline std::vector<uint32_t> reference(const btrieve::KeySpec& key, const btrieve::FileInfo& info,
                                       const std::string& keys, size_t n) {
    const size_t len = key.totalLength();
    std::vector<uint32_t> order(n);
    for (uint32_t i = 0; i < n; ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        return btrieve::compareKeys(key, info, std::string_view(keys).substr(a * len, len),
                                    std::string_view(keys).substr(b * len, len)) < 0;
    });
    return order;
}

}  // namespace keyordertest
