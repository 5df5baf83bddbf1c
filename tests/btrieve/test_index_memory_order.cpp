// The in-memory index's order: long text keys sorted by their leading bytes give
// exactly a stable sort by compareKeys, and duplicates put in chain order on first
// use come out the same however a value is first entered (from the front, from
// the back, by a seek, from several threads at once).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "btrieve/file.h"
#include "btrieve/index.h"
#include "btrieve/key_order.h"
#include "btrieve/keys.h"
#include "key_order_util.h"
#include "btrieve/writer.h"
#include "test_file_util.h"

using namespace btrieve;
using filetest::TempDir;

namespace {

using keyordertest::reference;
using testkeys::keySegment;

// Text of a few shapes that defeat a prefix: long shared heads, lengths around
// eight and sixteen, empty texts, texts filling the whole segment, and bytes
// after a zero terminator that must not count.
std::string text(std::mt19937& rng, size_t length, bool zeroEnded) {
    static const char* heads[] = {"", "CUSTOMER", "CUSTOMER0000", "CUST", "ABCDEFGHIJKLMNOPQRS"};
    std::string s = heads[rng() % 5];
    const size_t tail = rng() % 6;
    for (size_t i = 0; i < tail; ++i) s += static_cast<char>('0' + rng() % 3);
    if (s.size() > length) s.resize(length);
    std::string out = s;
    if (zeroEnded) {
        if (out.size() < length) out += '\0';
        while (out.size() < length) out += static_cast<char>(rng() % 2 ? 'Z' : '\0');
    } else {
        out.resize(length, ' ');
    }
    return out;
}

}  // namespace

