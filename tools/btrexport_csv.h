// CSV fields for btrexport, written straight from record bytes: no Value and no
// string per field for the common types (text, integers, floats, dates, logicals),
// and decodeField for the rest, with the same output either way.
//
// Text is converted from Windows-1252 to UTF-8 (the five bytes the code page leaves
// undefined, 0x81, 0x8D, 0x8F, 0x90, 0x9D, to the C1 controls of the same value) and
// quoted when it holds a comma, quote, CR or LF, inner quotes doubled. Numbers come
// in their shortest round-trip form (std::to_chars), dates as yyyy-mm-dd (empty when
// the field holds no date), times as hh:mm:ss (.cc when there are hundredths),
// logicals as 0 or 1.
#pragma once

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <variant>

#include "btrieve/status.h"
#include "btrieve/types.h"
#include "btrieve/value.h"

namespace csvout {

// UTF-8 of every byte, and which bytes make a field need quotes.
struct ByteTable {
    std::array<std::array<char, 3>, 256> utf8{};
    std::array<uint8_t, 256> length{};
    std::array<bool, 256> special{};  // comma, quote, CR, LF
    ByteTable() {
        static const char16_t high[32] = {
            0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
            0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
            0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
        for (unsigned b = 0; b < 256; ++b) {
            const unsigned cp = b >= 0x80 && b <= 0x9F ? high[b - 0x80] : b;
            auto& u = utf8[b];
            if (cp < 0x80) {
                u[0] = static_cast<char>(cp);
                length[b] = 1;
            } else if (cp < 0x800) {
                u[0] = static_cast<char>(0xC0 | (cp >> 6));
                u[1] = static_cast<char>(0x80 | (cp & 0x3F));
                length[b] = 2;
            } else {
                u[0] = static_cast<char>(0xE0 | (cp >> 12));
                u[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                u[2] = static_cast<char>(0x80 | (cp & 0x3F));
                length[b] = 3;
            }
            special[b] = b == ',' || b == '"' || b == '\r' || b == '\n';
        }
    }
};

inline const ByteTable& bytes() {
    static const ByteTable table;
    return table;
}

inline void appendText(std::string& out, std::string_view text) {
    const ByteTable& t = bytes();
    bool quote = false, plain = true;
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        quote |= t.special[b];
        plain &= b < 0x80;
    }
    if (plain && !quote) {
        out.append(text);
        return;
    }
    if (quote) out.push_back('"');
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '"') out.push_back('"');
        out.append(t.utf8[b].data(), t.length[b]);
    }
    if (quote) out.push_back('"');
}

template <class T>
void appendInteger(std::string& out, T v) {
    char buf[24];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    if (ec == std::errc()) out.append(buf, end);
}

// The same characters as std::to_chars(double), made directly for the amounts of
// a ledger: a value that is the nearest double to n / 100 with |n| below 10^15.
// Decimals of 15 significant digits or fewer map to distinct doubles, so the
// digits of n / 100 without trailing zeros are the shortest that read back; they
// are written in fixed form when that is no longer than the exponent form (the
// choice to_chars makes, ties to fixed). Anything else goes to to_chars.
inline void appendDouble(std::string& out, double d) {
    const double scaled = d * 100.0;
    if (std::fabs(scaled) < 1e15 && scaled == std::nearbyint(scaled) && !(scaled == 0 && std::signbit(d))) {
        const int64_t n = static_cast<int64_t>(scaled);
        if (static_cast<double>(n) / 100.0 == d) {
            uint64_t m = static_cast<uint64_t>(n < 0 ? -n : n);
            char digits[24];
            auto [end, ec] = std::to_chars(digits, digits + sizeof digits, m);
            const int count = static_cast<int>(end - digits);
            int significant = count;
            while (significant > 1 && digits[significant - 1] == '0') --significant;
            // Fixed form: integer part, then what is left of the two decimals.
            char fixed[32];
            int len = 0;
            if (n < 0) fixed[len++] = '-';
            const int integerDigits = count - 2;
            if (integerDigits <= 0) {
                fixed[len++] = '0';
            } else {
                std::memcpy(fixed + len, digits, static_cast<size_t>(integerDigits));
                len += integerDigits;
            }
            int decimals = 2;
            auto decimalDigit = [&](int i) {  // i = 0 or 1: tenths, hundredths
                const int at = count - 2 + i;
                return at >= 0 ? digits[at] : '0';
            };
            while (decimals > 0 && decimalDigit(decimals - 1) == '0') --decimals;
            if (m == 0) decimals = 0;
            if (decimals > 0) {
                fixed[len++] = '.';
                for (int i = 0; i < decimals; ++i) fixed[len++] = decimalDigit(i);
            }
            // Exponent form: d[.ddd]e±XX (the exponent here is always two digits).
            const int exponentLength = (n < 0) + significant + (significant > 1) + 4;
            if (m == 0 || len <= exponentLength) {
                out.append(fixed, static_cast<size_t>(len));
                return;
            }
        }
    }
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
    if (ec == std::errc()) out.append(buf, end);
}

