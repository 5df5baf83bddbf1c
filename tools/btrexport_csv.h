// CSV fields for btrexport, written straight from record bytes: no Value and no
// string per field for the common types (text, integers, floats, dates, logicals),
// and decodeField for the rest, with the same output either way.
//
// Text is converted from Windows-1252 to UTF-8 (the five bytes the code page leaves
// undefined, 0x81, 0x8D, 0x8F, 0x90, 0x9D, to the C1 controls of the same value) and
// quoted when it holds a comma, quote, CR or LF, inner quotes doubled. Numbers come
// in their shortest round-trip form (std::to_chars), dates as yyyy-mm-dd (empty when
// the field holds no date), times as hh:mm:ss (.cc when there are hundredths),
// logicals as 0 or 1. Each of these formats has one writer (putText, putSigned,
// putUnsigned, putDouble, putDate, putTime), which both paths call.
//
// The 128-bit integer and SSE2 paths are taken where the compiler has them;
// defining CSVOUT_PORTABLE leaves them out, for the same bytes by plain C++.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <memory>
#include <string_view>
#include <variant>
#include <vector>

#if defined(__SSE2__) && !defined(CSVOUT_PORTABLE)
#define CSVOUT_SSE2 1
#include <emmintrin.h>
#endif
#if defined(__SIZEOF_INT128__) && !defined(CSVOUT_PORTABLE)
#define CSVOUT_INT128 1
#endif

#include "btrieve/status.h"
#include "btrieve/types.h"
#include "btrieve/value.h"

