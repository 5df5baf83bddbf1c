// Key values: the segments' bytes concatenated in segment order, each at its full
// length, copied verbatim from the record (bytes after a zstring's terminator too).
// Segments compare one after another, each by its own type, collation and direction:
//
// | segment type                        | order                                          |
// |-------------------------------------|------------------------------------------------|
// | STRING, old-style string            | bytes (through ACS / case folding)             |
// | ZSTRING                             | bytes up to the first zero, shorter first      |
// | LSTRING                             | bytes of the length given by byte 0            |
// | INTEGER, AUTOINCREMENT              | signed little-endian number, any width         |
// | UNSIGNED BINARY, old-style binary,  | unsigned little-endian number, any width       |
// | DATE, TIME, LOGICAL                 | (DATE: year, month, day; TIME: h, m, s, 1/100) |
// | FLOAT, BFLOAT, MONEY, DECIMAL,      | numeric value                                  |
// | NUMERIC                             |                                                |
// | WSTRING, WZSTRING                   | 16-bit code units (WZSTRING up to a zero unit) |
#include "btrieve/keys.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <variant>

#include "btrieve/value.h"

namespace btrieve {
namespace {

int sign(int v) { return (v > 0) - (v < 0); }

// Byte translation for text segments: an ACS table, ASCII upper-casing, or none.
struct Collation {
    const AcsTable* acs = nullptr;
    bool foldCase = false;
    uint8_t map(uint8_t c) const {
        if (acs) return (*acs)[c];
        if (foldCase && c >= 'a' && c <= 'z') return static_cast<uint8_t>(c - 'a' + 'A');
        return c;
    }
};

Collation collationOf(const KeySegment& seg, const FileInfo& info) {
    Collation c;
    if (seg.flags & keyflag::Acs) {
        if (seg.acs >= 0 && static_cast<size_t>(seg.acs) < info.acsTables.size())
            c.acs = &info.acsTables[static_cast<size_t>(seg.acs)];
    } else if (seg.flags & keyflag::CaseInsensitive) {
        c.foldCase = true;
    }
    return c;
}

int compareText(std::string_view a, std::string_view b, const Collation& c) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const int d = int{c.map(static_cast<uint8_t>(a[i]))} - int{c.map(static_cast<uint8_t>(b[i]))};
        if (d != 0) return sign(d);
    }
    return sign(static_cast<int>(a.size() > b.size()) - static_cast<int>(a.size() < b.size()));
}

// compareText of the two texts up to their first zero bytes, in one pass (keys are
// sorted by the million: finding each terminator first costs twice the work).
int compareZeroEnded(std::string_view a, std::string_view b, const Collation& c) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto x = static_cast<uint8_t>(a[i]), y = static_cast<uint8_t>(b[i]);
        if (x == 0 || y == 0) return sign(static_cast<int>(y == 0) - static_cast<int>(x == 0));
        const int d = int{c.map(x)} - int{c.map(y)};
        if (d != 0) return sign(d);
    }
    const bool aMore = a.size() > n && a[n] != '\0';
    const bool bMore = b.size() > n && b[n] != '\0';
    return sign(static_cast<int>(aMore) - static_cast<int>(bMore));
}

std::string_view lstringText(std::string_view s) {
    if (s.empty()) return s;
    const size_t len = std::min<size_t>(static_cast<uint8_t>(s[0]), s.size() - 1);
    return s.substr(1, len);
}

