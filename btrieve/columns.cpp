// Dictionary columns read from record bytes. The stored forms (all integers
// little-endian):
//
// | type code            | bytes     | stored form                                       |
// |----------------------|-----------|---------------------------------------------------|
// | 0 STRING             | n         | text, blank- or NUL-padded                        |
// | 1 INTEGER, 15 AUTOINC| 1,2,4,8   | signed two's complement                           |
// | 2 FLOAT              | 4, 8      | IEEE 754                                          |
// | 3 DATE               | 4         | 0 day, 1 month, 2-3 year                          |
// | 4 TIME               | 4         | 0 hundredths, 1 seconds, 2 minutes, 3 hours       |
// | 5 DECIMAL, 6 MONEY   | n         | packed BCD, 2n - 1 digits, sign in the last nibble|
// | 7 LOGICAL            | 1, 2      | 0 = false                                         |
// | 8 NUMERIC            | n         | ASCII digits, sign overpunched in the last byte   |
// | 9 BFLOAT             | 4, 8      | Microsoft Basic float                             |
// | 10 LSTRING           | n         | byte 0 = length, then the text                    |
// | 11 ZSTRING           | n         | text up to a NUL                                  |
// | 12 NOTE, 13 LVAR,    | up to n   | bytes, the record's variable tail                 |
// | 21 BLOB              |           |                                                   |
// | 14 UNSIGNED BINARY   | 1..8      | unsigned                                          |
#include "btrieve/columns.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "btrieve/value.h"

namespace btrieve {
namespace {

using Rule = ColumnReader::Rule;

const char* typeName(uint8_t type) {
    static const char* const names[] = {"STRING", "INTEGER", "FLOAT", "DATE", "TIME", "DECIMAL", "MONEY",
                                        "LOGICAL", "NUMERIC", "BFLOAT", "LSTRING", "ZSTRING", "NOTE", "LVAR",
                                        "UNSIGNED BINARY", "AUTOINCREMENT"};
    return type < std::size(names) ? names[type] : nullptr;
}

// Variable-length data that may end before its declared size: what the record holds of it.
bool isTail(uint8_t type) { return type == 12 || type == 13 || type == 21; }

// The rule for a type of a size, or None when the type cannot have that size.
Rule ruleFor(uint8_t type, uint32_t size) {
    const bool intSize = size == 1 || size == 2 || size == 4 || size == 8;
    switch (type) {
    case 0: return Rule::String;
    case 1:
    case 15: return intSize ? Rule::Signed : Rule::None;
    case 2: return size == 4 || size == 8 ? Rule::Float : Rule::None;
    case 3: return size == 4 ? Rule::Date : Rule::None;
    case 4: return size == 4 ? Rule::Time : Rule::None;
    case 5:
    case 6: return Rule::Packed;
    case 7: return size == 1 || size == 2 ? Rule::Logical : Rule::None;
    case 8: return Rule::Numeric;
    case 9: return size == 4 || size == 8 ? Rule::BFloat : Rule::None;
    case 10: return Rule::LString;
    case 11: return Rule::ZString;
    case 14: return size <= 8 ? Rule::Unsigned : Rule::None;
    default: return Rule::Bytes;
    }
}

SqlType sqlTypeFor(Rule r) {
    switch (r) {
    case Rule::Signed:
    case Rule::Unsigned:
    case Rule::Logical: return SqlType::Integer;
    case Rule::Float:
    case Rule::BFloat:
    case Rule::Packed:
    case Rule::Numeric: return SqlType::Real;
    case Rule::String:
    case Rule::ZString:
    case Rule::LString:
    case Rule::Date:
    case Rule::Time: return SqlType::Text;
    case Rule::None:
    case Rule::Bytes: return SqlType::Blob;
    }
    return SqlType::Blob;
}

void setText(const CodePage& cp, std::string_view b, Cell& out) {
    out.kind = CellKind::Text;
    out.text.clear();
    cp.appendUtf8(b, out.text);
}

void setBytes(std::string_view b, Cell& out) {
    out.kind = CellKind::Bytes;
    out.text.assign(b);
}

void putTwo(std::string& s, int v) {
    s.push_back(static_cast<char>('0' + v / 10));
    s.push_back(static_cast<char>('0' + v % 10));
}

// A decimal number's value in a form that compares equal exactly when the values do:
// sign, significant digits, and the power of ten of the first one.
struct Normal {
    bool negative = false;
    std::string digits;
    int exponent = 0;
    bool operator==(const Normal&) const = default;
};

Normal normalize(std::string_view text) {
    Normal n;
    size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) n.negative = text[i++] == '-';
    int point = -1, count = 0;
    for (; i < text.size() && text[i] != 'e' && text[i] != 'E'; ++i) {
        if (text[i] == '.') {
            point = count;
            continue;
        }
        n.digits.push_back(text[i]);
        ++count;
    }
    int exp = 0;
    if (i < text.size()) std::from_chars(text.data() + i + 1 + (text[i + 1] == '+'), text.data() + text.size(), exp);
    n.exponent = (point < 0 ? count : point) + exp;
    const size_t lead = n.digits.find_first_not_of('0');
    if (lead == std::string::npos) return Normal{};
    n.digits.erase(0, lead);
    n.exponent -= static_cast<int>(lead);
    n.digits.erase(n.digits.find_last_not_of('0') + 1);
    return n;
}

// out.text (a decimal number) also as the nearest double, and whether that double
// shows the same value again in its shortest form.
void finishDecimal(Cell& out) {
    out.kind = CellKind::Decimal;
    const char* b = out.text.data();
    std::from_chars(b, b + out.text.size(), out.real);
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, out.real);
    out.roundTrips = r.ec == std::errc() && normalize(std::string_view(buf, r.ptr - buf)) == normalize(out.text);
}

