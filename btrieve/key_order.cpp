#include "btrieve/key_order.h"

#include <algorithm>
#include <array>
#include <bit>
#include <atomic>
#include <cstring>
#include <span>
#include <unordered_map>

#include "btrieve/bytes.h"
#include "btrieve/file.h"
#include "btrieve/formats.h"
#include "btrieve/keys.h"
#include "btrieve/pages.h"
#include "btrieve/parallel.h"

namespace btrieve {

namespace {

// The keys and addresses one run of pages gives collectKeys. Apart by whole cache
// lines: every record appended moves a buffer's end, and two runs' ends on one
// line would bounce it between the cores.
struct alignas(128) KeyRun {
    std::string keys;  // the first `used` bytes are keys
    size_t used = 0;
    std::vector<RecordAddress> addresses;

    // A key that is a slice of the record, appended as it stands. Keys are written
    // into room made 64 KB at a time (within what was reserved, as long as that
    // lasts): a key of a few bytes appended on its own would cost more in checks
    // than in bytes.
    void appendSlice(const char* bytes, size_t keyLength) {
        if (used + keyLength > keys.size()) keys.resize(used + std::max<size_t>(keyLength, 1 << 16));
        char* to = keys.data() + used;
        // Common key lengths as fixed-size moves: a call to memcpy for two bytes
        // costs more than the bytes.
        switch (keyLength) {
        case 2: std::memcpy(to, bytes, 2); break;
        case 4: std::memcpy(to, bytes, 4); break;
        case 8: std::memcpy(to, bytes, 8); break;
        default: std::memcpy(to, bytes, keyLength);
        }
        used += keyLength;
    }
    // A key made from its segments.
    void appendSegments(const KeySpec& key, std::string_view rec) {
        keys.resize(used);
        appendKey(key, rec, keys);
        used = keys.size();
    }
};

// Room for the keys the header counts. The count saves regrowing, but a damaged
// or hostile header may claim billions, and a system that does not overcommit
// refuses to reserve that much: so at most two million entries and 64 MB of keys
// are reserved, and a larger file grows its buffers as it goes. The first run's
// buffers take the others' in the end: room for all.
void reserveRuns(std::span<KeyRun> runs, uint64_t recordCount, size_t keyLength) {
    const uint64_t cap = std::min<uint64_t>(uint64_t{1} << 21, (uint64_t{1} << 26) / std::max<size_t>(keyLength, 1));
    const size_t expected = static_cast<size_t>(std::min<uint64_t>(recordCount, cap));
    for (size_t i = 0; i < runs.size(); ++i) {
        const size_t room = i == 0 ? expected : expected / runs.size() + 64;
        detail::reserveLarge(runs[i].keys, room * keyLength);
        detail::reserveLarge(runs[i].addresses, room);
    }
}

// The runs' keys and addresses joined in order.
void joinRuns(std::span<KeyRun> runs, std::string& keys, std::vector<RecordAddress>& addresses) {
    for (KeyRun& r : runs) r.keys.resize(r.used);
    keys = std::move(runs[0].keys);
    addresses = std::move(runs[0].addresses);
    for (size_t i = 1; i < runs.size(); ++i) {
        keys += runs[i].keys;
        addresses.insert(addresses.end(), runs[i].addresses.begin(), runs[i].addresses.end());
    }
}

}  // namespace

Status collectKeys(const File& file, const KeySpec& key, std::string& keys, std::vector<RecordAddress>& addresses,
                   PassedPages passed) {
    keys.clear();
    addresses.clear();
    const std::string name = "key " + std::to_string(key.number);
    if (!key.damage.empty()) {
        file.noteDamage(name + ": " + key.damage);
        return Status::Corrupt;
    }
    const size_t keyLength = key.totalLength();
    // Every record holds every key whole: a shorter one (a compressed record, whose
    // length only reading tells) means a damaged key or record.
    uint64_t keyEnd = 0;
    for (const auto& seg : key.segments) keyEnd = std::max<uint64_t>(keyEnd, uint64_t{seg.position} + seg.length);
    std::atomic<uint64_t> shortRecord{UINT64_MAX};
    // Two runs of pages scanned at once, each into buffers of its own, then joined
    // in order.
    constexpr unsigned kParts = 2;
    KeyRun parts[kParts];
    reserveRuns(parts, file.info().recordCount, keyLength);
    // A one-segment key is a slice of the record.
    const bool slice = key.segments.size() == 1;
    const size_t from = slice ? key.segments[0].position : 0;
    std::atomic<bool> tooMany{false};
    const Status st = file.forEachRecordViewInParts(kParts, [&](unsigned part, RecordAddress addr, std::string_view rec) {
        KeyRun& p = parts[part];
        p.addresses.push_back(addr);
        if (slice && from + keyLength <= rec.size()) {
            p.appendSlice(rec.data() + from, keyLength);
        } else {
            if (rec.size() < keyEnd) shortRecord.store(rec.size(), std::memory_order_relaxed);
            p.appendSegments(key, rec);
        }
        if (p.addresses.size() < UINT32_MAX / kParts) return true;
        tooMany = true;
        return false;
    }, &key, passed);
    if (!ok(st)) return st;
    if (const uint64_t length = shortRecord.load(); length != UINT64_MAX) {
        file.noteDamage(name + " does not fit a record of " + std::to_string(length) + " bytes (it ends at byte " +
                        std::to_string(keyEnd) + ")");
        return Status::Corrupt;
    }
    if (tooMany) return Status::UnsupportedLayout;
    joinRuns(parts, keys, addresses);
    return Status::Success;
}

// Whether two of key's values are equal exactly when their bytes are: segments of
// integer, date, time and logical types, and text compared byte by byte.
static bool bytesDecideEquality(const KeySpec& key) {
    using T = DataType;
    for (const auto& seg : key.segments) {
        switch (seg.type) {
        case T::Integer: case T::AutoIncrement: case T::UnsignedBinary: case T::OldBinary:
        case T::Date: case T::Time: case T::Logical:
            break;
        case T::String: case T::OldString:
            if (seg.flags & (keyflag::Acs | keyflag::CaseInsensitive)) return false;
            break;
        default:
            return false;
        }
    }
    return true;
}

bool radixSortable(const KeySpec& key) {
    if (key.segments.empty() || key.totalLength() == 0 || key.totalLength() > 8) return false;
    return bytesDecideEquality(key);
}

namespace {

// Where each byte of a key's radix number comes from, most significant first, and
// what it is xor-ed with: worked out once per sort instead of once per key.
struct RadixPlan {
    uint8_t count = 0;
    size_t need = 0;  // key bytes the fast path reads
    std::array<uint8_t, 8> at{};
    std::array<uint8_t, 8> flip{};

