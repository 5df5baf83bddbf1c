#include "sql/plan.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <sstream>

#include "btrieve/keys.h"
#include "btrieve/value.h"

namespace sqlplan {

using btrieve::DataType;
namespace keyflag = btrieve::keyflag;

namespace {

bool isNumber(const btrieve::KeySegment& s) {
    switch (s.type) {
    case DataType::Integer:
    case DataType::AutoIncrement:
    case DataType::UnsignedBinary:
        return s.length == 1 || s.length == 2 || s.length == 4 || s.length == 8;
    case DataType::Float: return s.length == 4 || s.length == 8;
    case DataType::Date: return s.length == 4;
    default: return false;
    }
}

bool isText(const btrieve::KeySegment& s) {
    switch (s.type) {
    case DataType::String:
    case DataType::OldString:
    case DataType::ZString:
        return s.length > 0;
    case DataType::LString: return s.length > 1;
    default: return false;
    }
}

void putLittleEndian(uint64_t v, size_t n, std::string& out) {
    for (size_t i = 0; i < n; ++i) out += static_cast<char>(v >> (8 * i));
}

// The value as a whole number, when it is one.
bool wholeNumber(const SqlValue& v, int64_t& out) {
    if (v.kind == SqlValue::Integer) {
        out = v.integer;
        return true;
    }
    if (v.kind == SqlValue::Real && std::trunc(v.real) == v.real && std::fabs(v.real) < 9.2e18) {
        out = static_cast<int64_t>(v.real);
        return true;
    }
    return false;
}

bool dateBytes(const std::string& text, std::string& out) {
    int y = 0, m = 0, d = 0;
    char tail = 0;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' ||
        std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3 || !btrieve::isValidDate(y, m, d))
        return false;
    out += static_cast<char>(d);
    out += static_cast<char>(m);
    putLittleEndian(static_cast<uint64_t>(y), 2, out);
    return true;
}

}  // namespace

std::vector<KeyUse> keyUses(const btrieve::FileInfo& info, const std::vector<btrieve::DictColumn>& columns) {
    std::vector<KeyUse> uses;
    for (size_t k = 0; k < info.keys.size(); ++k) {
        const btrieve::KeySpec& key = info.keys[k];
        KeyUse use;
        use.position = static_cast<int>(k);
        // A key that leaves null values out of its index does not list every row.
        use.usable = !key.segments.empty() && !btrieve::hasNullValue(key);
        use.unique = !key.allowsDuplicates();
        for (const auto& seg : key.segments) {
            SegmentUse s;
            for (size_t c = 0; c < columns.size(); ++c)
                if (sqlschema::servesSegment(columns[c], seg)) s.columns.push_back(static_cast<int>(c));
            const bool number = isNumber(seg), text = isText(seg);
            const bool acs = seg.flags & keyflag::Acs, folds = seg.flags & keyflag::CaseInsensitive;
            const bool descending = seg.flags & keyflag::Descending;
            const bool zeroEnded = seg.type == DataType::ZString || seg.type == DataType::LString;
            s.isText = text;
            s.pins = number || zeroEnded;
            s.textEquality = text && !zeroEnded && !descending;
            if (acs && seg.acs >= 0 && static_cast<size_t>(seg.acs) < info.acsTables.size()) {
                const auto& table = info.acsTables[static_cast<size_t>(seg.acs)];
                const auto [low, high] = std::minmax_element(table.begin(), table.end());
                s.lowest = static_cast<char>(low - table.begin());
                s.highest = static_cast<char>(high - table.begin());
            } else if (acs) {
                s.textEquality = false;  // a sequence the file does not hold
            }
            s.ranges = !descending && !acs && (number || (text && !folds));
            s.orders = s.ranges;
            s.checkOrder = s.orders && (text || seg.type == DataType::Float || seg.type == DataType::Date);
            use.segments.push_back(std::move(s));
        }
        uses.push_back(std::move(use));
    }
    return uses;
}

std::string Plan::text() const {
    std::ostringstream s;
    s << key << ' ' << pinned << ' ' << lower << ' ' << upper << ' ' << textEquality << ' ' << descending << ' '
      << checkOrder;
    for (int c : orderColumns) s << ' ' << c;
    return s.str();
}

// Read once per statement that looks a row up: numbers by hand, not by a stream.
bool Plan::parse(std::string_view text, Plan& out) {
    std::vector<int> numbers;
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
        int v = 0;
        const auto [next, ec] = std::from_chars(p, end, v);
        if (ec != std::errc()) return false;
        numbers.push_back(v);
        p = next;
        if (p < end && *p++ != ' ') return false;
    }
    if (numbers.size() < 7) return false;
    Plan plan;
    plan.key = numbers[0], plan.pinned = numbers[1];
    plan.lower = numbers[2], plan.upper = numbers[3], plan.textEquality = numbers[4];
    plan.descending = numbers[5], plan.checkOrder = numbers[6];
    plan.orderColumns.assign(numbers.begin() + 7, numbers.end());
    out = std::move(plan);
    return true;
}

bool segmentBytes(const btrieve::KeySegment& seg, const SegmentUse& use, const SqlValue& value, End end,
                  const sqlschema::TextEncoder& encoder, std::string& out) {
    const size_t n = seg.length;
    switch (seg.type) {
    case DataType::Integer:
    case DataType::AutoIncrement: {
        int64_t v;
        if (!wholeNumber(value, v)) return false;
        if (n < 8) {
            const int64_t limit = int64_t{1} << (8 * n - 1);
            if (v < -limit || v >= limit) return false;
        }
        putLittleEndian(static_cast<uint64_t>(v), n, out);
        return true;
    }
    case DataType::UnsignedBinary: {
        int64_t v;
        if (!wholeNumber(value, v) || v < 0 || (n < 8 && static_cast<uint64_t>(v) >> (8 * n) != 0)) return false;
        putLittleEndian(static_cast<uint64_t>(v), n, out);
        return true;
    }
    case DataType::Float: {
        if (value.kind != SqlValue::Integer && value.kind != SqlValue::Real) return false;
        const double d = value.kind == SqlValue::Integer ? static_cast<double>(value.integer) : value.real;
        if (std::isnan(d)) return false;
        char bytes[8];
        if (n == 4) {
            const float f = static_cast<float>(d);
            if (static_cast<double>(f) != d) return false;
            std::memcpy(bytes, &f, 4);
        } else {
            std::memcpy(bytes, &d, 8);
        }
        out.append(bytes, n);
        return true;
    }
    case DataType::Date:
        return value.kind == SqlValue::Text && dateBytes(value.text, out);
    case DataType::String:
    case DataType::OldString:
    case DataType::ZString:
    case DataType::LString: {
        std::string b;
        if (value.kind != SqlValue::Text || !encoder.encode(value.text, b)) return false;
        const bool lstring = seg.type == DataType::LString;
        const size_t room = lstring ? n - 1 : n;
        if (b.size() > room) return false;
        // Exact bytes end a ZSTRING's text with its NUL.
        const char fill = end == End::High ? use.highest : end == End::Exact ? '\0' : use.lowest;
        if (lstring) out += static_cast<char>(end == End::High ? room : b.size());
        out += b;
        out.append(room - b.size(), fill);
        return true;
    }
    default:
        return false;
    }
}

}  // namespace sqlplan
