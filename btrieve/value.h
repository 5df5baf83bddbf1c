// Typed field values read from a record: the engine's counterpart of an automation
// VARIANT. Text stays as the file's 8-bit (Windows-1252) bytes.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <variant>

#include "btrieve/status.h"
#include "btrieve/types.h"

namespace btrieve {

struct Date {
    int year = 0, month = 0, day = 0;
    bool operator==(const Date&) const = default;
};

// An unsigned little-endian integer of up to eight bytes (the stored form of
// integer, date-year and logical fields). The usual widths take one load.
inline uint64_t readLittleEndian(std::string_view b) {
    uint64_t v = 0;
    if constexpr (std::endian::native == std::endian::little) {
        switch (b.size()) {
        case 1: return static_cast<uint8_t>(b[0]);
        case 2: { uint16_t x; std::memcpy(&x, b.data(), 2); return x; }
        case 4: { uint32_t x; std::memcpy(&x, b.data(), 4); return x; }
        case 8: std::memcpy(&v, b.data(), 8); return v;
        default: break;
        }
    }
    for (size_t i = b.size(); i-- > 0;) v = (v << 8) | static_cast<uint8_t>(b[i]);
    return v;
}

// Whether year, month and day name a day of the calendar, years 1 to 9999.
inline bool isValidDate(int year, int month, int day) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= (month == 2 && leap ? 29 : kDays[month - 1]);
}
struct Time {
    int hour = 0, minute = 0, second = 0, hundredths = 0;
    bool operator==(const Time&) const = default;
};
struct NoDate {  // an all-zero or impossible DATE
    bool operator==(const NoDate&) const = default;
};

// std::monostate = empty (no value); std::string = text; int64_t = signed integer;
// uint64_t = unsigned binary; double = float, money, decimal; bool = logical.
using Value = std::variant<std::monostate, std::string, int64_t, uint64_t, double, bool, Date,
                           NoDate, Time>;

// Decodes one field of a record. A field reaching past the record is a
// Whether a field of type may be width bytes wide: INTEGER and AUTOINCREMENT 1, 2, 4
// or 8; UNSIGNED BINARY 1 to 8; FLOAT and BFLOAT 4 or 8; DATE and TIME 4; LOGICAL 1 or
// 2; DECIMAL, MONEY and NUMERIC any width from 1; the string types any width. False
// for the types values are not read from. Decoding, encoding and criteria all ask here.
bool widthAllowed(DataType type, size_t width);

// Status::Corrupt, except that a field lying wholly beyond the end (a variable-length
// record shorter than the layout) reads as zero bytes would: empty text, 0, NoDate,
// false. An unknown type or a width the type does not have is
// Status::UnsupportedLayout; packed or numeric digits that are not digits are
// Status::Corrupt. STRING drops trailing blanks and zero bytes; ZSTRING ends at its
// first zero byte (the whole field when there is none); an impossible TIME is empty;
// DECIMAL is read with no decimals, MONEY with two.
Status decodeField(const FieldDef& field, std::string_view record, Value& out);

// The inverse of decodeField: writes value into the field's bytes of record, in the
// layout decodeField reads, so that decoding gives the value back. A field reaching
// past the record is Status::Corrupt; a type or width decodeField does not read is
// Status::UnsupportedLayout. The value must suit the field (Status::TypeMismatch
// otherwise): text for text fields, at most the field's room (LSTRING and ZSTRING
// keep a byte for the length or the ending zero); a whole number in range for
// INTEGER and UNSIGNED BINARY (a double with no fraction will do); a number for
// FLOAT, BFLOAT, MONEY, DECIMAL and NUMERIC, which round to the digits the field
// keeps (two decimals for MONEY, none for DECIMAL and NUMERIC) and must fit them;
// bool (or 0 and 1) for LOGICAL; Date or NoDate for DATE; Time for TIME. An empty
// value (std::monostate) writes zero bytes. Nothing is written on failure.
Status encodeField(const FieldDef& field, const Value& value, std::string& record);

}  // namespace btrieve
