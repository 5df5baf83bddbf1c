#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

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

// ---- encodeField: the inverse of decodeField ---------------------------------

// Encodes v into a field of `length` bytes at offset 3 of a record filled with 0xEE
// and decodes it back; the bytes around the field stay as they were.
Value roundTrip(DataType type, uint32_t length, const Value& v) {
    const FieldDef field{"f", type, 3, length};
    std::string rec(length + 6, '\xEE');
    EXPECT_EQ(encodeField(field, v, rec), Status::Success) << static_cast<int>(type);
    EXPECT_EQ(rec.substr(0, 3), "\xEE\xEE\xEE");
    EXPECT_EQ(rec.substr(3 + length), "\xEE\xEE\xEE");
    Value back;
    EXPECT_EQ(decodeField(field, rec, back), Status::Success);
    return back;
}
std::string encoded(DataType type, uint32_t length, const Value& v) {
    std::string rec(length, '\0');
    EXPECT_EQ(encodeField({"f", type, 0, length}, v, rec), Status::Success);
    return rec;
}

TEST(EncodeField, EveryDecodedTypeComesBack) {
    EXPECT_EQ(roundTrip(DataType::String, 6, std::string("AB C")), Value(std::string("AB C")));
    EXPECT_EQ(roundTrip(DataType::ZString, 5, std::string("\xE9t\xE9!")), Value(std::string("\xE9t\xE9!")));
    EXPECT_EQ(roundTrip(DataType::LString, 5, std::string("abcd")), Value(std::string("abcd")));
    for (int64_t i : {int64_t{-128}, int64_t{127}, int64_t{0}})
        EXPECT_EQ(roundTrip(DataType::Integer, 1, i), Value(i));
    EXPECT_EQ(roundTrip(DataType::Integer, 2, int64_t{-25536}), Value(int64_t{-25536}));
    EXPECT_EQ(roundTrip(DataType::AutoIncrement, 4, int64_t{2147483647}), Value(int64_t{2147483647}));
    EXPECT_EQ(roundTrip(DataType::Integer, 8, int64_t{INT64_MIN}), Value(int64_t{INT64_MIN}));
    EXPECT_EQ(roundTrip(DataType::UnsignedBinary, 3, uint64_t{0xFFFFFF}), Value(uint64_t{0xFFFFFF}));
    EXPECT_EQ(roundTrip(DataType::UnsignedBinary, 8, ~uint64_t{0}), Value(~uint64_t{0}));
    EXPECT_EQ(roundTrip(DataType::Float, 8, -1234.5678), Value(-1234.5678));
    EXPECT_EQ(roundTrip(DataType::Float, 4, 0.15625), Value(0.15625));
    EXPECT_EQ(roundTrip(DataType::Logical, 2, true), Value(true));
    EXPECT_EQ(roundTrip(DataType::Logical, 1, false), Value(false));
    EXPECT_EQ(roundTrip(DataType::Date, 4, Date{2004, 2, 29}), Value(Date{2004, 2, 29}));
    EXPECT_EQ(roundTrip(DataType::Date, 4, NoDate{}), Value(NoDate{}));
    EXPECT_EQ(roundTrip(DataType::Time, 4, Time{23, 59, 58, 99}), Value(Time{23, 59, 58, 99}));
    EXPECT_EQ(roundTrip(DataType::Money, 5, -1234567.89), Value(-1234567.89));
    EXPECT_EQ(roundTrip(DataType::Money, 3, 0.07), Value(0.07));
    EXPECT_EQ(roundTrip(DataType::Decimal, 4, 9999999.0), Value(9999999.0));
    EXPECT_EQ(roundTrip(DataType::Numeric, 5, -12340.0), Value(-12340.0));
    EXPECT_EQ(roundTrip(DataType::Numeric, 4, 905.0), Value(905.0));
    EXPECT_EQ(roundTrip(DataType::Numeric, 3, -7.0), Value(-7.0));
    // An empty value writes zero bytes, which read as empty text, zero, no date.
    EXPECT_EQ(roundTrip(DataType::String, 4, std::monostate{}), Value(std::string()));
    EXPECT_EQ(roundTrip(DataType::Date, 4, std::monostate{}), Value(NoDate{}));
}

