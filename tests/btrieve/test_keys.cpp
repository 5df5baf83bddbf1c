#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "btrieve/keys.h"
#include "memory_source.h"

using namespace btrieve;
using namespace btrieve::testing;

namespace {

std::string le(int64_t v, size_t width) { return RecordBuilder(width).integer(0, v, width); }
std::string dbl(double v) { return RecordBuilder(8).real(0, v); }
std::string date(int y, int m, int d) { return RecordBuilder(4).date(0, y, m, d); }

int cmp(const KeySegment& seg, std::string_view a, std::string_view b, const FileInfo& info = {}) {
    return compareKeys(keyOf(0, {seg}), info, a, b);
}

TEST(ExtractKey, ConcatenatesSegmentsAndZeroFillsPastTheRecord) {
    const KeySpec key = keyOf(0, {keySegment(4, 2, DataType::String), keySegment(0, 3, DataType::String)});
    EXPECT_EQ(extractKey(key, "abcdef"), "efabc");
    EXPECT_EQ(extractKey(key, "abcde"), std::string("e\0abc", 5));
    EXPECT_EQ(extractKey(key, ""), std::string(5, '\0'));
}

TEST(CompareKeys, NumbersCompareByValueNotByBytes) {
    const auto i2 = keySegment(0, 2, DataType::Integer);
    EXPECT_LT(cmp(i2, le(-1, 2), le(1, 2)), 0);
    EXPECT_LT(cmp(i2, le(-25536, 2), le(-1, 2)), 0);
    EXPECT_GT(cmp(i2, le(256, 2), le(1, 2)), 0);
    EXPECT_LT(cmp(keySegment(0, 4, DataType::AutoIncrement), le(-615634567, 4), le(3444, 4)), 0);
    EXPECT_LT(cmp(keySegment(0, 3, DataType::Integer), le(-2, 3), le(5, 3)), 0);  // odd width
    for (DataType unsignedType : {DataType::UnsignedBinary, DataType::OldBinary}) {
        EXPECT_GT(cmp(keySegment(0, 2, unsignedType), le(256, 2), le(1, 2)), 0);
        EXPECT_GT(cmp(keySegment(0, 2, unsignedType), le(0xFFFF, 2), le(1, 2)), 0);
    }
    const auto f8 = keySegment(0, 8, DataType::Float);
    EXPECT_LT(cmp(f8, dbl(-1.5), dbl(0)), 0);
    EXPECT_LT(cmp(f8, dbl(-2.5), dbl(-1.5)), 0);
    EXPECT_EQ(cmp(f8, dbl(-0.0), dbl(0.0)), 0);
    EXPECT_GT(cmp(f8, dbl(1e300), dbl(2)), 0);
    // Dates by year, then month, then day, though the day is stored first.
    EXPECT_LT(cmp(keySegment(0, 4, DataType::Date), date(2019, 12, 31), date(2020, 1, 1)), 0);
    EXPECT_LT(cmp(keySegment(0, 4, DataType::Date), date(2020, 1, 31), date(2020, 2, 1)), 0);
    EXPECT_LT(cmp(keySegment(0, 3, DataType::Money), std::string("\x00\x05\x0D", 3), std::string("\x00\x01\x0C", 3)), 0);  // -0.05 < 0.01
}

TEST(CompareKeys, TextKindsCollateAsTheirTypeRequires) {
    EXPECT_LT(cmp(keySegment(0, 4, DataType::String), "AB  ", "ABC "), 0);
    EXPECT_LT(cmp(keySegment(0, 4, DataType::String), "Z   ", "a   "), 0);  // bytes: upper before lower
    EXPECT_GT(cmp(keySegment(0, 2, DataType::String), "\xE9 ", "z "), 0);   // unsigned bytes
    const auto z = keySegment(0, 5, DataType::ZString);
    EXPECT_EQ(cmp(z, std::string("AB\0xy", 5), std::string("AB\0qq", 5)), 0);  // after the zero: ignored
    EXPECT_LT(cmp(z, std::string("AB\0\0\0", 5), std::string("ABC\0\0", 5)), 0);
    EXPECT_EQ(cmp(z, "ABCDE", "ABCDE"), 0);
    const auto l = keySegment(0, 5, DataType::LString);
    EXPECT_LT(cmp(l, "\x02" "ABzz", "\x03" "ABC\0"), 0);
    EXPECT_EQ(cmp(l, "\x02" "ABzz", "\x02" "ABqq"), 0);
}

TEST(CompareKeys, CaseFoldingAcsAndDescending) {
    const auto nocase = keySegment(0, 3, DataType::String, keyflag::CaseInsensitive);
    EXPECT_EQ(cmp(nocase, "abc", "ABC"), 0);
    EXPECT_LT(cmp(nocase, "abc", "ABD"), 0);

    FileInfo info;
    AcsTable reversed;
    for (int i = 0; i < 256; ++i) reversed[static_cast<size_t>(i)] = static_cast<uint8_t>(255 - i);
    info.acsTables.push_back(reversed);
    auto acs = keySegment(0, 3, DataType::ZString, keyflag::Acs | keyflag::CaseInsensitive);
    acs.acs = 0;
    EXPECT_GT(cmp(acs, std::string("A\0\0", 3), std::string("B\0\0", 3), info), 0);  // table, not case folding
    EXPECT_LT(cmp(acs, std::string("A\0\0", 3), std::string("AB\0", 3), info), 0);   // end still sorts first
    acs.acs = 5;  // no such table: plain bytes
    EXPECT_LT(cmp(acs, std::string("A\0\0", 3), std::string("B\0\0", 3), info), 0);

    // Two segments: ascending name, then descending integer.
    const KeySpec mixed = keyOf(0, {keySegment(0, 2, DataType::String),
                                    keySegment(2, 2, DataType::Integer, keyflag::Descending)});
    std::vector<std::string> keys = {"AA" + le(1, 2), "AB" + le(1, 2), "AA" + le(5, 2), "AA" + le(-3, 2)};
    std::sort(keys.begin(), keys.end(),
              [&](const std::string& a, const std::string& b) { return compareKeys(mixed, info, a, b) < 0; });
    EXPECT_EQ(keys, (std::vector<std::string>{"AA" + le(5, 2), "AA" + le(1, 2), "AA" + le(-3, 2), "AB" + le(1, 2)}));
}

TEST(KeyValues, PaddingFollowsTheSegmentTypeAndShortValuesCompareAsZero) {
    const KeySpec zs = keyOf(0, {keySegment(0, 5, DataType::ZString)});
    EXPECT_EQ(padKeyValue(zs, "AB"), std::string("AB\0\0\0", 5));
    EXPECT_EQ(padKeyValue(zs, "ABCDEFG"), "ABCDE");
    const KeySpec two = keyOf(0, {keySegment(0, 3, DataType::String), keySegment(3, 2, DataType::Integer)});
    EXPECT_EQ(padKeyValue(two, "A"), std::string("A  \0\0", 5));
    EXPECT_EQ(compareKeys(zs, {}, "AB", std::string("AB\0\0\0", 5)), 0);
    EXPECT_EQ(leadingSegments(two, 1).totalLength(), 3u);
}

}  // namespace
