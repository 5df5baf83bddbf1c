// stableKeyOrder gives exactly the order a stable sort by compareKeys gives, on
// the radix path and off it.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "btrieve/key_order.h"
#include "btrieve/keys.h"
#include "key_order_util.h"

using namespace btrieve;

namespace {

using keyordertest::reference;
using testkeys::keySegment;

}  // namespace

TEST(ScanKeyOrder, SameOrderAsAStableSortByCompareKeys) {
    FileInfo info;
    struct Case {
        const char* what;
        KeySpec key;
        bool radix;
    };
    const uint16_t desc = keyflag::Descending;
    std::vector<Case> cases = {
        {"signed 2", {0, {keySegment(0, 2, DataType::Integer)}}, true},
        {"signed 1", {0, {keySegment(0, 1, DataType::Integer)}}, true},
        {"signed 8", {0, {keySegment(0, 8, DataType::Integer)}}, true},
        {"signed 3 (odd width)", {0, {keySegment(0, 3, DataType::AutoIncrement)}}, true},
        {"signed 1 then unsigned 1 descending",
         {0, {keySegment(0, 1, DataType::Integer), keySegment(1, 1, DataType::UnsignedBinary, desc)}}, true},
        {"unsigned 4 descending", {0, {keySegment(0, 4, DataType::UnsignedBinary, desc)}}, true},
        {"date then signed", {0, {keySegment(0, 4, DataType::Date), keySegment(4, 2, DataType::Integer, desc)}}, true},
        {"text 3 then unsigned 1", {0, {keySegment(0, 3, DataType::String), keySegment(3, 1, DataType::UnsignedBinary)}}, true},
        {"text, case folded", {0, {keySegment(0, 4, DataType::String, keyflag::CaseInsensitive)}}, false},
        {"zstring", {0, {keySegment(0, 4, DataType::ZString)}}, false},
        {"text 12", {0, {keySegment(0, 12, DataType::String)}}, false},
    };
    std::mt19937 rng(7);
    for (const Case& c : cases) {
        EXPECT_EQ(radixSortable(c.key), c.radix) << c.what;
        const size_t len = c.key.totalLength(), n = 3000;
        std::string keys(n * len, '\0');
        // Few distinct byte values, so that there are many duplicates, and the
        // extremes of each byte (sign bits, 0xFF) appear.
        const char alphabet[] = {0, 1, 'a', 'A', 'z', 0x7F, char(0x80), char(0xFF)};
        for (char& ch : keys) ch = alphabet[rng() % sizeof alphabet];
        EXPECT_EQ(stableKeyOrder(c.key, info, keys, n), reference(c.key, info, keys, n)) << c.what;
    }
    // A short key buffer: the missing bytes count as zero, as in compareKeys.
    KeySpec k{0, {keySegment(0, 2, DataType::Integer)}};
    EXPECT_EQ(stableKeyOrder(k, info, std::string("\x01\x00\x00", 3), 2), (std::vector<uint32_t>{1, 0}));
    EXPECT_TRUE(stableKeyOrder(k, info, "", 0).empty());
}

TEST(ScanKeyOrder, LargeInputsSortedInHalvesStayStable) {
    // Past a quarter million keys a short key is counted and placed in two halves
    // at once: a value in both halves must keep the first half's keys first. With
    // cut, the last key is cut short of the buffer's end (the missing bytes count
    // as zero).
    FileInfo info;
    std::mt19937 rng(11);
    for (const size_t cut : {0, 1})
    for (const KeySpec& key : {KeySpec{0, {keySegment(0, 2, DataType::Integer)}},
                               KeySpec{0, {keySegment(0, 1, DataType::UnsignedBinary, keyflag::Descending)}},
                               KeySpec{0, {keySegment(0, 2, DataType::String)}},
                               KeySpec{0, {keySegment(0, 3, DataType::Integer)}}}) {
        const size_t len = key.totalLength(), n = 300001;
        std::string keys(n * len, '\0');
        for (char& ch : keys) ch = static_cast<char>(rng() % 5 == 0 ? 0x80 : rng() % 7);
        keys.resize(keys.size() - cut);
        const std::vector<uint32_t> want = reference(key, info, keys, n);
        EXPECT_EQ(stableKeyOrder(key, info, keys, n), want) << len;
        // The addresses the keys came with, in that order.
        std::vector<RecordAddress> addresses(n);
        for (size_t i = 0; i < n; ++i) addresses[i] = rng() | uint64_t{i} << 32;
        const std::vector<RecordAddress> got = addressesInKeyOrder(key, info, keys, addresses);
        ASSERT_EQ(got.size(), n);
        for (size_t i = 0; i < n; ++i) ASSERT_EQ(got[i], addresses[want[i]]) << len << " at " << i;
    }
}