namespace csvout {

// The field writers a row's loop is made of: inlined there whatever the compiler's
// estimate of their size, as a call per field costs more than most fields.
#if defined(__GNUC__) && !defined(CSVOUT_PORTABLE)
#define CSVOUT_INLINE inline __attribute__((always_inline))
#else
#define CSVOUT_INLINE inline
#endif

// UTF-8 of every byte, and which bytes make a field need quotes.
struct ByteTable {
    std::array<std::array<char, 3>, 256> utf8{};
    std::array<uint8_t, 256> length{};
    std::array<bool, 256> special{};  // comma, quote, CR, LF
    constexpr ByteTable() {
        constexpr char16_t high[32] = {
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

// Built at compile time, so that using it costs no check of a run-time guard.
inline constexpr ByteTable kByteTable{};
inline const ByteTable& bytes() { return kByteTable; }

// Flags (0x80 in a byte's place) of the bytes of w that are zero, exactly: no
// carry crosses a byte.
inline uint64_t zeroBytes(uint64_t w) {
    constexpr uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
    return ~(((w & low7) + low7) | w) & 0x8080808080808080ull;
}

// Whether eight bytes of text go into CSV as they stand: no byte of 0x80 and up,
// and no comma, quote, CR or LF.
inline bool plainWord(uint64_t w) {
    constexpr uint64_t ones = 0x0101010101010101ull;
    const uint64_t special = zeroBytes(w ^ (',' * ones)) | zeroBytes(w ^ ('"' * ones)) |
                             zeroBytes(w ^ ('\r' * ones)) | zeroBytes(w ^ ('\n' * ones));
    return ((w & 0x8080808080808080ull) | special) == 0;
}

// The first and the last sizeof(Word) of n bytes (n at least that), which together
// cover all of them.
template <class Word>
void copyEnds(char* dst, const char* src, size_t n) {
    Word a, b;
    std::memcpy(&a, src, sizeof a);
    std::memcpy(&b, src + n - sizeof b, sizeof b);
    std::memcpy(dst, &a, sizeof a);
    std::memcpy(dst + n - sizeof b, &b, sizeof b);
}

// n bytes from src to dst without a library call for the short fields of a row:
// two overlapping words cover 4 to 16 bytes.
inline void copyShort(char* dst, const char* src, size_t n) {
    if (n > 16) {
        std::memcpy(dst, src, n);
    } else if (n >= 8) {
        copyEnds<uint64_t>(dst, src, n);
    } else if (n >= 4) {
        copyEnds<uint32_t>(dst, src, n);
    } else if (n > 0) {
        dst[0] = src[0];
        dst[n / 2] = src[n / 2];
        dst[n - 1] = src[n - 1];
    }
}

// Text that is not plain ASCII or holds a special, converted and quoted at p.
inline char* putConverted(char* p, std::string_view text);

// Text as a CSV field at p, which has room for 3 * text.size() + 2 bytes; returns
// the end. Plain ASCII without specials is copied as it stands, tested eight
// bytes at a time; the rest goes to putConverted. Inlined, as a row's ZSTRING
// fields come here, and they are short.
CSVOUT_INLINE char* putText(char* p, std::string_view text) {
    const ByteTable& t = bytes();
    const size_t n = text.size();
    bool plain = true;
    size_t i = 0;
    for (; plain && i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, text.data() + i, 8);
        plain = plainWord(w);
    }
    if (plain && i < n && n >= 8) {  // the rest, as the last eight bytes
        uint64_t w;
        std::memcpy(&w, text.data() + n - 8, 8);
        plain = plainWord(w);
        i = n;
    }
    for (; plain && i < n; ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        plain = b < 0x80 && !t.special[b];
    }
    if (plain) {
        copyShort(p, text.data(), n);
        return p + n;
    }
    return putConverted(p, text);
}

inline char* putConverted(char* p, std::string_view text) {
    const ByteTable& t = bytes();
    bool quote = false;
    for (char c : text) quote |= t.special[static_cast<unsigned char>(c)];
    if (quote) *p++ = '"';
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '"') *p++ = '"';
        for (uint8_t k = 0; k < t.length[b]; ++k) *p++ = t.utf8[b][k];
    }
    if (quote) *p++ = '"';
    return p;
}

inline void appendText(std::string& out, std::string_view text) {
    const size_t at = out.size();
    out.resize(at + 3 * text.size() + 2);
    out.resize(static_cast<size_t>(putText(out.data() + at, text) - out.data()));
}

// The same characters as std::to_chars(double), made directly for the amounts of
// a ledger: a value that is the nearest double to n / 100 with |n| below 10^15.
// Decimals of 15 significant digits or fewer map to distinct doubles, so the
// digits of n / 100 without trailing zeros are the shortest that read back; they
// are written in fixed form when that is no longer than the exponent form (the
// choice to_chars makes, ties to fixed). Anything else goes to to_chars.
//
// n is guessed as d * 100 rounded to the nearest whole number: the product is
// often a hair off a whole number (an amount of 0.29 gives 28.999999999999996),
// and a guess that is wrong only fails the exact test after it.
inline char* putUnsigned(char* p, uint64_t v);
inline const char* digitPairs();
inline int digitCount(uint64_t v);

CSVOUT_INLINE char* putDouble(char* p, double d) {  // p has room for 32 bytes
    const double scaled = d * 100.0;
    if (std::fabs(scaled) < 1e15) {
        const int64_t n = static_cast<int64_t>(scaled + (scaled < 0 ? -0.5 : 0.5));  // the guess
        // The exact test: n / 100, correctly rounded (IEEE division of exact operands), is d.
        if (!(n == 0 && std::signbit(d)) && static_cast<double>(n) / 100.0 == d) {
            if (n == 0) {
                *p = '0';
                return p + 1;
            }
            const uint64_t m = n < 0 ? ~static_cast<uint64_t>(n) + 1 : static_cast<uint64_t>(n);
            const unsigned cents = static_cast<unsigned>(m % 100);
            const int decimals = cents == 0 ? 0 : cents % 10 == 0 ? 1 : 2;
            bool fixed = true;
            if (cents == 0) {
                // Only a whole amount can be shorter with an exponent (100000 is
                // 1e+05): with cents the fixed form has at least four characters
                // fewer than d.ddde+XX of the same digits.
                const int count = digitCount(m);
                int zeros = 0;  // of m's digits, how many end it as zeros
                for (uint64_t x = m; x % 10 == 0; x /= 10) ++zeros;
                const int significant = count - zeros;
                const int fixedLength = count > 2 ? count - 2 : 1;
                const int exponentLength = significant + (significant > 1) + 4;
                fixed = fixedLength <= exponentLength;
            }
            if (fixed) {
                if (n < 0) *p++ = '-';
                p = putUnsigned(p, m / 100);
                *p = '.';
                std::memcpy(p + 1, digitPairs() + 2 * cents, 2);
                return p + (decimals ? 1 + decimals : 0);
            }
        }
    }
    auto [end, ec] = std::to_chars(p, p + 32, d);  // the shortest form of a double fits
    return ec == std::errc() ? end : p;
}

inline void appendDouble(std::string& out, double d) {
    char buf[32];
    out.append(buf, putDouble(buf, d));
}

// Decimal digits two at a time.
inline const char* digitPairs() {
    static const char pairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    return pairs;
}

// How many decimal digits v has (1 for 0).
inline int digitCount(uint64_t v) {
    static constexpr uint64_t kPowers[20] = {1ull,
                                             10ull,
                                             100ull,
                                             1000ull,
                                             10000ull,
                                             100000ull,
                                             1000000ull,
                                             10000000ull,
                                             100000000ull,
                                             1000000000ull,
                                             10000000000ull,
                                             100000000000ull,
                                             1000000000000ull,
                                             10000000000000ull,
                                             100000000000000ull,
                                             1000000000000000ull,
                                             10000000000000000ull,
                                             100000000000000000ull,
                                             1000000000000000000ull,
                                             10000000000000000000ull};
    // A bit length of b gives floor(b * log10(2)) or one digit more.
    const int t = (std::bit_width(v | 1) * 1233) >> 12;
    return t - ((v | 1) < kPowers[t]) + 1;
}

// x (below 100000: every 1- and 2-byte integer) in decimal at p, which has room
// for 8 bytes; returns the end. One digit and two pairs, put together in a
// register and shifted past the leading zeros: no loop, and no branch on x.
CSVOUT_INLINE char* putSmall(char* p, uint32_t x) {
    const uint32_t first = x / 10000, rest = x - first * 10000;
    uint16_t high, low;
    std::memcpy(&high, digitPairs() + 2 * (rest / 100), 2);
    std::memcpy(&low, digitPairs() + 2 * (rest % 100), 2);
    uint64_t digits = ('0' + uint64_t{first}) | uint64_t{high} << 8 | uint64_t{low} << 24;
    const int count = digitCount(x);
    digits >>= 8 * (5 - count);
    std::memcpy(p, &digits, 8);
    return p + count;
}

// v in decimal at p (which has room for 32 bytes); returns the end. Values below
// 100000 go to putSmall; the rest of up to ten digits (every 4-byte integer) are
// written without a branch on their size: all five digit pairs are made and the
// leading zeros shifted out, so a row's mixed widths cost no mispredicted loop.
// Larger values take one pair at a time.
inline char* putUnsigned(char* p, uint64_t v) {
    if (v >= 10000000000ull) {
        char buf[20];
        char* b = buf + sizeof buf;
        while (v >= 100) {
            b -= 2;
            std::memcpy(b, digitPairs() + 2 * (v % 100), 2);
            v /= 100;
        }
        if (v >= 10) {
            b -= 2;
            std::memcpy(b, digitPairs() + 2 * v, 2);
        } else {
            *--b = static_cast<char>('0' + v);
        }
        const size_t n = static_cast<size_t>(buf + sizeof buf - b);
        std::memcpy(p, b, n);
        return p + n;
    }
    if (v < 100000) return putSmall(p, static_cast<uint32_t>(v));
    // Split into the top two digits and two halves of four, whose pairs come
    // from short chains of 32-bit arithmetic that run side by side.
    const uint32_t top = static_cast<uint32_t>(v / 100000000);
    const uint32_t low = static_cast<uint32_t>(v - uint64_t{top} * 100000000);
    const uint32_t high4 = low / 10000, low4 = low % 10000;
    // The ten digits as one 16-byte value, first digit in the lowest byte, built
    // in registers: written out through memory and read back in one piece, they
    // would wait for the stores to drain.
    auto pair = [](uint32_t k) {
        uint16_t two;
        std::memcpy(&two, digitPairs() + 2 * k, 2);
        return two;
    };
    const uint64_t first8 = uint64_t{pair(top)} | uint64_t{pair(high4 / 100)} << 16 |
                            uint64_t{pair(high4 % 100)} << 32 | uint64_t{pair(low4 / 100)} << 48;
    const uint64_t last2 = pair(low4 % 100);
    const int count = digitCount(v);
    const int drop = 8 * (10 - count);  // the leading zeros, 0 to 32 bits
#if defined(CSVOUT_INT128)
    unsigned __int128 digits = first8 | static_cast<unsigned __int128>(last2) << 64;
    digits >>= drop;
    std::memcpy(p, &digits, 16);
#else
    const uint64_t lowWord = drop == 0 ? first8 : first8 >> drop | last2 << (64 - drop);
    const uint64_t highWord = last2 >> drop;
    std::memcpy(p, &lowWord, 8);
    std::memcpy(p + 8, &highWord, 8);
#endif
    return p + count;
}

inline char* putSigned(char* p, int64_t v) {  // p has room for 32 bytes
    // The sign without a branch: signs in a column of amounts or indexes change
    // from row to row.
    const bool negative = v < 0;
    *p = '-';
    const uint64_t u = static_cast<uint64_t>(v);
    return putUnsigned(p + negative, negative ? ~u + 1 : u);
}


// A date as yyyy-mm-dd at p (room for 10 bytes); year 1 to 9999, as the date
// fields hold.
CSVOUT_INLINE char* putDate(char* p, int year, int month, int day) {
    std::memcpy(p, digitPairs() + 2 * (year / 100), 2);
    std::memcpy(p + 2, digitPairs() + 2 * (year % 100), 2);
    p[4] = '-';
    std::memcpy(p + 5, digitPairs() + 2 * month, 2);
    p[7] = '-';
    std::memcpy(p + 8, digitPairs() + 2 * day, 2);
    return p + 10;
}

// A time of day as hh:mm:ss, with .cc when there are hundredths (room for 11 bytes).
inline char* putTime(char* p, const btrieve::Time& t) {
    std::memcpy(p, digitPairs() + 2 * t.hour, 2);
    p[2] = ':';
    std::memcpy(p + 3, digitPairs() + 2 * t.minute, 2);
    p[5] = ':';
    std::memcpy(p + 6, digitPairs() + 2 * t.second, 2);
    if (t.hundredths == 0) return p + 8;
    p[8] = '.';
    std::memcpy(p + 9, digitPairs() + 2 * t.hundredths, 2);
    return p + 11;
}

// A decoded value (the general path) by the same writers as the direct path.
inline void appendValue(std::string& out, const btrieve::Value& v) {
    if (auto* s = std::get_if<std::string>(&v)) {
        appendText(out, *s);
        return;
    }
    char buf[32];
    char* p = buf;
    if (auto* i = std::get_if<int64_t>(&v)) p = putSigned(p, *i);
    else if (auto* u = std::get_if<uint64_t>(&v)) p = putUnsigned(p, *u);
    else if (auto* d = std::get_if<double>(&v)) p = putDouble(p, *d);
    else if (auto* b = std::get_if<bool>(&v)) *p++ = *b ? '1' : '0';
    else if (auto* dt = std::get_if<btrieve::Date>(&v)) p = putDate(p, dt->year, dt->month, dt->day);
    else if (auto* t = std::get_if<btrieve::Time>(&v)) p = putTime(p, *t);
    // monostate and NoDate: an empty field.
    out.append(buf, p);
}

// What one pass over a text field's bytes tells: its length without trailing
// blanks and zero bytes, and whether any byte needs more than a copy (0x80 and up,
// or a comma, quote, CR or LF). Bytes past that length are blanks or zeros, which
// need nothing, so looking at all of them is the same as looking at the text.
struct TextScan {
    size_t length = 0;
    bool plain = true;
};

// One word of a field, whose first byte lies at offset at.
inline void scanWord(uint64_t w, size_t at, TextScan& scan) {
    constexpr uint64_t ones = 0x0101010101010101ull;
    const uint64_t kept = ~zeroBytes(w & ~(0x20 * ones)) & 0x8080808080808080ull;
    if (kept) scan.length = at + static_cast<size_t>((63 - std::countl_zero(kept)) / 8) + 1;
    scan.plain &= plainWord(w);
}

// Copies the n bytes at s to p as they stand and scans them. The words looked at
// depend only on n, which is fixed for a field, so a row's loops run the same way
// every time whatever its text. p has room for max(n, 8) bytes.
CSVOUT_INLINE TextScan copyScan(char* p, const char* s, size_t n) {
    TextScan scan;
    if (n < 8) {  // one word, zero-padded
        uint64_t w = 0;
        if (n >= 4) {
            uint32_t a, b;
            std::memcpy(&a, s, 4);
            std::memcpy(&b, s + n - 4, 4);
            w = a | uint64_t{b} << (8 * (n - 4));
        } else if (n > 0) {
            w = uint64_t{static_cast<uint8_t>(s[0])} | uint64_t{static_cast<uint8_t>(s[n / 2])} << (8 * (n / 2)) |
                uint64_t{static_cast<uint8_t>(s[n - 1])} << (8 * (n - 1));
        }
        std::memcpy(p, &w, 8);
        scanWord(w, 0, scan);
        return scan;
    }
#if defined(CSVOUT_SSE2)
    if (n >= 16) {
        const __m128i blank = _mm_set1_epi8(' '), zero = _mm_setzero_si128();
        const __m128i comma = _mm_set1_epi8(','), quote = _mm_set1_epi8('"');
        const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
        auto blanks = [&](__m128i v) {
            return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, blank), _mm_cmpeq_epi8(v, zero))));
        };
        // Sixteen bytes at a time, the last sixteen overlapping the ones before.
        auto next = [n](size_t at) { return std::min(at + 16, n - 16); };
        // A field of nothing but blanks and zeros (filler, an empty line) is told
        // by comparing alone, and stops at its first sixteen bytes otherwise.
        for (size_t at = 0;; at = next(at)) {
            if (blanks(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + at))) != 0xFFFFu) break;
            if (at + 16 >= n) return scan;  // empty, and plain
        }
        // Which bytes need more than a copy is gathered in one register, and
        // where the last kept byte lies is worked out once, from the last piece
        // that kept any: no branch on the text.
        __m128i bad = _mm_setzero_si128();
        size_t lastAt = 0;
        unsigned lastKept = 0;
        for (size_t at = 0;; at = next(at)) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + at));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p + at), v);
            const unsigned kept = ~blanks(v) & 0xFFFFu;
            lastAt = kept ? at : lastAt;
            lastKept = kept ? kept : lastKept;
            const __m128i special = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, comma), _mm_cmpeq_epi8(v, quote)),
                                                 _mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)));
            bad = _mm_or_si128(bad, _mm_or_si128(special, v));
            if (at + 16 >= n) break;
        }
        scan.length = lastAt + static_cast<size_t>(std::bit_width(lastKept | 1u));
        scan.plain = _mm_movemask_epi8(bad) == 0;
        return scan;
    }
