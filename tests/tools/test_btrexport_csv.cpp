// btrexport's direct field writer against the general path (decodeField, then the
// value written) and its shortcut for amounts against std::to_chars: the export's
// bytes must not depend on which path a field took.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tools/btrexport_csv.h"

using btrieve::DataType;
using btrieve::FieldDef;

namespace {

std::string viaToChars(double d) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
    return ec == std::errc() ? std::string(buf, end) : std::string();
}

std::string direct(double d) {
    std::string s;
    csvout::appendDouble(s, d);
    return s;
}

}  // namespace

TEST(BtrexportCsvWriter, AmountsReadAsToCharsWritesThem) {
    std::vector<double> values = {0.0, -0.0, 0.01, -0.01, 0.1, 0.5, 1, -1, 10, 99.99, 100, 1000, 2496.41,
                                  -2496.4, 99999, 100000, 123456, 1000000, 1e7, 12345678.9, 1e12,
                                  9999999999999.99, 1e13, 0.3, 0.1 + 0.2, 1.0 / 3, 1e-7, 5e-324, 1e300,
                                  // a hundred times these is a hair off a whole number, or exactly half
                                  // way between two, or at the edge of the amounts written directly
                                  0.29, -0.29, 0.07, 1.15, 2.675, 1.005, 0.005, -0.005, 0.015,
                                  9999999999999.995, 9999999999999.994, -9999999999999.99, 1e13 - 0.5,
                                  std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN()};
    std::mt19937_64 rng(3);
    for (int i = 0; i < 200000; ++i) {
        // Cents of every size, and their neighbours one step away.
        const int64_t cents = static_cast<int64_t>(rng() % 2000000000000ull) / (int64_t(1) << (rng() % 40)) -
                              (i % 2 ? 0 : 1000000);
        const double d = static_cast<double>(cents) / 100.0;
        values.push_back(d);
        if (i % 7 == 0) values.push_back(std::nextafter(d, 1e300));
    }
    for (double d : values) ASSERT_EQ(direct(d), viaToChars(d)) << d;
}