TEST(EncodeField, BasicFloatsInTheOldFormat) {
    // The bytes decodeField reads, not an IEEE float's.
    EXPECT_EQ(encoded(DataType::BFloat, 4, 5.0), raw({0, 0, 0x20, 0x83}));
    EXPECT_EQ(encoded(DataType::BFloat, 4, -1.0), raw({0, 0, 0x80, 0x81}));
    EXPECT_EQ(encoded(DataType::BFloat, 8, 0.0), std::string(8, '\0'));
    for (double d : {1.0, -0.5, 1234.5, -98765.4321, 1e30, 3.0e-35, 0.1})
        EXPECT_EQ(roundTrip(DataType::BFloat, 8, d), Value(d)) << d;  // 56 bits hold a double
    for (double d : {1.0, -0.5, 1234.5, 16777215.0, -0.375})
        EXPECT_EQ(roundTrip(DataType::BFloat, 4, d), Value(d)) << d;
    // Four bytes keep 24 bits, rounded to nearest; a carry moves the exponent.
    EXPECT_DOUBLE_EQ(std::get<double>(roundTrip(DataType::BFloat, 4, 0.1)), static_cast<double>(0.1f));
    EXPECT_EQ(roundTrip(DataType::BFloat, 4, 16777215.75), Value(16777216.0));
    EXPECT_EQ(roundTrip(DataType::BFloat, 4, 1e-45), Value(0.0));  // below the smallest exponent
    std::string rec(4, '\0');
    EXPECT_EQ(encodeField({"f", DataType::BFloat, 0, 4}, 1e39, rec), Status::TypeMismatch);
}

TEST(EncodeField, ValuesTheFieldCannotHoldAreRefusedAndNothingIsWritten) {
    std::string rec(8, 'x');
    const auto refuse = [&rec](DataType type, uint32_t length, const Value& v) {
        return encodeField({"f", type, 0, length}, v, rec);
    };
    EXPECT_EQ(refuse(DataType::String, 3, std::string("ABCD")), Status::TypeMismatch);
    EXPECT_EQ(refuse(DataType::ZString, 3, std::string("ABC")), Status::TypeMismatch);  // no room for the zero
    EXPECT_EQ(refuse(DataType::LString, 3, std::string("ABC")), Status::TypeMismatch);
    EXPECT_EQ(refuse(DataType::String, 3, int64_t{1}), Status::TypeMismatch);
    EXPECT_EQ(refuse(DataType::Integer, 1, int64_t{128}), Status::TypeMismatch);
    EXPECT_EQ(refuse(DataType::Integer, 2, 1.5), Status::TypeMismatch);
    EXPECT_EQ(refuse(DataType::Integer, 3, int64_t{1}), Status::UnsupportedLayout);
    EXPECT_EQ(refuse(DataType::UnsignedBinary, 1, int64_t{-1}), Status::TypeMismatch);
    EXPECT_EQ(refuse(DataType::UnsignedBinary, 2, uint64_t{65536}), Status::TypeMismatch);
    EXPECT_EQ(refuse(DataType::Float, 4, 1e300), Status::TypeMismatch);
    EXPECT_EQ(refuse(DataType::Float, 8, std::nan("")), Status::TypeMismatch);
    EXPECT_EQ(refuse(DataType::Money, 2, 10.0), Status::TypeMismatch);  // 3 digits: 9.99 at most
    EXPECT_EQ(refuse(DataType::Numeric, 2, 100.0), Status::TypeMismatch);
    EXPECT_EQ(refuse(DataType::Date, 4, Date{2003, 2, 29}), Status::TypeMismatch);
    EXPECT_EQ(refuse(DataType::Time, 4, Time{24, 0, 0, 0}), Status::TypeMismatch);
    EXPECT_EQ(refuse(DataType::Logical, 1, int64_t{2}), Status::TypeMismatch);
    EXPECT_EQ(refuse(DataType::Note, 4, std::string("a")), Status::UnsupportedLayout);
    EXPECT_EQ(rec, "xxxxxxxx");
    EXPECT_EQ(encodeField({"f", DataType::Integer, 6, 4}, int64_t{1}, rec), Status::Corrupt);  // past the record
    EXPECT_EQ(rec, "xxxxxxxx");
    // Money rounds to cents; a double with no fraction fills an integer field.
    EXPECT_EQ(roundTrip(DataType::Money, 4, 12.345000001), Value(12.35));
    EXPECT_EQ(roundTrip(DataType::Integer, 4, -40000.0), Value(int64_t{-40000}));
}

}  // namespace
