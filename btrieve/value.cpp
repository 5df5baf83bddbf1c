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

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

namespace btrieve {
namespace {

// The widths each type may have: a set of widths up to 8 bytes (bit n for n bytes), or
// every width from anyFrom up.
struct TypeWidths {
    DataType type;
    unsigned widths = 0;
    int anyFrom = -1;
};

constexpr unsigned kOneToEight = 0x1FE;
constexpr unsigned kPowersOfTwo = 1u << 1 | 1u << 2 | 1u << 4 | 1u << 8;
constexpr unsigned kFourOrEight = 1u << 4 | 1u << 8;

constexpr TypeWidths kTypeWidths[] = {
    {.type = DataType::String, .anyFrom = 0},
    {.type = DataType::OldString, .anyFrom = 0},
    {.type = DataType::ZString, .anyFrom = 0},
    {.type = DataType::LString, .anyFrom = 0},
    {.type = DataType::Integer, .widths = kPowersOfTwo},
    {.type = DataType::AutoIncrement, .widths = kPowersOfTwo},
    {.type = DataType::UnsignedBinary, .widths = kOneToEight},
    {.type = DataType::OldBinary, .widths = kOneToEight},
    {.type = DataType::Float, .widths = kFourOrEight},
    {.type = DataType::BFloat, .widths = kFourOrEight},
    {.type = DataType::Date, .widths = 1u << 4},
    {.type = DataType::Time, .widths = 1u << 4},
    {.type = DataType::Logical, .widths = 1u << 1 | 1u << 2},
    {.type = DataType::Decimal, .anyFrom = 1},
    {.type = DataType::Money, .anyFrom = 1},
    {.type = DataType::Numeric, .anyFrom = 1},
};

Status decodeDate(std::string_view b, Value& out) {
    const int day = static_cast<uint8_t>(b[0]);
    const int month = static_cast<uint8_t>(b[1]);
    const int year = static_cast<int>(readLittleEndian(b.substr(2, 2)));
    if (!isValidDate(year, month, day)) {
        out = NoDate{};
    } else {
        out = Date{year, month, day};
    }
    return Status::Success;
}

Status decodeTime(std::string_view b, Value& out) {
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

// b is as wide as the field; its type and width are checked first.
Status decodeBytes(const FieldDef& field, std::string_view b, Value& out) {
    if (!widthAllowed(field.type, b.size())) return Status::UnsupportedLayout;
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
        uint64_t u = readLittleEndian(b);
        const unsigned bits = static_cast<unsigned>(b.size() * 8);
        if (bits < 64 && (u >> (bits - 1)) & 1) u |= ~uint64_t{0} << bits;  // sign-extend
        out = static_cast<int64_t>(u);
        return Status::Success;
    }
    case DataType::UnsignedBinary:
    case DataType::OldBinary:
        out = readLittleEndian(b);
        return Status::Success;
    case DataType::Float:
        if (b.size() == 4) {
            float f;
            std::memcpy(&f, b.data(), 4);
            out = static_cast<double>(f);
        } else {
            double d;
            std::memcpy(&d, b.data(), 8);
            out = d;
        }
        return Status::Success;
    case DataType::BFloat:
        return decodeBFloat(b, out);
    case DataType::Date:
        return decodeDate(b, out);
    case DataType::Time:
        return decodeTime(b, out);
    case DataType::Logical:
        out = readLittleEndian(b) != 0;
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

// ---- encoding ----------------------------------------------------------------

void writeUnsigned(uint64_t v, char* out, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<char>(v >> (8 * i));
}

bool isValidDate(const Date& d) { return btrieve::isValidDate(d.year, d.month, d.day); }

// Any number the value holds, as a double.
bool numberOf(const Value& v, double& out) {
    if (const auto* d = std::get_if<double>(&v)) out = *d;
    else if (const auto* i = std::get_if<int64_t>(&v)) out = static_cast<double>(*i);
    else if (const auto* u = std::get_if<uint64_t>(&v)) out = static_cast<double>(*u);
    else return false;
    return std::isfinite(out);
}

// A whole number in [lo, hi] (hi at most INT64_MAX), from an integer or a double
// with no fraction.
bool signedOf(const Value& v, int64_t lo, int64_t hi, int64_t& out) {
    if (const auto* i = std::get_if<int64_t>(&v)) {
        out = *i;
    } else if (const auto* u = std::get_if<uint64_t>(&v)) {
        if (*u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
        out = static_cast<int64_t>(*u);
    } else if (const auto* d = std::get_if<double>(&v)) {
        // 2^63 is the first double past INT64_MAX.
        if (!(*d >= -9223372036854775808.0 && *d < 9223372036854775808.0) || std::trunc(*d) != *d)
            return false;
        out = static_cast<int64_t>(*d);
    } else {
        return false;
    }
    return out >= lo && out <= hi;
}

bool unsignedOf(const Value& v, uint64_t hi, uint64_t& out) {
    if (const auto* u = std::get_if<uint64_t>(&v)) {
        out = *u;
    } else if (const auto* i = std::get_if<int64_t>(&v)) {
        if (*i < 0) return false;
        out = static_cast<uint64_t>(*i);
    } else if (const auto* d = std::get_if<double>(&v)) {
        // 2^64 is the first double past UINT64_MAX.
        if (!(*d >= 0 && *d < 18446744073709551616.0) || std::trunc(*d) != *d) return false;
        out = static_cast<uint64_t>(*d);
    } else {
        return false;
    }
    return out <= hi;
}

// |v| times 10^decimals, rounded, when it has at most `digits` digits (and at most 18).
bool scaledDigits(double v, int decimals, size_t digits, uint64_t& out) {
    const double scaled = std::round(std::fabs(v) * std::pow(10.0, decimals));
    const double limit = std::pow(10.0, static_cast<double>(std::min<size_t>(digits, 18)));
    if (!(scaled < limit)) return false;
    out = static_cast<uint64_t>(scaled);
    return true;
}

Status encodePacked(double v, int decimals, char* out, size_t n) {
    uint64_t digits = 0;
    if (!scaledDigits(v, decimals, 2 * n - 1, digits)) return Status::TypeMismatch;
    const bool negative = v < 0 && digits != 0;
    // Fill from the right: the last byte's high nibble is the lowest digit.
    int sign = negative ? 0xD : 0xF;
    for (size_t i = n; i-- > 0;) {
        const int lo = i + 1 == n ? sign : static_cast<int>(digits % 10);
        if (i + 1 != n) digits /= 10;
        const int hi = static_cast<int>(digits % 10);
        digits /= 10;
        out[i] = static_cast<char>((hi << 4) | lo);
    }
    return Status::Success;
}

Status encodeNumeric(double v, char* out, size_t n) {
    uint64_t digits = 0;
    if (!scaledDigits(v, 0, n, digits)) return Status::TypeMismatch;
    const bool negative = v < 0 && digits != 0;
    for (size_t i = n; i-- > 0;) {
        const int d = static_cast<int>(digits % 10);
        digits /= 10;
        if (i + 1 == n && negative) out[i] = d == 0 ? '}' : static_cast<char>('J' + d - 1);
        else out[i] = static_cast<char>('0' + d);
    }
    return Status::Success;
}

// The Basic float of decodeBFloat: the mantissa 0.1mmm... rounded to the bits the
// width keeps (24 or 56; a double's 53 fit in 56 exactly), the sign in place of the
// implied leading 1. Values too small for the exponent are written as zero.
Status encodeBFloat(double v, char* out, size_t n) {
    std::memset(out, 0, n);
    if (v == 0) return Status::Success;
    int e = 0;
    const double m = std::frexp(std::fabs(v), &e);  // m in [0.5, 1)
    const int bits = static_cast<int>(8 * (n - 1));
    uint64_t mantissa = static_cast<uint64_t>(std::nearbyint(std::ldexp(m, bits)));
    if (mantissa >> bits) {  // rounded up to 1.0
        mantissa >>= 1;
        ++e;
    }
    const int exponent = e + 128;
    if (exponent > 255) return Status::TypeMismatch;
    if (exponent < 1) return Status::Success;
    writeUnsigned(mantissa, out, n - 1);
    out[n - 2] = static_cast<char>((static_cast<uint8_t>(out[n - 2]) & 0x7F) | (v < 0 ? 0x80 : 0));
    out[n - 1] = static_cast<char>(exponent);
    return Status::Success;
}

Status encodeText(DataType type, const std::string& text, char* out, size_t n) {
    switch (type) {
    case DataType::String:
    case DataType::OldString:
        if (text.size() > n) return Status::TypeMismatch;
        std::memset(out, ' ', n);
        break;
    case DataType::ZString:
        if (n == 0 || text.size() > n - 1) return Status::TypeMismatch;
        break;
    case DataType::LString:
        if (n == 0 || text.size() > n - 1 || text.size() > 255) return Status::TypeMismatch;
        *out++ = static_cast<char>(text.size());
        break;
    default:
        return Status::UnsupportedLayout;
    }
    std::memcpy(out, text.data(), text.size());
    return Status::Success;
}

// Writes value into out[0..n), which holds zero bytes; the type and width are checked
// first.
Status encodeBytes(DataType type, const Value& value, char* out, size_t n) {
    if (std::holds_alternative<std::monostate>(value)) return Status::Success;
    if (!widthAllowed(type, n)) return Status::UnsupportedLayout;
    double number = 0;
    switch (type) {
    case DataType::String:
    case DataType::OldString:
    case DataType::ZString:
    case DataType::LString: {
        const auto* text = std::get_if<std::string>(&value);
        return text ? encodeText(type, *text, out, n) : Status::TypeMismatch;
    }
    case DataType::Integer:
    case DataType::AutoIncrement: {
        const int64_t hi = n == 8 ? std::numeric_limits<int64_t>::max()
                                  : (int64_t{1} << (8 * n - 1)) - 1;
        int64_t i = 0;
        if (!signedOf(value, -hi - 1, hi, i)) return Status::TypeMismatch;
        writeUnsigned(static_cast<uint64_t>(i), out, n);
        return Status::Success;
    }
    case DataType::UnsignedBinary:
    case DataType::OldBinary: {
        const uint64_t hi = n == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * n)) - 1;
        uint64_t u = 0;
        if (!unsignedOf(value, hi, u)) return Status::TypeMismatch;
        writeUnsigned(u, out, n);
        return Status::Success;
    }
    case DataType::Float:
        if (!numberOf(value, number)) return Status::TypeMismatch;
        if (n == 8) {
            std::memcpy(out, &number, 8);
        } else {
            if (std::fabs(number) > FLT_MAX) return Status::TypeMismatch;
            const float f = static_cast<float>(number);
            std::memcpy(out, &f, 4);
        }
        return Status::Success;
    case DataType::BFloat:
        return numberOf(value, number) ? encodeBFloat(number, out, n) : Status::TypeMismatch;
    case DataType::Date: {
        if (std::holds_alternative<NoDate>(value)) return Status::Success;
        const auto* d = std::get_if<Date>(&value);
        if (!d || !isValidDate(*d)) return Status::TypeMismatch;
        out[0] = static_cast<char>(d->day);
        out[1] = static_cast<char>(d->month);
        writeUnsigned(static_cast<uint64_t>(d->year), out + 2, 2);
        return Status::Success;
    }
    case DataType::Time: {
        const auto* t = std::get_if<Time>(&value);
        if (!t || t->hour < 0 || t->hour > 23 || t->minute < 0 || t->minute > 59 || t->second < 0 ||
            t->second > 59 || t->hundredths < 0 || t->hundredths > 99)
            return Status::TypeMismatch;
        out[0] = static_cast<char>(t->hundredths);
        out[1] = static_cast<char>(t->second);
        out[2] = static_cast<char>(t->minute);
        out[3] = static_cast<char>(t->hour);
        return Status::Success;
    }
    case DataType::Logical: {
        int64_t i = 0;
        if (const auto* b = std::get_if<bool>(&value)) i = *b;
        else if (!signedOf(value, 0, 1, i)) return Status::TypeMismatch;
        out[0] = static_cast<char>(i);
        return Status::Success;
    }
    case DataType::Money:
    case DataType::Decimal:
        if (!numberOf(value, number)) return Status::TypeMismatch;
        return encodePacked(number, type == DataType::Money ? 2 : 0, out, n);
    case DataType::Numeric:
        return numberOf(value, number) ? encodeNumeric(number, out, n) : Status::TypeMismatch;
    default:
        return Status::UnsupportedLayout;
    }
}

}  // namespace

bool widthAllowed(DataType type, size_t width) {
    for (const TypeWidths& t : kTypeWidths) {
        if (t.type != type) continue;
        if (t.anyFrom >= 0 && width >= static_cast<size_t>(t.anyFrom)) return true;
        return width <= 8 && (t.widths >> width & 1u);
    }
    return false;
}

Status encodeField(const FieldDef& field, const Value& value, std::string& record) {
    if (uint64_t{field.offset} + field.length > record.size()) return Status::Corrupt;
    std::string bytes(field.length, '\0');
    const Status st = encodeBytes(field.type, value, bytes.data(), bytes.size());
    if (ok(st)) std::memcpy(record.data() + field.offset, bytes.data(), bytes.size());
    return st;
}

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
            return decodeBytes(field, std::string(field.length, '\0'), out);
        }
    }
    if (end > record.size()) return Status::Corrupt;
    return decodeBytes(field, record.substr(field.offset, field.length), out);
}

}  // namespace btrieve