TEST(BtrexportCsvWriter, DirectFieldsMatchTheGeneralPath) {
    // Random bytes for every type the writer handles itself, at widths it takes and
    // refuses, including fields reaching past a short record.
    struct Shape {
        DataType type;
        std::vector<uint32_t> lengths;
    };
    const std::vector<Shape> shapes = {
        {DataType::String, {1, 3, 4, 7, 8, 9, 15, 16, 17, 31, 32, 33, 115}}, {DataType::OldString, {3}}, {DataType::ZString, {1, 8, 9, 16, 17}},
        {DataType::Integer, {1, 2, 3, 4, 8}},      {DataType::AutoIncrement, {2, 4}},
        {DataType::UnsignedBinary, {1, 3, 8, 9}},  {DataType::Float, {4, 8, 6}},
        {DataType::Date, {4, 3}},                  {DataType::Logical, {1, 2, 3}},
        {DataType::Money, {8}},                    {DataType::Time, {4}},
        {DataType::LString, {10}}};
    std::mt19937 rng(5);
    const char alphabet[] = {' ', '\0', 'a', ',', '"', '\r', '\n', char(0x80), char(0x81), char(0xE9), char(0xFF), 1, 12, 31};
    int compared = 0;
    for (const Shape& sh : shapes) {
        for (uint32_t length : sh.lengths) {
            for (int round = 0; round < 400; ++round) {
                std::string rec(40 + length, '\0');
                for (char& c : rec)
                    c = round % 2 ? static_cast<char>(rng()) : alphabet[rng() % sizeof alphabet];
                if (sh.type == DataType::Date && round % 3 == 0) {  // real dates, some impossible
                    rec[20] = static_cast<char>(1 + rng() % 31);
                    rec[21] = static_cast<char>(1 + rng() % 13);
                    const uint16_t year = static_cast<uint16_t>(rng() % 3 == 0 ? 0 : 1 + rng() % 10000);
                    rec[22] = static_cast<char>(year & 0xFF);
                    rec[23] = static_cast<char>(year >> 8);
                }
                const uint32_t offset = round % 5 == 0 ? 38 : 20;  // past the end now and then
                if (round % 7 == 3 || round % 7 == 4) {
                    // Blanks and zeros only (an unused field), or a field that is
                    // blank but for one byte somewhere after its first bytes.
                    for (uint32_t i = offset; i < rec.size(); ++i) rec[i] = rng() % 2 ? ' ' : '\0';
                    if (round % 7 == 4 && length > 1)
                        rec[offset + 1 + rng() % (length - 1)] = alphabet[2 + rng() % (sizeof alphabet - 2)];
                }
                const FieldDef f{"f", sh.type, offset, length};
                const std::string_view view(rec);
                const std::string_view cut = round % 11 == 0 ? view.substr(0, 10) : view;
                std::string a, b;
                btrieve::Value v1, v2;
                const btrieve::Status sa = csvout::appendField(a, f, cut, v1);
                const btrieve::Status sb = btrieve::decodeField(f, cut, v2);
                if (btrieve::ok(sb)) csvout::appendValue(b, v2);
                ASSERT_EQ(sa, sb) << static_cast<int>(sh.type) << " " << length;
                ASSERT_EQ(a, b) << static_cast<int>(sh.type) << " " << length;
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 1000);
}

namespace {

// Rows of fields over random records, some cut short, against the fields
// appendField gives one by one: comma-separated, CRLF-ended, and where a field
// fails, stopped after the fields before it with the same status. All rows go to
// one buffer, so that it grows many times over. Returns how many rows failed.
int compareRows(const std::vector<FieldDef>& fields, size_t recordLength, unsigned seed) {
    const csvout::RowWriter writer(fields);
    csvout::Buffer all;
    std::string expected;
    std::mt19937 rng(seed);
    const char alphabet[] = {' ', '\0', 'a', 'Z', ',', '"', '\r', '\n', char(0xE9), char(0x9D), '7'};
    int failed = 0;
    for (int round = 0; round < 5000; ++round) {
        std::string rec(recordLength, '\0');
        for (char& c : rec) c = round % 3 ? alphabet[rng() % sizeof alphabet] : static_cast<char>(rng());
        if (round % 4 == 0) {  // plain amounts and dates, as a ledger holds them
            const double amount = static_cast<double>(static_cast<int64_t>(rng() % 2000000) - 1000000) / 100.0;
            std::memcpy(rec.data() + 34, &amount, 8);
            const char date[4] = {static_cast<char>(1 + rng() % 28), static_cast<char>(1 + rng() % 12), char(0xD2), 7};
            std::memcpy(rec.data() + 46, date, 4);
        }
        const std::string_view view =
            round % 13 == 0 ? std::string_view(rec).substr(0, rng() % recordLength) : std::string_view(rec);
        std::string want;
        btrieve::Status wantStatus = btrieve::Status::Success;
        btrieve::Value v;
        for (size_t f = 0; f < fields.size() && btrieve::ok(wantStatus); ++f) {
            if (f) want += ',';
            wantStatus = csvout::appendField(want, fields[f], view, v);
        }
        if (btrieve::ok(wantStatus)) want += "\r\n";
        else ++failed;
        const btrieve::Status got = writer.append(all, view, v);
        EXPECT_EQ(got, wantStatus) << round;
        expected += want;
        EXPECT_EQ(all.view(), expected) << round;
        if (all.view() != expected) break;
    }
    return failed;
}

}  // namespace

TEST(BtrexportCsvWriter, RowsAreTheFieldsJoinedAndStopAtAFieldThatFails) {
    // Every kind the row writer handles itself and some it leaves to decodeField.
    const std::vector<FieldDef> mixed = {
        {"a", DataType::String, 0, 9},        {"b", DataType::ZString, 9, 12},
        {"c", DataType::Integer, 21, 2},      {"d", DataType::Integer, 23, 8},
        {"e", DataType::UnsignedBinary, 31, 3}, {"f", DataType::Float, 34, 8},
        {"g", DataType::Float, 42, 4},        {"h", DataType::Date, 46, 4},
        {"i", DataType::Logical, 50, 1},      {"j", DataType::Money, 51, 8},
        {"k", DataType::Time, 59, 4},         {"l", DataType::String, 63, 115},
        {"n", DataType::LString, 181, 10},
    };
    const int failed = compareRows(mixed, 191, 9);
    EXPECT_GT(failed, 0);
    EXPECT_LT(failed, 5000);
    // Only kinds written straight from the record's bytes (a row of them takes a
    // path of its own while the record holds every field), one-byte text and
    // integers of each width among them.
    const std::vector<FieldDef> direct = {
        {"a", DataType::String, 0, 1},         {"b", DataType::ZString, 1, 9},
        {"c", DataType::Integer, 10, 2},       {"d", DataType::Integer, 12, 1},
        {"e", DataType::Integer, 13, 4},       {"f", DataType::Integer, 17, 8},
        {"g", DataType::AutoIncrement, 25, 2}, {"h", DataType::UnsignedBinary, 27, 2},
        {"i", DataType::String, 29, 1},        {"j", DataType::Float, 34, 8},
        {"k", DataType::Float, 42, 4},         {"l", DataType::Date, 46, 4},
        {"m", DataType::Logical, 50, 1},       {"n", DataType::String, 51, 31},
        {"o", DataType::String, 82, 115},      {"p", DataType::OldString, 197, 1},
    };
    EXPECT_LT(compareRows(direct, 198, 10), 5000);
}