// Little-endian numbers of any width, from the most significant byte down; for a
// signed number the top byte carries the sign.
int compareLittleEndian(std::string_view a, std::string_view b, bool isSigned) {
    const size_t n = a.size();
    for (size_t i = n; i-- > 0;) {
        int x = static_cast<uint8_t>(a[i]), y = static_cast<uint8_t>(b[i]);
        if (isSigned && i + 1 == n) {
            x = static_cast<int8_t>(x);
            y = static_cast<int8_t>(y);
        }
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

int compareUtf16(std::string_view a, std::string_view b, bool toZero) {
    auto units = [toZero](std::string_view s) {
        size_t n = s.size() / 2;
        if (toZero) {
            for (size_t i = 0; i < n; ++i)
                if (s[2 * i] == '\0' && s[2 * i + 1] == '\0') return i;
        }
        return n;
    };
    const size_t na = units(a), nb = units(b);
    for (size_t i = 0; i < std::min(na, nb); ++i) {
        const int x = static_cast<uint8_t>(a[2 * i]) | static_cast<uint8_t>(a[2 * i + 1]) << 8;
        const int y = static_cast<uint8_t>(b[2 * i]) | static_cast<uint8_t>(b[2 * i + 1]) << 8;
        if (x != y) return x < y ? -1 : 1;
    }
    return sign(static_cast<int>(na > nb) - static_cast<int>(na < nb));
}

// NaN orders after every number so that sorting stays a strict weak ordering.
int compareDoubles(double x, double y) {
    const bool nx = std::isnan(x), ny = std::isnan(y);
    if (nx || ny) return sign(int{nx} - int{ny});
    return x < y ? -1 : (x > y ? 1 : 0);
}

// Numbers the value decoder reads; undecodable bytes fall back to byte order.
int compareDecoded(DataType type, std::string_view a, std::string_view b) {
    FieldDef f{"", type, 0, static_cast<uint32_t>(a.size())};
    Value va, vb;
    const bool okA = ok(decodeField(f, a, va)) && std::holds_alternative<double>(va);
    const bool okB = ok(decodeField(f, b, vb)) && std::holds_alternative<double>(vb);
    if (okA && okB) return compareDoubles(std::get<double>(va), std::get<double>(vb));
    // Undecodable values order first, by their bytes, keeping the order consistent.
    if (okA != okB) return okA ? 1 : -1;
    return sign(a.compare(b));
}

int compareSegment(const KeySegment& seg, const FileInfo& info, std::string_view a,
                   std::string_view b) {
    switch (seg.type) {
    case DataType::String:
    case DataType::OldString:
        return compareText(a, b, collationOf(seg, info));
    case DataType::ZString:
        return compareZeroEnded(a, b, collationOf(seg, info));
    case DataType::LString:
        return compareText(lstringText(a), lstringText(b), collationOf(seg, info));
    case DataType::Integer:
    case DataType::AutoIncrement:
        return compareLittleEndian(a, b, true);
    case DataType::UnsignedBinary:
    case DataType::OldBinary:
    case DataType::Date:
    case DataType::Time:
    case DataType::Logical:
        return compareLittleEndian(a, b, false);
    case DataType::Float:
        if (a.size() == 4) {
            float x, y;
            std::memcpy(&x, a.data(), 4);
            std::memcpy(&y, b.data(), 4);
            return compareDoubles(x, y);
        }
        if (a.size() == 8) {
            double x, y;
            std::memcpy(&x, a.data(), 8);
            std::memcpy(&y, b.data(), 8);
            return compareDoubles(x, y);
        }
        return sign(a.compare(b));
    case DataType::BFloat:
    case DataType::Money:
    case DataType::Decimal:
    case DataType::Numeric:
        return compareDecoded(seg.type, a, b);
    case DataType::WString:
        return compareUtf16(a, b, false);
    case DataType::WZString:
        return compareUtf16(a, b, true);
    default:
        return compareText(a, b, Collation{});
    }
}

int compareFull(const KeySpec& key, const FileInfo& info, std::string_view a,
                std::string_view b) {
    size_t off = 0;
    for (const auto& seg : key.segments) {
        int c = compareSegment(seg, info, a.substr(off, seg.length), b.substr(off, seg.length));
        if (seg.flags & keyflag::Descending) c = -c;
        if (c != 0) return c;
        off += seg.length;
    }
    return 0;
}

}  // namespace

std::string extractKey(const KeySpec& key, std::string_view record) {
    std::string out;
    out.reserve(key.totalLength());
    appendKey(key, record, out);
    return out;
}

void appendKey(const KeySpec& key, std::string_view record, std::string& out) {
    size_t at = out.size();
    out.resize(at + key.totalLength(), '\0');
    for (const auto& seg : key.segments) {
        if (seg.position < record.size()) {
            const size_t n = std::min<size_t>(seg.length, record.size() - seg.position);
            std::memcpy(out.data() + at, record.data() + seg.position, n);
        }
        at += seg.length;
    }
}

int compareKeys(const KeySpec& key, const FileInfo& info, std::string_view a, std::string_view b) {
    const size_t total = key.totalLength();
    if (a.size() >= total && b.size() >= total) return compareFull(key, info, a, b);
    // A short key value: the missing bytes count as zero.
    std::string pa(a.substr(0, std::min(a.size(), total))), pb(b.substr(0, std::min(b.size(), total)));
    pa.resize(total, '\0');
    pb.resize(total, '\0');
    return compareFull(key, info, pa, pb);
}

}  // namespace btrieve

namespace btrieve {

std::string padKeyValue(const KeySpec& key, std::string_view keyValue) {
    std::string out;
    out.reserve(key.totalLength());
    for (const auto& seg : key.segments) {
        const size_t start = out.size();
        const size_t given = start < keyValue.size() ? std::min<size_t>(seg.length, keyValue.size() - start) : 0;
        if (given > 0) out.append(keyValue.substr(start, given));
        const bool blanks = seg.type == DataType::String || seg.type == DataType::OldString;
        out.append(seg.length - given, blanks ? ' ' : '\0');
    }
    return out;
}

KeySpec leadingSegments(const KeySpec& key, size_t n) {
    KeySpec k = key;
    if (n < k.segments.size()) k.segments.resize(n);
    return k;
}

bool hasNullValue(const KeySpec& key) {
    return (key.flags() & (keyflag::NullAny | keyflag::NullAll)) != 0;
}

bool isNullKey(const KeySpec& key, std::string_view keyBytes) {
    const uint16_t flags = key.flags();
    const bool any = (flags & keyflag::NullAny) != 0;
    if (!any && (flags & keyflag::NullAll) == 0) return false;
    size_t at = 0;
    bool allNull = true;
    for (const KeySegment& seg : key.segments) {
        const std::string_view bytes = keyBytes.substr(std::min(at, keyBytes.size()), seg.length);
        at += seg.length;
        bool null = bytes.size() == seg.length;
        for (char c : bytes) null = null && static_cast<uint8_t>(c) == seg.nullValue;
        if (null && any) return true;
        allNull = allNull && null;
    }
    return !any && allNull;
}

}  // namespace btrieve
