// Field values as Btrieve stores them inside a record. All integers little-endian.
//
// | type           | bytes      | layout                                                   |
// |----------------|------------|----------------------------------------------------------|
// | STRING         | n          | text, blank-padded (trailing blanks and zeros dropped)   |
// | ZSTRING        | n          | text up to the first zero byte (whole field if none)     |
// | LSTRING        | n          | byte 0 = length, then the text (at most n - 1 bytes)     |
// | INTEGER/AUTOINC| 1,2,4,8    | signed two's complement                                  |
// | UNSIGNED BIN.  | 1..8       | unsigned                                                 |
// | FLOAT          | 4, 8       | IEEE 754                                                 |
// | BFLOAT         | 4, 8       | Microsoft Basic float: mantissa bytes, sign, exponent    |
// | DATE           | 4          | 0 day, 1 month, 2-3 year                                 |
// | TIME           | 4          | 0 hundredths, 1 seconds, 2 minutes, 3 hours              |
// | LOGICAL        | 1, 2       | 0 = false                                                |
// | DECIMAL, MONEY | n          | packed BCD, two digits a byte, sign in the last nibble   |
// | NUMERIC        | n          | ASCII digits, sign overpunched in the last byte          |
#include "btrieve/value.h"

#include <cmath>
#include <cstring>

namespace btrieve {
namespace {

uint64_t readUnsigned(std::string_view b) {
    uint64_t v = 0;
    for (size_t i = b.size(); i-- > 0;) v = (v << 8) | static_cast<uint8_t>(b[i]);
    return v;
}

bool isLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeapYear(y) ? 29 : days[m - 1];
}

Status decodeDate(std::string_view b, Value& out) {
    if (b.size() != 4) return Status::UnsupportedLayout;
    const int day = static_cast<uint8_t>(b[0]);
    const int month = static_cast<uint8_t>(b[1]);
    const int year = static_cast<int>(readUnsigned(b.substr(2, 2)));
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > daysInMonth(year, month)) {
        out = NoDate{};
    } else {
        out = Date{year, month, day};
    }
    return Status::Success;
}

Status decodeTime(std::string_view b, Value& out) {
    if (b.size() != 4) return Status::UnsupportedLayout;
    Time t{static_cast<uint8_t>(b[3]), static_cast<uint8_t>(b[2]), static_cast<uint8_t>(b[1]),
           static_cast<uint8_t>(b[0])};
    // An impossible time of day has no value rather than a wrong one.
    if (t.hour > 23 || t.minute > 59 || t.second > 59 || t.hundredths > 99)
        out = std::monostate{};
    else
        out = t;
    return Status::Success;
}

// Packed BCD: 2n - 1 digits and a sign nibble. 0xD and 0xB mark a negative value;
// any other nibble from 0xA up is positive. A digit nibble above 9 is corrupt.
Status decodePacked(std::string_view b, int decimals, Value& out) {
    if (b.empty()) return Status::UnsupportedLayout;
    double v = 0;
    for (size_t i = 0; i < b.size(); ++i) {
        const auto byte = static_cast<uint8_t>(b[i]);
        const int hi = byte >> 4, lo = byte & 0x0F;
        if (hi > 9) return Status::Corrupt;
        v = v * 10 + hi;
        if (i + 1 < b.size()) {
            if (lo > 9) return Status::Corrupt;
            v = v * 10 + lo;
        } else {
            if (lo < 0xA) return Status::Corrupt;
            if (lo == 0xD || lo == 0xB) v = -v;
        }
    }
    out = v / std::pow(10.0, decimals);
    return Status::Success;
}

// ASCII digits, optionally led by blanks; the last byte carries the sign:
// '{' and 'A'..'I' are +0..+9, '}' and 'J'..'R' are -0..-9, a plain digit is positive.
Status decodeNumeric(std::string_view b, Value& out) {
    if (b.empty()) return Status::UnsupportedLayout;
    double v = 0;
    bool negative = false;
    size_t i = 0;
    while (i + 1 < b.size() && b[i] == ' ') ++i;
    for (; i < b.size(); ++i) {
        const char c = b[i];
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (i + 1 == b.size() && (c == '{' || c == '}')) {
            digit = 0;
            negative = c == '}';
        } else if (i + 1 == b.size() && c >= 'A' && c <= 'I') {
            digit = c - 'A' + 1;
        } else if (i + 1 == b.size() && c >= 'J' && c <= 'R') {
            digit = c - 'J' + 1;
            negative = true;
        } else {
            return Status::Corrupt;
        }
        v = v * 10 + digit;
    }
    out = negative ? -v : v;
    return Status::Success;
}

