#include <gtest/gtest.h>

#include "btrieve/value.h"
#include "memory_source.h"

using namespace btrieve;
using btrieve::testing::RecordBuilder;

namespace {

Value decode(DataType type, std::string_view bytes, Status expected = Status::Success) {
    Value v;
    EXPECT_EQ(decodeField({"f", type, 0, static_cast<uint32_t>(bytes.size())}, bytes, v), expected);
    return v;
}
std::string text(DataType type, std::string_view bytes) { return std::get<std::string>(decode(type, bytes)); }
std::string raw(std::initializer_list<int> b) {
    std::string s;
    for (int c : b) s.push_back(static_cast<char>(c));
    return s;
}

TEST(DecodeText, ZStringStopsAtFirstZeroOrTakesTheFullField) {
    EXPECT_EQ(text(DataType::ZString, std::string("TX\0Z", 4)), "TX");  // bytes after the zero ignored
    EXPECT_EQ(text(DataType::ZString, std::string("\0ABC", 4)), "");
    EXPECT_EQ(text(DataType::ZString, "ABC"), "ABC");  // full field, no terminator

    // A customer's BillState (3 bytes at 1033) within a whole record.
    const std::string rec = RecordBuilder(2790).text(1033, "NY").text(1036, "10001");
    Value v;
    ASSERT_EQ(decodeField({"BillState", DataType::ZString, 1033, 3}, rec, v), Status::Success);
    EXPECT_EQ(std::get<std::string>(v), "NY");
}

TEST(DecodeText, StringDropsPaddingAndLStringIsBoundedByTheField) {
    EXPECT_EQ(text(DataType::String, "AB C   "), "AB C");
    EXPECT_EQ(text(DataType::String, "   "), "");
    EXPECT_EQ(text(DataType::LString, raw({3, 'a', 'b', 'c', 'x'})), "abc");
    EXPECT_EQ(text(DataType::LString, raw({200, 'a', 'b'})), "ab");  // length byte beyond the field
    EXPECT_EQ(text(DataType::String, "\xE9t\xE9"), "\xE9t\xE9");     // Windows-1252 bytes kept
}

TEST(DecodeNumber, IntegerWidthDecidesTheSign) {
    const std::string n40000 = RecordBuilder(4).integer(0, 40000, 4);
    EXPECT_EQ(std::get<int64_t>(decode(DataType::Integer, n40000.substr(0, 2))), -25536);
    EXPECT_EQ(std::get<int64_t>(decode(DataType::Integer, n40000)), 40000);
    EXPECT_EQ(std::get<int64_t>(decode(DataType::Integer, raw({0xFF}))), -1);
    EXPECT_EQ(std::get<int64_t>(decode(DataType::AutoIncrement, raw({0x01, 0x02}))), 0x0201);
    EXPECT_EQ(std::get<int64_t>(decode(DataType::Integer, RecordBuilder(8).integer(0, INT64_MIN, 8).str())),
              INT64_MIN);
    decode(DataType::Integer, "abc", Status::UnsupportedLayout);
    EXPECT_EQ(std::get<uint64_t>(decode(DataType::UnsignedBinary, raw({0xFF, 0xFF}))), 65535u);
}

TEST(DecodeNumber, FloatsAndBasicFloats) {
    EXPECT_DOUBLE_EQ(std::get<double>(decode(DataType::Float, RecordBuilder(8).real(0, -12.5).str())), -12.5);
    float f = 0.25f;
    EXPECT_DOUBLE_EQ(std::get<double>(decode(DataType::Float, std::string(reinterpret_cast<char*>(&f), 4))), 0.25);
    decode(DataType::Float, "abc", Status::UnsupportedLayout);
    EXPECT_DOUBLE_EQ(std::get<double>(decode(DataType::BFloat, raw({0, 0, 0, 0x81}))), 1.0);
    EXPECT_DOUBLE_EQ(std::get<double>(decode(DataType::BFloat, raw({0, 0, 0x80, 0x81}))), -1.0);
    EXPECT_DOUBLE_EQ(std::get<double>(decode(DataType::BFloat, raw({0, 0, 0x20, 0x83}))), 5.0);
    EXPECT_DOUBLE_EQ(std::get<double>(decode(DataType::BFloat, raw({9, 9, 9, 0}))), 0.0);
}

TEST(DecodeNumber, PackedAndNumericDecimals) {
    EXPECT_DOUBLE_EQ(std::get<double>(decode(DataType::Money, raw({0x01, 0x23, 0x45, 0x6C}))), 1234.56);
    EXPECT_DOUBLE_EQ(std::get<double>(decode(DataType::Money, raw({0x00, 0x12, 0x5D}))), -1.25);
    EXPECT_DOUBLE_EQ(std::get<double>(decode(DataType::Decimal, raw({0x12, 0x5B}))), -125);
    EXPECT_DOUBLE_EQ(std::get<double>(decode(DataType::Decimal, raw({0x12, 0x5F}))), 125);
    decode(DataType::Money, raw({0x1A, 0x5C}), Status::Corrupt);  // digit nibble above 9
    decode(DataType::Money, raw({0x12, 0x34}), Status::Corrupt);  // no sign nibble
    EXPECT_DOUBLE_EQ(std::get<double>(decode(DataType::Numeric, "0012{")), 120);
    EXPECT_DOUBLE_EQ(std::get<double>(decode(DataType::Numeric, " 12J")), -121);
    EXPECT_DOUBLE_EQ(std::get<double>(decode(DataType::Numeric, "0042")), 42);
    decode(DataType::Numeric, "1X2", Status::Corrupt);
}

TEST(DecodeDate, ValidDatesAndImpossibleOnes) {
    EXPECT_EQ(std::get<Date>(decode(DataType::Date, raw({22, 1, 0xE2, 0x07}))), (Date{2018, 1, 22}));
    EXPECT_EQ(std::get<Date>(decode(DataType::Date, raw({29, 2, 0xE8, 0x07}))), (Date{2024, 2, 29}));
    for (const std::string& bad : {raw({0, 0, 0, 0}), raw({1, 13, 0xE8, 0x07}), raw({32, 1, 0xE8, 0x07}),
                                   raw({30, 2, 0xE8, 0x07}), raw({29, 2, 0xE7, 0x07}), raw({31, 4, 0xE8, 0x07}),
                                   raw({1, 1, 0, 0}), raw({0, 5, 0xE8, 0x07})})
        EXPECT_TRUE(std::holds_alternative<NoDate>(decode(DataType::Date, bad)));
    EXPECT_EQ(std::get<Time>(decode(DataType::Time, raw({50, 30, 15, 23}))), (Time{23, 15, 30, 50}));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(decode(DataType::Time, raw({0, 0, 60, 1}))));
    EXPECT_TRUE(std::get<bool>(decode(DataType::Logical, raw({0, 1}))));
    EXPECT_FALSE(std::get<bool>(decode(DataType::Logical, raw({0}))));
}

