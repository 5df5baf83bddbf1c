// Criteria texts such as "ARbalance > 0" or
// "nindex = 123 AND Journalid = 3 AND Quote = 0  AND ARamount <> AmountReceived".
//
// Grammar (blanks anywhere between tokens, "AND" in any case):
//   criteria := term { "AND" term }
//   term     := field op operand
//   op       := "=" | "<>" | ">" | "<" | ">=" | "<="
//   operand  := number | field | 'quoted text' | "quoted text" | bare word
// A number is [+-]digits[.digits]. An operand that is not a number and names a
// field of the layout is that field; any other word is text.
//
// Types: a number compares numerically with integer, float, money, decimal and
// logical fields (false = 0, true = 1); text compares exactly, byte by byte and
// case-sensitively, with text fields, and a number written against a text field
// is the text of its digits ("UserName = 123"). Two fields compare when both are
// text, both numeric (logical counting as numeric), both dates or both times.
// Anything else, e.g. a bare word against a numeric field, is a TypeMismatch.
#include "btrieve/criteria.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <tuple>
#include <compare>
#include <cstring>
#include <limits>

namespace btrieve {
namespace {

enum class Kind { Text, Number, Logical, Date, Time, Other };

Kind kindOf(DataType t) {
    switch (t) {
    case DataType::String: case DataType::OldString: case DataType::ZString:
    case DataType::LString:
        return Kind::Text;
    case DataType::Integer: case DataType::AutoIncrement: case DataType::UnsignedBinary:
    case DataType::OldBinary: case DataType::Float: case DataType::BFloat:
    case DataType::Money: case DataType::Decimal: case DataType::Numeric:
        return Kind::Number;
    case DataType::Logical: return Kind::Logical;
    case DataType::Date: return Kind::Date;
    case DataType::Time: return Kind::Time;
    default: return Kind::Other;
    }
}

bool numericKind(Kind k) { return k == Kind::Number || k == Kind::Logical; }

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

struct Token {
    enum Type { Word, Op, Quoted } type;
    std::string text;
};

bool isOpChar(char c) { return c == '<' || c == '>' || c == '=' || c == '!'; }
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

Status tokenize(std::string_view s, std::vector<Token>& out) {
    size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (isBlank(c)) {
            ++i;
        } else if (c == '\'' || c == '"') {
            const size_t end = s.find(c, i + 1);
            if (end == std::string_view::npos) return Status::CriteriaSyntax;
            out.push_back({Token::Quoted, std::string(s.substr(i + 1, end - i - 1))});
            i = end + 1;
        } else {
            const bool op = isOpChar(c);
            const size_t start = i;
            // A quote inside a word is part of it ("O'Brien").
            while (i < s.size() && !isBlank(s[i]) && isOpChar(s[i]) == op)
                ++i;
            out.push_back({op ? Token::Op : Token::Word, std::string(s.substr(start, i - start))});
        }
    }
    return Status::Success;
}

bool parseOp(std::string_view t, CompareOp& op) {
    if (t == "=") op = CompareOp::Eq;
    else if (t == "<>") op = CompareOp::Ne;
    else if (t == ">") op = CompareOp::Gt;
    else if (t == "<") op = CompareOp::Lt;
    else if (t == ">=") op = CompareOp::Ge;
    else if (t == "<=") op = CompareOp::Le;
    else return false;
    return true;
}

// [+-]digits[.digits] or [+-].digits; integers that overflow int64 become doubles.
bool parseNumber(const std::string& t, Value& out) {
    size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    size_t digits = 0;
    bool point = false;
    for (; i < t.size(); ++i) {
        if (std::isdigit(static_cast<unsigned char>(t[i]))) {
            ++digits;
        } else if (t[i] == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    if (digits == 0) return false;
    if (!point) {
        errno = 0;
        char* end = nullptr;
        const long long v = std::strtoll(t.c_str(), &end, 10);
        if (errno == 0) {
            out = static_cast<int64_t>(v);
            return true;
        }
    }
    out = std::strtod(t.c_str(), nullptr);
    return true;
}

std::optional<size_t> findField(const std::vector<FieldDef>& fields, std::string_view name) {
    for (size_t i = 0; i < fields.size(); ++i)
        if (equalsNoCase(fields[i].name, name)) return i;
    return std::nullopt;
}

// --- comparing decoded values ----------------------------------------------

bool asNumber(const Value& v, bool& integral, int64_t& i, uint64_t& u, bool& isUnsigned, double& d) {
    integral = true;
    isUnsigned = false;
    if (auto p = std::get_if<int64_t>(&v)) { i = *p; d = static_cast<double>(*p); return true; }
    if (auto p = std::get_if<bool>(&v)) { i = *p ? 1 : 0; d = static_cast<double>(i); return true; }
    if (auto p = std::get_if<uint64_t>(&v)) {
        u = *p;
        d = static_cast<double>(*p);
        if (*p <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) i = static_cast<int64_t>(*p);
        else isUnsigned = true;
        return true;
    }
    if (auto p = std::get_if<double>(&v)) { integral = false; d = *p; return true; }
    return false;
}

std::partial_ordering compareNumbers(const Value& a, const Value& b, bool& numeric) {
    bool ia, ib, ua, ub;
    int64_t xa = 0, xb = 0;
    uint64_t wa = 0, wb = 0;
    double da = 0, db = 0;
    numeric = asNumber(a, ia, xa, wa, ua, da) && asNumber(b, ib, xb, wb, ub, db);
    if (!numeric) return std::partial_ordering::unordered;
    if (ia && ib) {
        // Exact for every pair of 64-bit integers; a uint64 above INT64_MAX is
        // greater than any int64.
        if (ua || ub) {
            if (ua && ub) return wa <=> wb;
            return ua ? std::partial_ordering::greater : std::partial_ordering::less;
        }
        return xa <=> xb;
    }
    return da <=> db;
}

std::partial_ordering compareValues(const Value& a, const Value& b) {
    if (auto sa = std::get_if<std::string>(&a)) {
        if (auto sb = std::get_if<std::string>(&b)) {
            const int c = sa->compare(*sb);  // unsigned bytes
            return c < 0 ? std::partial_ordering::less
                         : (c > 0 ? std::partial_ordering::greater : std::partial_ordering::equivalent);
        }
        return std::partial_ordering::unordered;
    }
    const bool dateA = std::holds_alternative<Date>(a) || std::holds_alternative<NoDate>(a);
    const bool dateB = std::holds_alternative<Date>(b) || std::holds_alternative<NoDate>(b);
    if (dateA || dateB) {
        if (!dateA || !dateB) return std::partial_ordering::unordered;
        // No date orders before every date.
        const bool noA = std::holds_alternative<NoDate>(a), noB = std::holds_alternative<NoDate>(b);
        if (noA && noB) return std::partial_ordering::equivalent;
        if (noA) return std::partial_ordering::less;
        if (noB) return std::partial_ordering::greater;
        const Date& x = std::get<Date>(a);
        const Date& y = std::get<Date>(b);
        return std::tie(x.year, x.month, x.day) <=> std::tie(y.year, y.month, y.day);
    }
    if (auto ta = std::get_if<Time>(&a)) {
        if (auto tb = std::get_if<Time>(&b))
            return std::tie(ta->hour, ta->minute, ta->second, ta->hundredths) <=>
                   std::tie(tb->hour, tb->minute, tb->second, tb->hundredths);
        return std::partial_ordering::unordered;
    }
    bool numeric = false;
    return compareNumbers(a, b, numeric);
}

bool apply(CompareOp op, std::partial_ordering o) {
    switch (op) {
    case CompareOp::Eq: return o == 0;
    case CompareOp::Ne: return o != 0;  // true when unordered, as IEEE's NaN <> x
    case CompareOp::Gt: return o > 0;
    case CompareOp::Lt: return o < 0;
    case CompareOp::Ge: return o >= 0;
    case CompareOp::Le: return o <= 0;
    }
    return false;
}

// --- key bytes for a pinned field ----------------------------------------------

bool integralLiteral(const Value& v, int64_t& out) {
    if (auto p = std::get_if<int64_t>(&v)) { out = *p; return true; }
    if (auto p = std::get_if<double>(&v)) {
        if (*p >= -9.2e18 && *p <= 9.2e18 && static_cast<double>(static_cast<int64_t>(*p)) == *p) {
            out = static_cast<int64_t>(*p);
            return true;
        }
    }
    return false;
}

void appendLittleEndian(std::string& out, uint64_t v, size_t width) {
    for (size_t i = 0; i < width; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// The field bytes every record matching "field = literal" holds, as far as the
// segment's ordering is concerned; nullopt when that cannot be said.
std::optional<std::string> pinnedBytes(const FieldDef& f, const KeySegment& seg, const Value& literal) {
    const size_t n = f.length;
    switch (f.type) {
    case DataType::Integer:
    case DataType::AutoIncrement: {
        int64_t v;
        if (!integralLiteral(literal, v) || !widthAllowed(f.type, n)) return std::nullopt;
        if (n < 8) {
            const int64_t lim = int64_t{1} << (8 * n - 1);
            if (v < -lim || v >= lim) return std::nullopt;
        }
        std::string out;
        appendLittleEndian(out, static_cast<uint64_t>(v), n);
        return out;
    }
    case DataType::UnsignedBinary:
    case DataType::OldBinary: {
        int64_t v;
        if (!integralLiteral(literal, v) || v < 0 || !widthAllowed(f.type, n)) return std::nullopt;
        if (n < 8 && static_cast<uint64_t>(v) >> (8 * n) != 0) return std::nullopt;
        std::string out;
        appendLittleEndian(out, static_cast<uint64_t>(v), n);
        return out;
    }
    case DataType::ZString: {
        auto s = std::get_if<std::string>(&literal);
        if (seg.type != DataType::ZString || !s || s->size() > n) return std::nullopt;
        std::string out = *s;
        out.resize(n, '\0');
        return out;
    }
    case DataType::LString: {
        auto s = std::get_if<std::string>(&literal);
        if (seg.type != DataType::LString || !s || n == 0 || s->size() > n - 1) return std::nullopt;
        std::string out(1, static_cast<char>(s->size()));
        out += *s;
        out.resize(n, '\0');
        return out;
    }
    case DataType::Float: {
        if (seg.type != DataType::Float || !widthAllowed(f.type, n)) return std::nullopt;
        double d;
        if (auto p = std::get_if<int64_t>(&literal)) d = static_cast<double>(*p);
        else if (auto p = std::get_if<double>(&literal)) d = *p;
        else return std::nullopt;
        std::string out(n, '\0');
        if (n == 8) {
            std::memcpy(out.data(), &d, 8);
        } else {
            const float fl = static_cast<float>(d);
            std::memcpy(out.data(), &fl, 4);
        }
        return out;
    }
    default:
        return std::nullopt;
    }
}

}  // namespace

Status Criteria::parse(std::string_view text, const std::vector<FieldDef>& fields, Criteria& out) {
    std::vector<Token> tokens;
    if (Status st = tokenize(text, tokens); !ok(st)) return st;
    if (tokens.empty()) return Status::CriteriaSyntax;

    Criteria result;
    result.fields_ = fields;
    size_t i = 0;
    while (true) {
        // field
        if (i >= tokens.size() || tokens[i].type != Token::Word || equalsNoCase(tokens[i].text, "AND"))
            return Status::CriteriaSyntax;
        const auto field = findField(fields, tokens[i].text);
        if (!field) return Status::UnknownField;
        ++i;
        // operator
        Criterion term;
        term.field = *field;
        if (i >= tokens.size() || tokens[i].type != Token::Op || !parseOp(tokens[i].text, term.op))
            return Status::CriteriaSyntax;
        ++i;
        // operand
        if (i >= tokens.size() || tokens[i].type == Token::Op) return Status::CriteriaSyntax;
        const Token& operand = tokens[i++];
        const Kind kind = kindOf(fields[*field].type);
        if (kind == Kind::Other) return Status::TypeMismatch;
        Value number;
        if (operand.type == Token::Word && parseNumber(operand.text, number)) {
            if (kind == Kind::Text) term.literal = operand.text;
            else if (numericKind(kind)) term.literal = number;
            else return Status::TypeMismatch;
        } else if (auto other = operand.type == Token::Word ? findField(fields, operand.text)
                                                            : std::nullopt) {
            const Kind otherKind = kindOf(fields[*other].type);
            const bool compatible = (kind == otherKind && kind != Kind::Other) ||
                                    (numericKind(kind) && numericKind(otherKind));
            if (!compatible) return Status::TypeMismatch;
            term.otherField = *other;
        } else {
            if (kind != Kind::Text) return Status::TypeMismatch;
            term.literal = operand.text;
        }
        result.terms_.push_back(std::move(term));
        // AND, or the end
        if (i == tokens.size()) break;
        if (tokens[i].type != Token::Word || !equalsNoCase(tokens[i].text, "AND"))
            return Status::CriteriaSyntax;
        ++i;
        if (i == tokens.size()) return Status::CriteriaSyntax;  // dangling AND
    }
    out = std::move(result);
    return Status::Success;
}

bool Criteria::matches(std::string_view record) const {
    for (const Criterion& term : terms_) {
        Value left;
        if (term.field >= fields_.size() || !ok(decodeField(fields_[term.field], record, left)))
            return false;
        if (term.otherField) {
            Value right;
            if (*term.otherField >= fields_.size() ||
                !ok(decodeField(fields_[*term.otherField], record, right)))
                return false;
            if (!apply(term.op, compareValues(left, right))) return false;
        } else if (!apply(term.op, compareValues(left, term.literal))) {
            return false;
        }
    }
    return true;
}

std::optional<Criteria::KeyPrefix> Criteria::pinnedKeyPrefix(const KeySpec& key) const {
    KeyPrefix prefix;
    for (const KeySegment& seg : key.segments) {
        std::optional<std::string> bytes;
        for (const Criterion& term : terms_) {
            if (term.op != CompareOp::Eq || term.otherField || term.field >= fields_.size()) continue;
            const FieldDef& f = fields_[term.field];
            if (f.offset != seg.position || f.length != seg.length) continue;
            bytes = pinnedBytes(f, seg, term.literal);
            if (bytes) break;
        }
        if (!bytes) break;
        prefix.bytes += *bytes;
        ++prefix.segments;
    }
    if (prefix.segments == 0) return std::nullopt;
    return prefix;
}

}  // namespace btrieve