#endif
    // Eight bytes at a time, the last eight overlapping the ones before.
    for (size_t at = 0;; at = std::min(at + 8, n - 8)) {
        uint64_t w;
        std::memcpy(&w, s + at, 8);
        std::memcpy(p + at, &w, 8);
        scanWord(w, at, scan);
        if (at + 8 >= n) break;
    }
    return scan;
}

// A blank-padded text field at p: copied as it stands when plain, which is
// nearly always, else converted and quoted by putConverted.
CSVOUT_INLINE char* putPadded(char* p, std::string_view b) {
    const TextScan scan = copyScan(p, b.data(), b.size());
    if (scan.plain) return p + scan.length;
    return putConverted(p, b.substr(0, scan.length));
}

// How a field is written: straight from its bytes, or through decodeField.
enum class Direct : uint8_t { None, Char, Text, ZText, Int16, Signed, Unsigned, Float8, Float4, Date, Logical };

inline Direct directKind(const btrieve::FieldDef& f) {
    using T = btrieve::DataType;
    const uint32_t n = f.length;
    switch (f.type) {
    case T::String:
    case T::OldString: return n == 1 ? Direct::Char : n > 0 ? Direct::Text : Direct::None;
    case T::ZString: return n > 0 ? Direct::ZText : Direct::None;
    case T::Integer:
    case T::AutoIncrement: return n == 2 ? Direct::Int16 : n == 1 || n == 4 || n == 8 ? Direct::Signed : Direct::None;
    case T::UnsignedBinary:
    case T::OldBinary: return n > 0 && n <= 8 ? Direct::Unsigned : Direct::None;
    case T::Float: return n == 8 ? Direct::Float8 : n == 4 ? Direct::Float4 : Direct::None;
    case T::Date: return n == 4 ? Direct::Date : Direct::None;
    case T::Logical: return n == 1 || n == 2 ? Direct::Logical : Direct::None;
    default: return Direct::None;
    }
}