    explicit RadixPlan(const KeySpec& key) {
        using T = DataType;
        size_t start = 0;
        for (const auto& seg : key.segments) {
            const bool text = seg.type == T::String || seg.type == T::OldString;
            const bool isSigned = seg.type == T::Integer || seg.type == T::AutoIncrement;
            const uint8_t invert = (seg.flags & keyflag::Descending) ? 0xFF : 0x00;
            for (size_t k = 0; k < seg.length && count < 8; ++k, ++count) {
                // Integers are little-endian: their last byte is the most significant.
                at[count] = static_cast<uint8_t>(start + (text ? k : seg.length - 1 - k));
                flip[count] = static_cast<uint8_t>(invert ^ (isSigned && k == 0 ? 0x80 : 0x00));
                need = std::max<size_t>(need, at[count] + 1u);
            }
            start += seg.length;
        }
    }
    uint64_t value(std::string_view keyBytes) const {
        uint64_t v = 0;
        if (keyBytes.size() >= need) {
            for (uint8_t i = 0; i < count; ++i)
                v = v << 8 | static_cast<uint8_t>(static_cast<uint8_t>(keyBytes[at[i]]) ^ flip[i]);
            return v;
        }
        for (uint8_t i = 0; i < count; ++i) {
            const uint8_t b = at[i] < keyBytes.size() ? static_cast<uint8_t>(keyBytes[at[i]]) : 0;
            v = v << 8 | static_cast<uint8_t>(b ^ flip[i]);
        }
        return v;
    }
};

}  // namespace

uint64_t radixValue(const KeySpec& key, std::string_view keyBytes) { return RadixPlan(key).value(keyBytes); }

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
    if (tmp.size() < end - begin) tmp = detail::largeVector<Entry>(end - begin);
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

// How many threads share a pass over n keys: two once there are enough keys to
// pay for the second.
unsigned halvesFor(size_t n) { return n >= (size_t{1} << 18) ? 2 : 1; }

// Keys of at most two radix-sortable bytes in one counting pass: each key's number
// is its bucket, and place(position, i) puts key i at its position in the order.
// A large input is counted and placed in two halves at once; within a bucket the
// first half's keys come first, so the order stays stable.
template <class Place>
void countingOrder(const KeySpec& key, std::string_view keys, size_t n, Place place) {
    const size_t length = key.totalLength();
    auto keyAt = [&](size_t i) {
        return i * length < keys.size() ? keys.substr(i * length, length) : std::string_view();
    };
    const RadixPlan plan(key);
    const size_t buckets = size_t{1} << (8 * length);
    const unsigned halves = halvesFor(n);
    // A key's bucket is worked out again where it is placed: cheaper than keeping
    // a list of them as long as the keys.
    const bool whole = keys.size() >= n * length;
    const auto* bytes = reinterpret_cast<const uint8_t*>(keys.data());
    auto valueAt = [&](size_t i) -> size_t {
        if (!whole) return static_cast<size_t>(plan.value(keyAt(i)));
        const uint8_t* b = bytes + i * length;
        size_t v = static_cast<uint8_t>(b[plan.at[0]] ^ plan.flip[0]);
        if (length == 2) v = v << 8 | static_cast<uint8_t>(b[plan.at[1]] ^ plan.flip[1]);
        return v;
    };
    std::vector<std::vector<size_t>> count(halves, std::vector<size_t>(buckets));
    auto bounds = [&](unsigned h) { return std::pair<size_t, size_t>{n * h / halves, n * (h + 1) / halves}; };
    auto countHalf = [&](unsigned h) {
        const auto [from, to] = bounds(h);
        size_t* c = count[h].data();
        for (size_t i = from; i < to; ++i) ++c[valueAt(i)];
    };
    auto placeHalf = [&](unsigned h) {
        const auto [from, to] = bounds(h);
        size_t* next = count[h].data();
        for (size_t i = from; i < to; ++i) place(next[valueAt(i)]++, static_cast<uint32_t>(i));
    };
    runParts(halves, countHalf);
    // Each half's counts become where its keys of each bucket start.
    size_t at = 0;
    for (size_t b = 0; b < buckets; ++b)
        for (unsigned h = 0; h < halves; ++h) {
            const size_t c = count[h][b];
            count[h][b] = at;
            at += c;
        }
    runParts(halves, placeHalf);
}

}  // namespace