// digits (most significant first) with the last `decimals` after the point.
void setDecimal(bool negative, std::string_view digits, int decimals, Cell& out) {
    std::string& t = out.text;
    t.clear();
    const size_t d = static_cast<size_t>(decimals);
    const size_t whole = digits.size() > d ? digits.size() - d : 0;
    size_t lead = 0;
    while (lead < whole && digits[lead] == '0') ++lead;
    if (negative && digits.find_first_not_of('0') != std::string_view::npos) t.push_back('-');
    if (lead == whole) t.push_back('0');
    t.append(digits.substr(lead, whole - lead));
    if (d > 0) {
        t.push_back('.');
        if (digits.size() < d) t.append(d - digits.size(), '0');
        t.append(digits.substr(whole));
    }
    finishDecimal(out);
}

bool allZero(std::string_view b) {
    return b.find_first_not_of('\0') == std::string_view::npos;
}

// Packed BCD: 2n - 1 digits and a sign nibble (0xD or 0xB negative, any other from
// 0xA up positive). False when a nibble is not what its place allows.
bool readPacked(std::string_view b, int decimals, Cell& out) {
    char digits[2 * 256];
    std::string big;
    char* d = b.size() <= 256 ? digits : (big.resize(2 * b.size()), big.data());
    size_t n = 0;
    bool negative = false;
    for (size_t i = 0; i < b.size(); ++i) {
        const auto byte = static_cast<uint8_t>(b[i]);
        const int hi = byte >> 4, lo = byte & 0x0F;
        if (hi > 9) return false;
        d[n++] = static_cast<char>('0' + hi);
        if (i + 1 < b.size()) {
            if (lo > 9) return false;
            d[n++] = static_cast<char>('0' + lo);
        } else {
            if (lo < 0xA) return false;
            negative = lo == 0xD || lo == 0xB;
        }
    }
    setDecimal(negative, std::string_view(d, n), decimals, out);
    return true;
}

// ASCII digits, optionally led by blanks; the last byte may carry the sign: '{' and
// 'A'..'I' are +0..+9, '}' and 'J'..'R' are -0..-9.
bool readNumeric(std::string_view b, int decimals, Cell& out) {
    size_t i = 0;
    while (i + 1 < b.size() && b[i] == ' ') ++i;
    std::string digits(b.substr(i));
    bool negative = false;
    if (digits.empty()) return false;
    char& last = digits.back();
    if (last == '{' || last == '}') {
        negative = last == '}';
        last = '0';
    } else if (last >= 'A' && last <= 'I') {
        last = static_cast<char>('1' + (last - 'A'));
    } else if (last >= 'J' && last <= 'R') {
        negative = true;
        last = static_cast<char>('1' + (last - 'J'));
    }
    for (const char c : digits)
        if (c < '0' || c > '9') return false;
    setDecimal(negative, digits, decimals, out);
    return true;
}