// Room a directly written field needs at most.
inline size_t directRoom(Direct kind, uint32_t length) {
    switch (kind) {
    case Direct::Char:
    case Direct::Text: return std::max<size_t>(3 * size_t{length} + 2, 8);
    case Direct::ZText: return 3 * size_t{length} + 2;
    case Direct::None: return 0;
    default: return 32;
    }
}

// The field whose bytes are b, written at p (with directRoom bytes of room).
CSVOUT_INLINE char* putDirect(char* p, Direct kind, std::string_view b) {
    switch (kind) {
    case Direct::Char: {
        // One byte: written, and kept unless a blank or zero; anything else
        // than plain ASCII goes through putConverted.
        const auto c = static_cast<unsigned char>(b[0]);
        if (c >= 0x80 || bytes().special[c]) return putConverted(p, b);
        *p = static_cast<char>(c);
        return p + (c != ' ' && c != 0);
    }
    case Direct::Text: return putPadded(p, b);
    case Direct::ZText: {
        // The text ends at the first zero byte, looked for a word at a time.
        size_t z = 0;
        for (; z + 8 <= b.size(); z += 8) {
            uint64_t w;
            std::memcpy(&w, b.data() + z, 8);
            if (const uint64_t zeros = zeroBytes(w)) return putText(p, b.substr(0, z + std::countr_zero(zeros) / 8));
        }
        while (z < b.size() && b[z] != 0) ++z;
        return putText(p, b.substr(0, z));
    }
    case Direct::Signed: {
        uint64_t u = btrieve::readLittleEndian(b);
        const unsigned bits = static_cast<unsigned>(b.size() * 8);
        if (bits < 64 && (u >> (bits - 1)) & 1) u |= ~uint64_t{0} << bits;
        return putSigned(p, static_cast<int64_t>(u));
    }
    case Direct::Int16: {  // the commonest integer: five digits at most
        int16_t v;
        std::memcpy(&v, b.data(), 2);
        const bool negative = v < 0;
        *p = '-';
        return putSmall(p + negative, static_cast<uint32_t>(negative ? -int32_t{v} : int32_t{v}));
    }
    case Direct::Unsigned: return putUnsigned(p, btrieve::readLittleEndian(b));
    case Direct::Float8: {
        double d;
        std::memcpy(&d, b.data(), 8);
        return putDouble(p, d);
    }
    case Direct::Float4: {
        float x;
        std::memcpy(&x, b.data(), 4);
        return putDouble(p, static_cast<double>(x));
    }
    case Direct::Date: {
        const int day = static_cast<uint8_t>(b[0]), month = static_cast<uint8_t>(b[1]);
        const int year = static_cast<uint8_t>(b[2]) | static_cast<uint8_t>(b[3]) << 8;
        if (!btrieve::isValidDate(year, month, day)) return p;  // no date: an empty field
        return putDate(p, year, month, day);
    }
    case Direct::Logical: *p = btrieve::readLittleEndian(b) != 0 ? '1' : '0'; return p + 1;
    case Direct::None: break;
    }
    return p;
}

