#include "btrieve/key_order.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

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

// LSD radix sort of v[0, n) on the low `bits` bits of valueOf(element); stable, as
// each pass is. Large inputs take sixteen bits a pass, halving the passes over
// memory. tmp is scratch of at least n elements.
template <typename T, typename ValueOf>
void radixSortBy(T* v, size_t n, unsigned bits, T* tmp, ValueOf valueOf) {
    if (n < 2) return;
    const unsigned digit = n >= (size_t{1} << 16) && bits > 8 ? 16 : 8;
    const size_t buckets = size_t{1} << digit;
    const uint64_t mask = buckets - 1;
    std::array<size_t, 257> small;
    std::vector<size_t> large(digit == 16 ? buckets + 1 : 0);
    const std::span<size_t> count = digit == 16 ? std::span<size_t>(large) : std::span<size_t>(small);
    T* src = v;
    T* dst = tmp;
    for (unsigned shift = 0; shift < bits; shift += digit) {
        std::fill(count.begin(), count.end(), 0);
        for (size_t i = 0; i < n; ++i) ++count[((valueOf(src[i]) >> shift) & mask) + 1];
        if (count[((valueOf(src[0]) >> shift) & mask) + 1] == n) continue;  // one digit value: no change
        for (size_t i = 1; i < count.size(); ++i) count[i] += count[i - 1];
        for (size_t i = 0; i < n; ++i) dst[count[(valueOf(src[i]) >> shift) & mask]++] = src[i];
        std::swap(src, dst);
    }
    if (src != v) std::copy(src, src + n, v);
}

void radixSort(std::vector<Entry>& v, size_t begin, size_t end, unsigned bytes, std::vector<Entry>& tmp) {
    if (tmp.size() < end - begin) tmp.resize(end - begin);
    radixSortBy(v.data() + begin, end - begin, bytes * 8, tmp.data(), [](const Entry& e) { return e.value; });
}

// A leading text segment whose bytes order as they stand (STRING or ZSTRING,
// ascending, without a collation): its bytes can be sorted eight at a time.
bool textPrefixSortable(const KeySpec& key) {
    if (key.segments.empty()) return false;
    const KeySegment& seg = key.segments[0];
    if (seg.flags & (keyflag::Acs | keyflag::CaseInsensitive | keyflag::Descending)) return false;
    return seg.type == DataType::String || seg.type == DataType::OldString || seg.type == DataType::ZString;
}

// Bytes [offset, offset + 8) of the leading text segment as a big-endian number;
// bytes past the segment, and for a ZSTRING from its first zero on, count as zero.
// Called for an offset past 0 only on keys whose text has no zero before offset
// (their earlier chunks ended in a nonzero byte).
uint64_t textChunk(const KeySegment& seg, std::string_view keyBytes, size_t offset) {
    const size_t length = std::min<size_t>(seg.length, keyBytes.size());
    if (offset >= length) return 0;
    unsigned char buf[8] = {};
    const size_t take = std::min<size_t>(8, length - offset);
    std::memcpy(buf, keyBytes.data() + offset, take);
    if (seg.type == DataType::ZString)
        if (auto* zero = static_cast<unsigned char*>(std::memchr(buf, 0, take)))
            std::memset(zero, 0, static_cast<size_t>(buf + 8 - zero));
    uint64_t v = 0;
    for (unsigned char c : buf) v = v << 8 | c;
    return v;
}

}  // namespace

std::vector<uint32_t> stableKeyOrder(const KeySpec& key, const FileInfo& info, std::string_view keys, size_t n) {
    const size_t length = key.totalLength();
    auto keyAt = [&](size_t i) {
        return i * length < keys.size() ? keys.substr(i * length, length) : std::string_view();
    };
    auto less = [&](uint32_t a, uint32_t b) { return compareKeys(key, info, keyAt(a), keyAt(b)) < 0; };
    std::vector<uint32_t> order(n);
    if (radixSortable(key) && length <= 2) {
        // One counting pass: each key's number is its bucket.
        std::vector<uint16_t> values(n);
        std::vector<size_t> count((size_t{1} << (8 * length)) + 1);
        for (size_t i = 0; i < n; ++i) {
            values[i] = static_cast<uint16_t>(radixValue(key, keyAt(i)));
            ++count[values[i] + 1u];
        }
        for (size_t i = 1; i < count.size(); ++i) count[i] += count[i - 1];
        for (size_t i = 0; i < n; ++i) order[count[values[i]]++] = static_cast<uint32_t>(i);
        return order;
    }
    if (radixSortable(key) && length <= 4 && n <= 0xFFFFFFFFu) {
        // value and index packed in one word: half the memory of an Entry to move.
        std::vector<uint64_t> packed(n), tmp(n);
        for (size_t i = 0; i < n; ++i) packed[i] = radixValue(key, keyAt(i)) << 32 | i;
        radixSortBy(packed.data(), n, static_cast<unsigned>(length) * 8, tmp.data(),
                    [](uint64_t p) { return p >> 32; });
        for (size_t i = 0; i < n; ++i) order[i] = static_cast<uint32_t>(packed[i]);
        return order;
    }
    if (radixSortable(key)) {
        std::vector<Entry> entries(n), tmp;
        for (size_t i = 0; i < n; ++i) entries[i] = {radixValue(key, keyAt(i)), static_cast<uint32_t>(i)};
        radixSort(entries, 0, n, static_cast<unsigned>(length), tmp);
        for (size_t i = 0; i < n; ++i) order[i] = entries[i].index;
        return order;
    }
    if (textPrefixSortable(key)) {
        // Radix by the segment's first eight bytes, then each run of equal bytes by
        // the next eight, and so on; a run the segment cannot tell apart is left to
        // compareKeys (later segments), a short run too. Every step is stable.
        const KeySegment& seg = key.segments[0];
        std::vector<Entry> entries(n), tmp;
        for (size_t i = 0; i < n; ++i) entries[i] = {textChunk(seg, keyAt(i), 0), static_cast<uint32_t>(i)};
        radixSort(entries, 0, n, 8, tmp);
        struct Run {
            size_t begin, end, offset;
        };
        std::vector<Run> runs{{0, n, 0}};
        std::vector<uint32_t> part;
        while (!runs.empty()) {
            const Run run = runs.back();
            runs.pop_back();
            for (size_t b = run.begin, e; b < run.end; b = e) {
                e = b + 1;
                while (e < run.end && entries[e].value == entries[b].value) ++e;
                if (e - b < 2) continue;
                const size_t next = run.offset + 8;
                const bool segmentDone = next >= seg.length ||
                                         (seg.type == DataType::ZString && (entries[b].value & 0xFF) == 0);
                if (segmentDone && key.segments.size() == 1) continue;  // equal keys: index order
                if (segmentDone || e - b <= 48) {
                    part.clear();
                    for (size_t i = b; i < e; ++i) part.push_back(entries[i].index);
                    std::stable_sort(part.begin(), part.end(), less);
                    for (size_t i = b; i < e; ++i) entries[i].index = part[i - b];
                    continue;
                }
                for (size_t i = b; i < e; ++i) entries[i].value = textChunk(seg, keyAt(entries[i].index), next);
                radixSort(entries, b, e, 8, tmp);
                runs.push_back({b, e, next});
            }
        }
        for (size_t i = 0; i < n; ++i) order[i] = entries[i].index;
        return order;
    }
    for (size_t i = 0; i < n; ++i) order[i] = static_cast<uint32_t>(i);
    std::stable_sort(order.begin(), order.end(), less);
    return order;
}

}  // namespace btrieve