TEST(DecodeBounds, CutFieldIsCorruptAndFieldBeyondAShortRecordReadsAsZero) {
    const std::string rec = "ABCDEF";
    Value v;
    EXPECT_EQ(decodeField({"f", DataType::ZString, 4, 4}, rec, v), Status::Corrupt);
    EXPECT_EQ(decodeField({"f", DataType::ZString, 3, 0xFFFFFFFFu}, rec, v), Status::Corrupt) << "no overflow";
    ASSERT_EQ(decodeField({"f", DataType::ZString, 6, 10}, rec, v), Status::Success);
    EXPECT_EQ(std::get<std::string>(v), "");
    ASSERT_EQ(decodeField({"f", DataType::Integer, 20, 2}, rec, v), Status::Success);
    EXPECT_EQ(std::get<int64_t>(v), 0);
    ASSERT_EQ(decodeField({"f", DataType::Money, 20, 4}, rec, v), Status::Success);
    EXPECT_EQ(std::get<double>(v), 0.0);
    ASSERT_EQ(decodeField({"f", DataType::Date, 20, 4}, rec, v), Status::Success);
    EXPECT_TRUE(std::holds_alternative<NoDate>(v));
    EXPECT_EQ(decodeField({"f", DataType::Note, 0, 2}, rec, v), Status::UnsupportedLayout);
}

}  // namespace