// One field of rec as CSV. scratch holds the value on the general path. A field
// decodeField refuses gives its status and appends nothing of the field.
inline btrieve::Status appendField(std::string& out, const btrieve::FieldDef& f, std::string_view rec,
                                   btrieve::Value& scratch) {
    const Direct kind = directKind(f);
    if (kind != Direct::None && uint64_t{f.offset} + f.length <= rec.size()) {
        const size_t at = out.size();
        out.resize(at + directRoom(kind, f.length));
        char* end = putDirect(out.data() + at, kind, rec.substr(f.offset, f.length));
        out.resize(static_cast<size_t>(end - out.data()));
        return btrieve::Status::Success;
    }
    const btrieve::Status st = btrieve::decodeField(f, rec, scratch);
    if (btrieve::ok(st)) appendValue(out, scratch);
    return st;
}

// A growing byte buffer written through a pointer: room is made once for a whole
// row instead of checked byte by byte, and never zero-filled.
class Buffer {
public:
    // A pointer to at least n writable bytes after the contents.
    char* room(size_t n) {
        if (cap_ - size_ < n) grow(n);
        return data_.get() + size_;
    }
    // The contents now end at end (a pointer from room, moved on by what was written).
    void advance(const char* end) { size_ = static_cast<size_t>(end - data_.get()); }
    void append(std::string_view s) {
        char* p = room(s.size());
        if (!s.empty()) std::memcpy(p, s.data(), s.size());
        size_ += s.size();
    }
    void push_back(char c) {
        *room(1) = c;
        ++size_;
    }
    std::string_view view() const { return {data_.get(), size_}; }
    std::string_view view(size_t at, size_t length) const { return {data_.get() + at, length}; }
    size_t size() const { return size_; }
    void clear() { size_ = 0; }

private:
    void grow(size_t n) {
        const size_t cap = std::max({cap_ * 2, size_ + n, size_t{4096}});
        std::unique_ptr<char[]> data(new char[cap]);
        if (size_) std::memcpy(data.get(), data_.get(), size_);
        data_ = std::move(data);
        cap_ = cap;
    }
    std::unique_ptr<char[]> data_;
    size_t size_ = 0, cap_ = 0;
};

