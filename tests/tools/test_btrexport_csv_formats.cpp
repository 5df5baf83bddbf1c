// Each CSV field format pinned to its bytes, through both of the export's paths
// (straight from the record and from the decoded value). This file is built twice:
// as it stands, and with CSVOUT_PORTABLE, which leaves out the 128-bit and SSE2
// paths; both builds must give these bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "tools/btrexport_csv.h"

#if defined(CSVOUT_PORTABLE) && (defined(CSVOUT_SSE2) || defined(CSVOUT_INT128))
#error "CSVOUT_PORTABLE must leave out the SSE2 and 128-bit paths"
#endif

using btrieve::DataType;
using btrieve::FieldDef;

namespace {

// The field as the direct path writes it, after checking the general path agrees.
std::string both(DataType type, std::string bytes) {
    const FieldDef f{"f", type, 0, static_cast<uint32_t>(bytes.size())};
    std::string direct, general;
    btrieve::Value v;
    EXPECT_TRUE(btrieve::ok(csvout::appendField(direct, f, bytes, v)));
    EXPECT_TRUE(btrieve::ok(btrieve::decodeField(f, bytes, v)));
    csvout::appendValue(general, v);
    EXPECT_EQ(direct, general);
    return direct;
}

template <class T>
std::string le(T v) {
    std::string s(sizeof v, '\0');
    std::memcpy(s.data(), &v, sizeof v);
    return s;
}

std::string value(const btrieve::Value& v) {
    std::string s;
    csvout::appendValue(s, v);
    return s;
}

}  // namespace

TEST(CsvFieldFormats, IntegersOfEveryDigitCount) {
    EXPECT_EQ(both(DataType::Integer, le<int16_t>(-32768)), "-32768");
    EXPECT_EQ(both(DataType::Integer, le<int8_t>(-7)), "-7");
    uint64_t v = 1;
    for (int digits = 1; digits <= 20; ++digits, v *= 10) {
        // 10^k, and 10^(k+1) - 1: every digit count, on the fast paths and past them.
        EXPECT_EQ(both(DataType::UnsignedBinary, le<uint64_t>(v)), std::to_string(v));
        const uint64_t nines = digits == 20 ? std::numeric_limits<uint64_t>::max() : v * 10 - 1;
        EXPECT_EQ(both(DataType::UnsignedBinary, le<uint64_t>(nines)), std::to_string(nines));
        EXPECT_EQ(both(DataType::Integer, le<int64_t>(-static_cast<int64_t>(v / 10 + 1234567 % (v + 1)))),
                  std::to_string(-static_cast<int64_t>(v / 10 + 1234567 % (v + 1))));
    }
    EXPECT_EQ(both(DataType::Integer, le<int64_t>(std::numeric_limits<int64_t>::min())), "-9223372036854775808");
    EXPECT_EQ(both(DataType::Integer, le<int32_t>(-2147483647 - 1)), "-2147483648");
    EXPECT_EQ(both(DataType::UnsignedBinary, le<uint32_t>(4000000000u)), "4000000000");
}

TEST(CsvFieldFormats, DatesTimesAmountsAndLogicals) {
    EXPECT_EQ(both(DataType::Date, std::string("\x1D\x02\xD0\x07", 4)), "2000-02-29");
    EXPECT_EQ(both(DataType::Date, std::string("\x01\x01\x01\x00", 4)), "0001-01-01");
    EXPECT_EQ(both(DataType::Date, std::string("\x1D\x02\xD1\x07", 4)), "");  // no such day
    EXPECT_EQ(value(btrieve::Time{9, 5, 7, 0}), "09:05:07");
    EXPECT_EQ(value(btrieve::Time{23, 59, 59, 4}), "23:59:59.04");
    EXPECT_EQ(both(DataType::Time, std::string("\x00\x02\x03\x01", 4)), "01:03:02");
    EXPECT_EQ(both(DataType::Float, le<double>(-2496.4)), "-2496.4");
    EXPECT_EQ(both(DataType::Float, le<double>(100000)), "1e+05");
    EXPECT_EQ(both(DataType::Float, le<float>(0.5f)), "0.5");
    EXPECT_EQ(both(DataType::Logical, std::string("\x00\x01", 2)), "1");
    EXPECT_EQ(value(btrieve::NoDate{}), "");
}

TEST(CsvFieldFormats, TextOfEveryLengthTrimmedConvertedAndQuoted) {
    for (size_t n = 1; n <= 40; ++n) {
        std::string plain(n, ' ');
        for (size_t i = 0; i + 1 < n; i += 2) plain[i] = static_cast<char>('a' + i % 26);
        std::string want = plain.substr(0, plain.find_last_not_of(' ') + 1);
        if (plain.find_last_not_of(' ') == std::string::npos) want.clear();
        EXPECT_EQ(both(DataType::String, plain), want) << n;
    }
    EXPECT_EQ(both(DataType::String, std::string(33, ' ')), "");
    EXPECT_EQ(both(DataType::String, "Smith, Jones & Co.  " + std::string(12, '\0')), "\"Smith, Jones & Co.\"");
    EXPECT_EQ(both(DataType::String, "say \"hi\"          x      "), "\"say \"\"hi\"\"          x\"");
    EXPECT_EQ(both(DataType::String, "Caf\xE9 \x80 line\r\nnext          "), "\"Caf\xC3\xA9 \xE2\x82\xAC line\r\nnext\"");
    EXPECT_EQ(both(DataType::ZString, std::string("abcdefghij\0zz", 13)), "abcdefghij");
}