// Microsoft Basic float: the last byte is the exponent (bias 128, 0 = zero), the
// byte before it holds the sign bit and the top mantissa bits, with an implied
// leading 1; the value is 0.1mmm... (binary) times 2^(exponent - 128).
Status decodeBFloat(std::string_view b, Value& out) {
    if (b.size() != 4 && b.size() != 8) return Status::UnsupportedLayout;
    const size_t n = b.size();
    const int exponent = static_cast<uint8_t>(b[n - 1]);
    if (exponent == 0) {
        out = 0.0;
        return Status::Success;
    }
    const bool negative = (static_cast<uint8_t>(b[n - 2]) & 0x80) != 0;
    double mantissa = 0;
    for (size_t i = 0; i + 1 < n; ++i) {
        uint8_t byte = static_cast<uint8_t>(b[i]);
        if (i == n - 2) byte |= 0x80;
        mantissa = mantissa / 256.0 + byte;
    }
    mantissa /= 256.0;  // now in [0.5, 1)
    const double v = std::ldexp(mantissa, exponent - 128);
    out = negative ? -v : v;
    return Status::Success;
}

Status decodeBytes(const FieldDef& field, std::string_view b, Value& out) {
    switch (field.type) {
    case DataType::String:
    case DataType::OldString: {
        size_t n = b.size();
        while (n > 0 && (b[n - 1] == ' ' || b[n - 1] == '\0')) --n;
        out = std::string(b.substr(0, n));
        return Status::Success;
    }
    case DataType::ZString: {
        const size_t z = b.find('\0');
        out = std::string(b.substr(0, z == std::string_view::npos ? b.size() : z));
        return Status::Success;
    }
    case DataType::LString: {
        if (b.empty()) {
            out = std::string();
            return Status::Success;
        }
        const size_t len = std::min<size_t>(static_cast<uint8_t>(b[0]), b.size() - 1);
        out = std::string(b.substr(1, len));
        return Status::Success;
    }
    case DataType::Integer:
    case DataType::AutoIncrement: {
        if (b.size() != 1 && b.size() != 2 && b.size() != 4 && b.size() != 8)
            return Status::UnsupportedLayout;
        uint64_t u = readUnsigned(b);
        const unsigned bits = static_cast<unsigned>(b.size() * 8);
        if (bits < 64 && (u >> (bits - 1)) & 1) u |= ~uint64_t{0} << bits;  // sign-extend
        out = static_cast<int64_t>(u);
        return Status::Success;
    }
    case DataType::UnsignedBinary:
    case DataType::OldBinary:
        if (b.empty() || b.size() > 8) return Status::UnsupportedLayout;
        out = readUnsigned(b);
        return Status::Success;
    case DataType::Float:
        if (b.size() == 4) {
            float f;
            std::memcpy(&f, b.data(), 4);
            out = static_cast<double>(f);
        } else if (b.size() == 8) {
            double d;
            std::memcpy(&d, b.data(), 8);
            out = d;
        } else {
            return Status::UnsupportedLayout;
        }
        return Status::Success;
    case DataType::BFloat:
        return decodeBFloat(b, out);
    case DataType::Date:
        return decodeDate(b, out);
    case DataType::Time:
        return decodeTime(b, out);
    case DataType::Logical:
        if (b.size() != 1 && b.size() != 2) return Status::UnsupportedLayout;
        out = readUnsigned(b) != 0;
        return Status::Success;
    case DataType::Money:
        return decodePacked(b, 2, out);
    case DataType::Decimal:
        // The number of decimals lives in a data dictionary, not in the field.
        return decodePacked(b, 0, out);
    case DataType::Numeric:
        return decodeNumeric(b, out);
    default:
        return Status::UnsupportedLayout;
    }
}

}  // namespace

Status decodeField(const FieldDef& field, std::string_view record, Value& out) {
    const uint64_t end = uint64_t{field.offset} + field.length;
    if (field.offset >= record.size() && field.length > 0) {
        // A variable-length record that ends before this field: the field reads as
        // if it held zero bytes (empty text, zero, no date, false).
        switch (field.type) {
        case DataType::String: case DataType::OldString: case DataType::ZString:
        case DataType::LString:
            out = std::string();
            return Status::Success;
        case DataType::Money: case DataType::Decimal: case DataType::Numeric:
            out = 0.0;
            return Status::Success;
        default:
            if (field.length > 8) return Status::UnsupportedLayout;
            return decodeBytes(field, std::string(field.length, '\0'), out);
        }
    }
    if (end > record.size()) return Status::Corrupt;
    return decodeBytes(field, record.substr(field.offset, field.length), out);
}

}  // namespace btrieve