// A float or double, as its 4 or 8 bytes give it.
void readFloat(std::string_view b, Cell& out) {
    out.kind = CellKind::Real;
    if (b.size() == 8) {
        std::memcpy(&out.real, b.data(), 8);
    } else {
        float f;
        std::memcpy(&f, b.data(), 4);
        out.real = f;
    }
}

// A number in the old Microsoft binary format; null when it does not decode.
void readBFloat(std::string_view b, Cell& out) {
    FieldDef f;
    f.type = DataType::BFloat;
    f.length = static_cast<uint32_t>(b.size());
    Value v;
    if (ok(decodeField(f, b, v))) {
        out.kind = CellKind::Real;
        out.real = std::get<double>(v);
    }
}

// A date (day, month, u16 year) as YYYY-MM-DD; null when it is no calendar date.
void readDate(std::string_view b, Cell& out) {
    const int day = static_cast<uint8_t>(b[0]), month = static_cast<uint8_t>(b[1]);
    const int year = static_cast<int>(readLittleEndian(b.substr(2, 2)));
    if (!isValidDate(year, month, day)) return;
    out.kind = CellKind::Text;
    out.text.clear();
    putTwo(out.text, year / 100);
    putTwo(out.text, year % 100);
    out.text.push_back('-');
    putTwo(out.text, month);
    out.text.push_back('-');
    putTwo(out.text, day);
}

// A time (hundredths, seconds, minutes, hours) as HH:MM:SS.CC; null when it is no
// time of day or never written (all zero).
void readTime(std::string_view b, Cell& out) {
    const int h = static_cast<uint8_t>(b[3]), m = static_cast<uint8_t>(b[2]);
    const int s = static_cast<uint8_t>(b[1]), c = static_cast<uint8_t>(b[0]);
    if (h > 23 || m > 59 || s > 59 || c > 99 || allZero(b)) return;
    out.kind = CellKind::Text;
    out.text.clear();
    putTwo(out.text, h);
    out.text.push_back(':');
    putTwo(out.text, m);
    out.text.push_back(':');
    putTwo(out.text, s);
    out.text.push_back('.');
    putTwo(out.text, c);
}

void appendHex(std::string_view b, std::string& out) {
    static const char digits[] = "0123456789abcdef";
    for (const unsigned char c : b) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
}

}  // namespace

const char* sqlTypeName(SqlType t) {
    switch (t) {
    case SqlType::Integer: return "INTEGER";
    case SqlType::Real: return "REAL";
    case SqlType::Text: return "TEXT";
    case SqlType::Blob: return "BLOB";
    }
    return "BLOB";
}

uint64_t longestRecord(const FileInfo& file) {
    // A compressed file's header may give no record length (0): its records are bounded
    // only by what they decompress to.
    const bool bounded = !file.variable && !file.compressed && file.recordLength > 0;
    return bounded ? file.recordLength : UINT64_MAX;
}

ColumnReader ColumnReader::make(const DictColumn& column, uint64_t longest, std::string& fault) {
    fault.clear();
    ColumnReader r;
    r.offset_ = column.offset;
    r.size_ = column.size;
    r.type_ = column.type;
    r.decimals_ = column.type == 6 && column.decimals == 0 ? 2 : column.decimals;
    r.rule_ = column.size == 0 ? Rule::None : ruleFor(column.type, column.size);
    r.sqlType_ = sqlTypeFor(r.rule_);
    const char* name = typeName(column.type);
    if (column.size == 0) {
        fault = "has no bytes (size 0)";
    } else if (r.rule_ == Rule::None) {
        // A type that cannot have this size: its bytes, as for a type not known.
        fault = std::string(name) + " of " + std::to_string(column.size) + " bytes: not a size a " + name + " can have";
        r.rule_ = Rule::Bytes;
        r.sqlType_ = SqlType::Blob;
    }
    if (static_cast<uint64_t>(column.offset) + column.size > longest && !(isTail(column.type) && column.offset < longest)) {
        if (!fault.empty()) fault += "; ";
        fault += "at offset " + std::to_string(column.offset) + ", " + std::to_string(column.size) +
                 " bytes, it reaches past the longest record the file holds (" + std::to_string(longest) +
                 " bytes)";
        r.rule_ = Rule::None;
    }
    return r;
}