std::vector<uint32_t> stableKeyOrder(const KeySpec& key, const FileInfo& info, std::string_view keys, size_t n) {
    const size_t length = key.totalLength();
    auto keyAt = [&](size_t i) {
        return i * length < keys.size() ? keys.substr(i * length, length) : std::string_view();
    };
    auto less = [&](uint32_t a, uint32_t b) { return compareKeys(key, info, keyAt(a), keyAt(b)) < 0; };
    std::vector<uint32_t> order = detail::largeVector<uint32_t>(n);
    if (radixSortable(key) && length <= 2) {
        countingOrder(key, keys, n, [&](size_t at, uint32_t i) { order[at] = i; });
        return order;
    }
    if (radixSortable(key) && length <= 4 && n <= 0xFFFFFFFFu) {
        // value and index packed in one word: half the memory of an Entry to move.
        const RadixPlan plan(key);
        std::vector<uint64_t> packed = detail::largeVector<uint64_t>(n), tmp = detail::largeVector<uint64_t>(n);
        for (size_t i = 0; i < n; ++i) packed[i] = plan.value(keyAt(i)) << 32 | i;
        radixSortBy(packed.data(), n, static_cast<unsigned>(length) * 8, tmp.data(),
                    [](uint64_t p) { return p >> 32; });
        for (size_t i = 0; i < n; ++i) order[i] = static_cast<uint32_t>(packed[i]);
        return order;
    }
    if (radixSortable(key)) {
        const RadixPlan plan(key);
        std::vector<Entry> entries = detail::largeVector<Entry>(n), tmp;
        for (size_t i = 0; i < n; ++i) entries[i] = {plan.value(keyAt(i)), static_cast<uint32_t>(i)};
        radixSort(entries, 0, n, static_cast<unsigned>(length), tmp);
        for (size_t i = 0; i < n; ++i) order[i] = entries[i].index;
        return order;
    }
    if (textPrefixSortable(key)) {
        // Radix by the segment's first eight bytes, then each run of equal bytes by
        // the next eight, and so on; a run the segment cannot tell apart is left to
        // compareKeys (later segments), a short run too. Every step is stable.
        const KeySegment& seg = key.segments[0];
        std::vector<Entry> entries = detail::largeVector<Entry>(n), tmp;
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

std::vector<RecordAddress> addressesInKeyOrder(const KeySpec& key, const FileInfo& info, std::string_view keys,
                                               const std::vector<RecordAddress>& addresses) {
    const size_t n = addresses.size();
    std::vector<RecordAddress> out = detail::largeVector<RecordAddress>(n);
    if (radixSortable(key) && key.totalLength() <= 2) {  // placed as they are counted
        countingOrder(key, keys, n, [&](size_t at, uint32_t i) { out[at] = addresses[i]; });
        return out;
    }
    const std::vector<uint32_t> order = stableKeyOrder(key, info, keys, n);
    const unsigned halves = halvesFor(n);
    runParts(halves, [&](unsigned h) {
        for (size_t i = n * h / halves; i < n * (h + 1) / halves; ++i) out[i] = addresses[order[i]];
    });
    return out;
}

// ---- the engine's own order ---------------------------------------------------------

uint32_t recordPointerShift(uint32_t slotsPerPage) {
    return std::max<uint32_t>(4, static_cast<uint32_t>(std::bit_width(slotsPerPage)));
}

RecordAddress recordPointerAt(const File& file, std::string_view bytes, uint64_t at) {
    detail::ByteReader r(bytes);
    const uint32_t raw = r.u32(at);
    if (!r.ok() || raw == 0xFFFFFFFFu) return kNoRecord;
    if (file.info().format->recordPointers == detail::RecordPointers::Offset)
        return file.addressFromPointer(r.swapped32(at));
    const uint32_t shift = recordPointerShift(file.slotsPerPage());
    return file.addressOfSlot(raw >> shift, raw & ((1u << shift) - 1));
}

bool hasDuplicateChains(const File& file, const KeySpec& key) {
    return key.allowsDuplicates() && !(key.flags() & keyflag::RepeatingDuplicates) && key.duplicateOffset != 0 &&
           key.duplicateOffset + 8u <= file.info().physicalRecordLength;
}

namespace {

using Links = std::pair<RecordAddress, RecordAddress>;  // previous, next

// The duplicate-chain links of the record at addr; false when its slot cannot be read.
bool readLinks(const File& file, const KeySpec& key, RecordAddress addr, std::string& slot, Links& out) {
    if (!ok(file.readSlot(addr, slot)) || slot.size() < key.duplicateOffset + 8u) return false;
    out = {recordPointerAt(file, slot, key.duplicateOffset), recordPointerAt(file, slot, key.duplicateOffset + 4u)};
    return true;
}

// orderByChain over links read already: links[k] are members[k]'s.
bool chainOrder(std::vector<RecordAddress>& members, const std::vector<Links>& links) {
    const size_t n = members.size();
    // Usually the chain runs in the order given already.
    bool inOrder = links[0].first == kNoRecord && links[n - 1].second == kNoRecord;
    for (size_t k = 0; inOrder && k + 1 < n; ++k)
        inOrder = links[k].second == members[k + 1] && links[k + 1].first == members[k];
    if (inOrder) return true;
    std::unordered_map<RecordAddress, size_t> member;  // address -> member
    size_t head = 0, heads = 0;
    for (size_t k = 0; k < n; ++k) {
        member.emplace(members[k], k);
        if (links[k].first == kNoRecord) head = k, ++heads;
    }
    if (heads != 1 || member.size() != n) return false;
    std::vector<RecordAddress> chain;
    for (size_t at = head; chain.size() <= n;) {
        chain.push_back(members[at]);
        const RecordAddress next = links[at].second;
        if (next == kNoRecord) break;
        auto it = member.find(next);
        if (it == member.end() || links[it->second].first != members[at]) return false;
        at = it->second;
    }
    if (chain.size() != n) return false;
    members = std::move(chain);
    return true;
}

}  // namespace

bool orderByChain(const File& file, const KeySpec& key, std::vector<RecordAddress>& members) {
    const size_t n = members.size();
    if (n < 2) return true;
    if (!hasDuplicateChains(file, key)) return false;
    std::vector<Links> links(n);
    std::string slot;
    for (size_t k = 0; k < n; ++k)
        if (!readLinks(file, key, members[k], slot, links[k])) return false;
    return chainOrder(members, links);
}

uint64_t dropNullKeys(const KeySpec& key, std::string& keys, std::vector<RecordAddress>& addresses) {
    if (!hasNullValue(key)) return 0;
    const size_t length = key.totalLength();
    size_t kept = 0;
    for (size_t i = 0; i < addresses.size(); ++i) {
        const std::string_view k = std::string_view(keys).substr(i * length, length);
        if (isNullKey(key, k)) continue;
        if (kept != i) {
            std::memmove(keys.data() + kept * length, k.data(), length);
            addresses[kept] = addresses[i];
        }
        ++kept;
    }
    const uint64_t dropped = addresses.size() - kept;
    addresses.resize(kept);
    keys.resize(kept * length);
    return dropped;
}

Status engineKeyOrder(const File& file, const KeySpec& key, std::vector<RecordAddress>& order, uint64_t* leftOut,
                      PassedPages passed) {
    order.clear();
    if (leftOut) *leftOut = 0;
    std::string keys;
    std::vector<RecordAddress> addresses;
    if (Status st = collectKeys(file, key, keys, addresses, passed); !ok(st)) return st;
    const size_t length = key.totalLength();
    const uint64_t dropped = dropNullKeys(key, keys, addresses);
    if (leftOut) *leftOut = dropped;
    if (!hasDuplicateChains(file, key)) {
        order = addressesInKeyOrder(key, file.info(), keys, addresses);
        return Status::Success;
    }
    const std::vector<uint32_t> sorted = stableKeyOrder(key, file.info(), keys, addresses.size());
    const size_t n = sorted.size();
    auto keyAt = [&](size_t i) { return std::string_view(keys).substr(size_t{sorted[i]} * length, length); };
    // Runs of equal keys; the records of runs of two or more have their links
    // read in one pass in physical order (key order would read the pages at random).
    std::vector<std::pair<uint32_t, uint32_t>> runs;  // [begin, end) in sorted
    std::vector<uint8_t> chained(n, 0);               // by physical record
    // Equal bytes are equal keys; for most keys the converse holds too, and
    // neighbours are told apart without a collation.
    const bool bytewise = bytesDecideEquality(key);
    auto same = [&](size_t a, size_t b) {
        const std::string_view ka = keyAt(a), kb = keyAt(b);
        if (ka == kb) return true;
        return !bytewise && compareKeys(key, file.info(), ka, kb) == 0;
    };
    for (size_t i = 0; i < n;) {
        size_t end = i + 1;
        while (end < n && same(i, end)) ++end;
        if (end - i > 1) {
            runs.emplace_back(static_cast<uint32_t>(i), static_cast<uint32_t>(end));
            for (size_t k = i; k < end; ++k) chained[sorted[k]] = 1;
        }
        i = end;
    }
    std::vector<Links> links(n);
    std::vector<uint8_t> read(n, 0);
    const unsigned halves = halvesFor(n);
    runParts(halves, [&](unsigned h) {
        std::string slot;
        for (size_t p = n * h / halves; p < n * (h + 1) / halves; ++p)
            if (chained[p]) read[p] = readLinks(file, key, addresses[p], slot, links[p]);
    });
    order.resize(n);
    for (size_t i = 0; i < n; ++i) order[i] = addresses[sorted[i]];
    std::vector<RecordAddress> members;
    std::vector<Links> memberLinks;
    for (const auto& [begin, end] : runs) {
        members.assign(order.begin() + begin, order.begin() + end);
        memberLinks.clear();
        bool all = true;
        for (size_t k = begin; k < end && all; ++k) {
            all = read[sorted[k]] != 0;
            memberLinks.push_back(links[sorted[k]]);
        }
        if (all && chainOrder(members, memberLinks)) std::copy(members.begin(), members.end(), order.begin() + begin);
    }
    return Status::Success;
}

}  // namespace btrieve