// v in at least width digits, zero-padded (a date or time part, never negative).
inline void appendPadded(std::string& out, int v, int width) {
    char buf[16];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v < 0 ? 0 : v);
    for (int n = static_cast<int>(end - buf); n < width; ++n) out.push_back('0');
    if (ec == std::errc()) out.append(buf, end);
}

inline void appendDate(std::string& out, int year, int month, int day) {
    appendPadded(out, year, 4);
    out.push_back('-');
    appendPadded(out, month, 2);
    out.push_back('-');
    appendPadded(out, day, 2);
}

inline void appendValue(std::string& out, const btrieve::Value& v) {
    if (auto* s = std::get_if<std::string>(&v)) appendText(out, *s);
    else if (auto* i = std::get_if<int64_t>(&v)) appendInteger(out, *i);
    else if (auto* u = std::get_if<uint64_t>(&v)) appendInteger(out, *u);
    else if (auto* d = std::get_if<double>(&v)) appendDouble(out, *d);
    else if (auto* b = std::get_if<bool>(&v)) out.push_back(*b ? '1' : '0');
    else if (auto* dt = std::get_if<btrieve::Date>(&v)) appendDate(out, dt->year, dt->month, dt->day);
    else if (auto* t = std::get_if<btrieve::Time>(&v)) {
        appendPadded(out, t->hour, 2);
        out.push_back(':');
        appendPadded(out, t->minute, 2);
        out.push_back(':');
        appendPadded(out, t->second, 2);
        if (t->hundredths != 0) {
            out.push_back('.');
            appendPadded(out, t->hundredths, 2);
        }
    }
    // monostate and NoDate: an empty field.
}

inline uint64_t littleEndian(std::string_view b) {
    uint64_t v = 0;
    for (size_t i = b.size(); i-- > 0;) v = (v << 8) | static_cast<uint8_t>(b[i]);
    return v;
}

// Length of text without its trailing blanks and zero bytes, eight bytes at a time
// (a byte is blank or zero exactly when it has no bit but 0x20).
inline size_t trimmedLength(std::string_view b) {
    size_t n = b.size();
    while (n >= 8) {
        uint64_t w;
        std::memcpy(&w, b.data() + n - 8, 8);
        if ((w & ~0x2020202020202020ull) != 0) break;
        n -= 8;
    }
    while (n > 0 && (b[n - 1] == ' ' || b[n - 1] == '\0')) --n;
    return n;
}

inline bool validDate(int year, int month, int day) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= (month == 2 && leap ? 29 : days[month - 1]);
}

// One field of rec as CSV. scratch holds the value on the general path. A field
// decodeField refuses gives its status and appends nothing of the field.
inline btrieve::Status appendField(std::string& out, const btrieve::FieldDef& f, std::string_view rec,
                                   btrieve::Value& scratch) {
    using T = btrieve::DataType;
    if (f.length > 0 && uint64_t{f.offset} + f.length <= rec.size()) {
        const std::string_view b = rec.substr(f.offset, f.length);
        switch (f.type) {
        case T::String:
        case T::OldString:
            appendText(out, b.substr(0, trimmedLength(b)));
            return btrieve::Status::Success;
        case T::ZString: {
            const size_t z = b.find('\0');
            appendText(out, z == std::string_view::npos ? b : b.substr(0, z));
            return btrieve::Status::Success;
        }
        case T::Integer:
        case T::AutoIncrement:
            if (b.size() == 1 || b.size() == 2 || b.size() == 4 || b.size() == 8) {
                uint64_t u = littleEndian(b);
                const unsigned bits = static_cast<unsigned>(b.size() * 8);
                if (bits < 64 && (u >> (bits - 1)) & 1) u |= ~uint64_t{0} << bits;
                appendInteger(out, static_cast<int64_t>(u));
                return btrieve::Status::Success;
            }
            break;
        case T::UnsignedBinary:
        case T::OldBinary:
            if (b.size() <= 8) {
                appendInteger(out, littleEndian(b));
                return btrieve::Status::Success;
            }
            break;
        case T::Float:
            if (b.size() == 8) {
                double d;
                std::memcpy(&d, b.data(), 8);
                appendDouble(out, d);
                return btrieve::Status::Success;
            }
            if (b.size() == 4) {
                float x;
                std::memcpy(&x, b.data(), 4);
                appendDouble(out, static_cast<double>(x));
                return btrieve::Status::Success;
            }
            break;
        case T::Date:
            if (b.size() == 4) {
                const int day = static_cast<uint8_t>(b[0]), month = static_cast<uint8_t>(b[1]);
                const int year = static_cast<uint8_t>(b[2]) | static_cast<uint8_t>(b[3]) << 8;
                if (validDate(year, month, day)) appendDate(out, year, month, day);
                return btrieve::Status::Success;
            }
            break;
        case T::Logical:
            if (b.size() == 1 || b.size() == 2) {
                out.push_back(littleEndian(b) != 0 ? '1' : '0');
                return btrieve::Status::Success;
            }
            break;
        default:
            break;
        }
    }
    const btrieve::Status st = btrieve::decodeField(f, rec, scratch);
    if (btrieve::ok(st)) appendValue(out, scratch);
    return st;
}

}  // namespace csvout