TEST(IndexMemoryKeyOrder, LongTextAndPackedShortKeysSortLikeCompareKeys) {
    FileInfo info;
    std::mt19937 rng(11);
    struct Case {
        const char* what;
        KeySpec key;
    };
    const std::vector<Case> cases = {
        {"zstring 21", {0, {keySegment(0, 21, DataType::ZString)}}},
        {"zstring 9", {0, {keySegment(0, 9, DataType::ZString)}}},
        {"zstring 16", {0, {keySegment(0, 16, DataType::ZString)}}},
        {"string 12 then descending integer",
         {0, {keySegment(0, 12, DataType::String), keySegment(12, 2, DataType::Integer, keyflag::Descending)}}},
        {"zstring 20 then unsigned", {0, {keySegment(0, 20, DataType::ZString), keySegment(20, 1, DataType::UnsignedBinary)}}},
        {"integer 2", {0, {keySegment(0, 2, DataType::Integer)}}},
        {"autoincrement 3", {0, {keySegment(0, 3, DataType::AutoIncrement)}}},
        {"unsigned 4 descending", {0, {keySegment(0, 4, DataType::UnsignedBinary, keyflag::Descending)}}},
    };
    // Small sets take eight-bit digits, large ones sixteen.
    for (const size_t n : {size_t{0}, size_t{1}, size_t{300}, size_t{70'000}}) {
        for (const Case& c : cases) {
            std::string keys;
            for (size_t i = 0; i < n; ++i) {
                for (const KeySegment& s : c.key.segments) {
                    const bool isText = s.type == DataType::String || s.type == DataType::ZString;
                    if (isText) {
                        keys += text(rng, s.length, s.type == DataType::ZString);
                    } else {
                        // Few distinct numbers, so that ties are common.
                        for (uint16_t b = 0; b < s.length; ++b)
                            keys += static_cast<char>(b == 0 ? rng() % 7 : (rng() % 4 == 0 ? 0x80 : 0));
                    }
                }
            }
            EXPECT_EQ(stableKeyOrder(c.key, info, keys, n), reference(c.key, info, keys, n))
                << c.what << ", " << n << " keys";
        }
    }
}

namespace {

// Records of 16 bytes: u32 serial (unique, key 0), u16 group (key 1, duplicates).
std::vector<std::string> records(uint32_t n) {
    std::vector<std::string> out;
    for (uint32_t i = 0; i < n; ++i) {
        std::string r(16, '\0');
        const uint32_t serial = i * 7 + 3;
        const uint16_t group = static_cast<uint16_t>((i * i) % 23);
        std::memcpy(r.data(), &serial, 4);
        std::memcpy(r.data() + 4, &group, 2);
        out.push_back(r);
    }
    return out;
}

WriterOptions options() {
    WriterOptions o;
    o.pageSize = 4096;
    o.recordLength = 16;
    o.keys = {{{keySegment(0, 4, DataType::UnsignedBinary)}}, {{keySegment(4, 2, DataType::Integer, keyflag::Duplicates)}}};
    return o;
}

// The bytes of a written 6.x file, with the offset in the file of a record's slot.
struct Bytes6 {
    std::string bytes;
    uint32_t ps = 0;
    uint32_t u16(size_t o) const { return uint8_t(bytes[o]) | uint8_t(bytes[o + 1]) << 8; }
    uint32_t u32(size_t o) const { return u16(o) | u16(o + 2) << 16; }
    static uint32_t pageId(const std::string& b, size_t o) {
        return uint32_t(uint8_t(b[o])) << 16 | uint8_t(b[o + 3]) << 8 | uint8_t(b[o + 2]);
    }
    // Page-table pair g at physical page 2 + g * ps / 4 maps logical pages
    // g * E + 1 ... (g + 1) * E, E = ps / 4 - 2; the newer copy of the pair wins.
    size_t page(uint32_t logical) const {
        const uint32_t per = ps / 4 - 2, g = (logical - 1) / per;
        const size_t first = (2 + size_t(g) * (ps / 4)) * ps;
        const size_t pat = u32(first + 4) >= u32(first + ps + 4) ? first : first + ps;
        return size_t(pageId(bytes, pat + 4 + 4 * (logical - g * per))) * ps;
    }
    size_t slot(RecordAddress a) const { return page(File::addressPage(a)) + File::addressOffset(a); }
    uint32_t pointer(RecordAddress a) const { return File::addressPage(a) * ps + File::addressOffset(a); }
};

std::shared_ptr<const File> openShared(const std::string& path) {
    std::unique_ptr<File> f;
    EXPECT_EQ(File::open(path, f), Status::Success) << path;
    return std::shared_ptr<const File>(std::move(f));
}

std::unique_ptr<KeyIndex> memoryIndex(const std::shared_ptr<const File>& f, int key) {
    std::unique_ptr<KeyIndex> idx;
    EXPECT_EQ(makeMemoryIndex(f, f->info().keys.at(key), idx), Status::Success);
    return idx;
}

// (key, address) from one end to the other.
std::vector<std::pair<std::string, RecordAddress>> walk(const KeyIndex& index, bool forward) {
    std::vector<std::pair<std::string, RecordAddress>> out;
    std::unique_ptr<IndexCursor> c;
    for (Status st = forward ? index.first(c) : index.last(c); ok(st) && out.size() < 100'000;
         st = forward ? c->next() : c->previous())
        out.emplace_back(std::string(c->key()), c->address());
    if (!forward) std::reverse(out.begin(), out.end());
    return out;
}

}  // namespace

TEST(IndexMemoryDuplicates, ChainOrderIsTheSameHoweverAValueIsFirstEntered) {
    TempDir dir;
    const std::string path = dir.file("groups.dat");
    ASSERT_EQ(writeFile(path, options(), records(600)), Status::Success);
    const int key = 1;
    auto original = openShared(path);
    ASSERT_TRUE(original);
    const uint32_t dupAt = original->info().keys[key].duplicateOffset;
    ASSERT_GT(dupAt, 0u);

    // The values' records in physical order, as the written chains run.
    std::map<std::string, std::vector<RecordAddress>> values;
    for (const auto& [k, a] : walk(*memoryIndex(original, key), true)) values[k].push_back(a);
    ASSERT_GE(values.size(), 5u);

    // Reverse every value's chain but two: the first stays as written (settled
    // before any value needs reordering), and the third's chain is cut in two.
    Bytes6 b{filetest::readAll(path), 0};
    b.ps = b.u16(0x08);
    const std::string keptValue = values.begin()->first;
    const std::string cutValue = std::next(values.begin(), 2)->first;
    std::vector<std::pair<std::string, RecordAddress>> expected;
    for (auto& [k, addrs] : values) {
        ASSERT_GE(addrs.size(), 3u);
        if (k == keptValue) {
            for (RecordAddress a : addrs) expected.emplace_back(k, a);
            continue;
        }
        std::vector<RecordAddress> chain(addrs.rbegin(), addrs.rend());
        for (size_t i = 0; i < chain.size(); ++i) {
            const size_t s = b.slot(chain[i]);
            filetest::putSwapped32(b.bytes, s + dupAt, i == 0 ? 0xFFFFFFFFu : b.pointer(chain[i - 1]));
            filetest::putSwapped32(b.bytes, s + dupAt + 4,
                                   i + 1 == chain.size() ? 0xFFFFFFFFu : b.pointer(chain[i + 1]));
        }
        if (k == cutValue) filetest::putSwapped32(b.bytes, b.slot(chain[1]) + dupAt + 4, 0xFFFFFFFFu);
        for (RecordAddress a : k == cutValue ? addrs : chain) expected.emplace_back(k, a);
    }
    auto f = openShared(dir.put("reversed.dat", b.bytes));
    ASSERT_TRUE(f);

    EXPECT_EQ(walk(*memoryIndex(f, key), true), expected) << "from the front";
    EXPECT_EQ(walk(*memoryIndex(f, key), false), expected) << "from the back";
    // Walked again once every value is settled, the kept one included.
    auto again = memoryIndex(f, key);
    walk(*again, true);
    EXPECT_EQ(walk(*again, false), expected) << "settled";

    // By seeks on a fresh index: each value entered at its first record, or from
    // the record after it walking back, before anything else was read.
    for (const bool fromAfter : {false, true}) {
        auto idx = memoryIndex(f, key);
        for (const auto& [k, addrs] : values) {
            std::vector<RecordAddress> got;
            std::unique_ptr<IndexCursor> c;
            if (fromAfter) {
                Status st = idx->upperBound(k, 1, c);
                if (ok(st)) st = c->previous();
                else st = idx->last(c);
                for (; ok(st) && c->key() == k; st = c->previous()) got.insert(got.begin(), c->address());
            } else {
                for (Status st = idx->lowerBound(k, 1, c); ok(st) && c->key() == k; st = c->next())
                    got.push_back(c->address());
            }
            std::vector<RecordAddress> want;
            for (const auto& [ek, a] : expected)
                if (ek == k) want.push_back(a);
            EXPECT_EQ(got, want) << (fromAfter ? "entered from after" : "entered by a seek");
        }
    }

    // One index, first used by several threads at once.
    auto shared = memoryIndex(f, key);
    std::vector<std::vector<std::pair<std::string, RecordAddress>>> seen(4);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < seen.size(); ++t)
        threads.emplace_back([&, t] { seen[t] = walk(*shared, t % 2 == 0); });
    for (auto& t : threads) t.join();
    for (const auto& s : seen) EXPECT_EQ(s, expected) << "concurrent first use";
}
