#include "btrieve/key_order.h"

#include <algorithm>
#include <array>

#include "btrieve/keys.h"

namespace btrieve {

bool radixSortable(const KeySpec& key) {
    using T = DataType;
    if (key.segments.empty() || key.totalLength() == 0 || key.totalLength() > 8) return false;
    for (const auto& seg : key.segments) {
        switch (seg.type) {
        case T::Integer: case T::AutoIncrement: case T::UnsignedBinary: case T::OldBinary:
        case T::Date: case T::Time: case T::Logical:
            break;
        case T::String: case T::OldString:
            // Equal-length text without a collation orders byte by byte.
            if (seg.flags & (keyflag::Acs | keyflag::CaseInsensitive)) return false;
            break;
        default:
            return false;
        }
    }
    return true;
}

uint64_t radixValue(const KeySpec& key, std::string_view keyBytes) {
    using T = DataType;
    uint64_t v = 0;
    size_t start = 0;
    for (const auto& seg : key.segments) {
        const bool text = seg.type == T::String || seg.type == T::OldString;
        const bool isSigned = seg.type == T::Integer || seg.type == T::AutoIncrement;
        const uint8_t invert = (seg.flags & keyflag::Descending) ? 0xFF : 0x00;
        for (size_t k = 0; k < seg.length; ++k) {
            // Integers are little-endian: their last byte is the most significant.
            const size_t at = start + (text ? k : seg.length - 1 - k);
            uint8_t b = at < keyBytes.size() ? static_cast<uint8_t>(keyBytes[at]) : 0;
            if (isSigned && k == 0) b ^= 0x80;
            v = v << 8 | static_cast<uint8_t>(b ^ invert);
        }
        start += seg.length;
    }
    return v;
}

namespace {

struct Entry {
    uint64_t value;
    uint32_t index;
};

// LSD radix sort on the low `bytes` bytes of value; stable, as each pass is.
void radixSort(std::vector<Entry>& v, unsigned bytes) {
    std::vector<Entry> tmp(v.size());
    for (unsigned pass = 0; pass < bytes && !v.empty(); ++pass) {
        const unsigned shift = pass * 8;
        std::array<size_t, 257> count{};
        for (const Entry& e : v) ++count[((e.value >> shift) & 0xFF) + 1];
        if (count[((v[0].value >> shift) & 0xFF) + 1] == v.size()) continue;  // one byte value: no change
        for (size_t i = 1; i < count.size(); ++i) count[i] += count[i - 1];
        for (const Entry& e : v) tmp[count[(e.value >> shift) & 0xFF]++] = e;
        v.swap(tmp);
    }
}

}  // namespace

std::vector<uint32_t> stableKeyOrder(const KeySpec& key, const FileInfo& info, std::string_view keys, size_t n) {
    const size_t length = key.totalLength();
    auto keyAt = [&](size_t i) {
        return i * length < keys.size() ? keys.substr(i * length, length) : std::string_view();
    };
    std::vector<uint32_t> order(n);
    if (radixSortable(key)) {
        std::vector<Entry> entries(n);
        for (size_t i = 0; i < n; ++i) entries[i] = {radixValue(key, keyAt(i)), static_cast<uint32_t>(i)};
        radixSort(entries, static_cast<unsigned>(length));
        for (size_t i = 0; i < n; ++i) order[i] = entries[i].index;
        return order;
    }
    for (size_t i = 0; i < n; ++i) order[i] = static_cast<uint32_t>(i);
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return compareKeys(key, info, keyAt(a), keyAt(b)) < 0; });
    return order;
}

}  // namespace btrieve