void ColumnReader::read(std::string_view record, const CodePage& cp, Cell& out) const {
    out.kind = CellKind::Null;
    if (rule_ == Rule::None || offset_ >= record.size()) return;
    std::string_view b = record.substr(offset_);
    if (b.size() < size_) {
        if (!isTail(type_)) return;  // past the end of a shorter record
    } else {
        b = b.substr(0, size_);
    }
    switch (rule_) {
    case Rule::None: return;
    case Rule::String: {
        size_t n = b.size();
        while (n > 0 && (b[n - 1] == ' ' || b[n - 1] == '\0')) --n;
        setText(cp, b.substr(0, n), out);
        return;
    }
    case Rule::ZString: setText(cp, b.substr(0, std::min(b.find('\0'), b.size())), out); return;
    case Rule::LString:
        setText(cp, b.substr(1, std::min<size_t>(static_cast<uint8_t>(b[0]), b.size() - 1)), out);
        return;
    case Rule::Signed: {
        uint64_t u = readLittleEndian(b);
        const unsigned bits = static_cast<unsigned>(b.size() * 8);
        if (bits < 64 && (u >> (bits - 1)) & 1) u |= ~uint64_t{0} << bits;
        out.kind = CellKind::Integer;
        out.integer = static_cast<int64_t>(u);
        return;
    }
    case Rule::Unsigned:
        out.kind = CellKind::Unsigned;
        out.unsignedValue = readLittleEndian(b);
        return;
    case Rule::Logical:
        out.kind = CellKind::Integer;
        out.integer = readLittleEndian(b) != 0;
        return;
    case Rule::Float: readFloat(b, out); return;
    case Rule::BFloat: readBFloat(b, out); return;
    case Rule::Packed:
    case Rule::Numeric:
        // A field never written (all zero bytes, or all blanks) holds no number; any
        // other bytes that are not digits are kept as they are.
        if (allZero(b) || b.find_first_not_of(' ') == std::string_view::npos) return;
        if (!(rule_ == Rule::Packed ? readPacked(b, decimals_, out) : readNumeric(b, decimals_, out)))
            setBytes(b, out);
        return;
    case Rule::Date: readDate(b, out); return;
    case Rule::Time: readTime(b, out); return;
    case Rule::Bytes: setBytes(b, out); return;
    }
}

std::vector<ColumnReader> makeColumnReaders(const DictTable& table, const FileInfo& file) {
    std::vector<ColumnReader> readers;
    std::string fault;
    for (const auto& c : table.columns) readers.push_back(ColumnReader::make(c, longestRecord(file), fault));
    return readers;
}

void appendCsvText(const Cell& cell, std::string& out) {
    char buf[32];
    switch (cell.kind) {
    case CellKind::Null: return;
    case CellKind::Integer: out.append(buf, std::to_chars(buf, buf + sizeof buf, cell.integer).ptr); return;
    case CellKind::Unsigned: out.append(buf, std::to_chars(buf, buf + sizeof buf, cell.unsignedValue).ptr); return;
    case CellKind::Real: {
        const auto r = std::to_chars(buf, buf + sizeof buf, cell.real);
        if (r.ec == std::errc()) out.append(buf, r.ptr);
        return;
    }
    case CellKind::Decimal:
    case CellKind::Text: out.append(cell.text); return;
    case CellKind::Bytes: appendHex(cell.text, out); return;
    }
}

namespace {
// Whether text holds a comma, quote, CR or LF (one pass, no call per byte).
bool needsQuotes(std::string_view text) {
    for (const char c : text)
        if (c == ',' || c == '"' || c == '\r' || c == '\n') return true;
    return false;
}
}  // namespace

void appendCsvField(const Cell& cell, std::string& out) {
    if (cell.kind != CellKind::Text || !needsQuotes(cell.text)) {
        appendCsvText(cell, out);
        return;
    }
    out.push_back('"');
    for (const char c : cell.text) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
}

}  // namespace btrieve