// Rows of a layout's fields, the same bytes as appendField gives field by field
// (commas between, CRLF after), with the kind of each field worked out once.
class RowWriter {
public:
    explicit RowWriter(const std::vector<btrieve::FieldDef>& fields) {
        for (const auto& f : fields) {
            const Direct kind = directKind(f);
            steps_.push_back({kind, f.offset, f.length, &f});
            room_ += directRoom(kind, f.length) + 1;
            allDirect_ = allDirect_ && kind != Direct::None;
            end_ = std::max<uint64_t>(end_, uint64_t{f.offset} + f.length);
        }
        room_ += 2;
    }

    // Appends rec's row; a field decodeField refuses stops the row after what
    // came before it and gives its status.
    btrieve::Status append(Buffer& out, std::string_view rec, btrieve::Value& scratch) const {
        char* p = out.room(room_);
        if (allDirect_ && rec.size() >= end_) {
            // Every field written straight from bytes the record holds: nothing
            // tested per field but its kind. The step is copied before use, as
            // every byte stored through p could otherwise be a change to it.
            const char* const r = rec.data();
            const Step* const steps = steps_.data();
            const size_t n = steps_.size();
            for (size_t i = 0; i < n; ++i) {
                const Step s = steps[i];
                p = putDirect(p, s.kind, std::string_view(r + s.offset, s.length));
                *p++ = ',';
            }
            if (n) --p;  // no comma after the last field
            *p++ = '\r';
            *p++ = '\n';
            out.advance(p);
            return btrieve::Status::Success;
        }
        for (size_t i = 0; i < steps_.size(); ++i) {
            const Step& s = steps_[i];
            if (i) *p++ = ',';
            if (s.kind != Direct::None && uint64_t{s.offset} + s.length <= rec.size()) {
                p = putDirect(p, s.kind, rec.substr(s.offset, s.length));
                continue;
            }
            out.advance(p);
            const btrieve::Status st = btrieve::decodeField(*s.field, rec, scratch);
            if (!btrieve::ok(st)) return st;
            std::string text;
            appendValue(text, scratch);
            out.append(text);
            p = out.room(room_);  // room for the rest of the row, as at its start
        }
        *p++ = '\r';
        *p++ = '\n';
        out.advance(p);
        return btrieve::Status::Success;
    }

private:
    struct Step {
        Direct kind;
        uint32_t offset, length;
        const btrieve::FieldDef* field;
    };
    std::vector<Step> steps_;
    size_t room_ = 0;
    bool allDirect_ = true;  // no field needs decodeField
    uint64_t end_ = 0;       // where the last field's bytes end
};

}  // namespace csvout
