#include "sql/schema.h"

#include <algorithm>

namespace sqlschema {

using btrieve::DataType;

namespace {

std::string quoted(std::string_view s, char q) {
    std::string out(1, q);
    for (char c : s) {
        if (c == q) out += q;
        out += c;
    }
    out += q;
    return out;
}

// The bytes of one UTF-8 sequence starting at s[i] (1 for a stray byte).
size_t sequenceLength(std::string_view s, size_t i) {
    const auto c = static_cast<uint8_t>(s[i]);
    const size_t n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return std::min(n, s.size() - i);
}

}  // namespace

std::string quoteIdentifier(std::string_view name) { return quoted(name, '"'); }
std::string quoteLiteral(std::string_view text) { return quoted(text, '\''); }

std::vector<btrieve::DictColumn> layoutColumns(const layouts::Layout& layout) {
    std::vector<btrieve::DictColumn> columns;
    for (const auto& f : layout.fields) {
        btrieve::DictColumn c;
        c.name = f.name;
        c.id = static_cast<uint16_t>(columns.size() + 1);
        c.type = static_cast<uint8_t>(f.type);
        c.offset = f.offset;
        c.size = f.length;
        columns.push_back(std::move(c));
    }
    return columns;
}

std::vector<btrieve::DictKey> layoutKeys(const layouts::Layout& layout) {
    std::vector<btrieve::DictKey> keys;
    for (const auto& k : layout.keys) {
        btrieve::DictKey key;
        key.number = k.number;
        for (size_t i = 0; i < layout.fields.size(); ++i)
            if (layout.fields[i].name == k.field)
                key.parts.push_back({static_cast<uint16_t>(i + 1), static_cast<int>(i), 0});
        keys.push_back(std::move(key));
    }
    return keys;
}

std::string columnList(const std::vector<btrieve::DictColumn>& columns,
                       const std::vector<btrieve::ColumnReader>& readers) {
    std::string sql = "(";
    for (size_t i = 0; i < columns.size(); ++i) {
        if (i) sql += ", ";
        sql += quoteIdentifier(columns[i].name);
        sql += ' ';
        sql += btrieve::sqlTypeName(readers[i].sqlType());
    }
    return sql + ")";
}

std::vector<std::string> createIndexes(std::string_view name, const std::vector<btrieve::DictKey>& keys,
                                       const std::vector<btrieve::DictColumn>& columns) {
    std::vector<std::string> out;
    for (const auto& key : keys) {
        std::string list;
        bool whole = !key.parts.empty();
        for (const auto& part : key.parts) {
            if (part.column < 0 || static_cast<size_t>(part.column) >= columns.size()) whole = false;
            if (!whole) break;
            list += (list.empty() ? "" : ", ") + quoteIdentifier(columns[static_cast<size_t>(part.column)].name);
        }
        if (!whole) continue;
        const std::string index = std::string(name) + "_key" + std::to_string(key.number);
        out.push_back("CREATE INDEX " + quoteIdentifier(index) + " ON " + quoteIdentifier(name) + " (" + list +
                      ")");
    }
    return out;
}

bool servesSegment(const btrieve::DictColumn& column, const btrieve::KeySegment& segment) {
    if (column.offset != segment.position || column.size != segment.length) return false;
    const auto type = static_cast<DataType>(column.type);
    if (type == segment.type) return true;
    // Keys of the old style compare bytes, as a STRING column's text does.
    return segment.type == DataType::OldString && type == DataType::String;
}

TextEncoder::TextEncoder(const btrieve::CodePage& codePage) : codePage_(codePage) {
    for (int b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        std::string utf8 = codePage.toUtf8(std::string_view(&byte, 1));
        if (!utf8.empty()) single_.emplace_back(std::move(utf8), byte);
    }
    std::sort(single_.begin(), single_.end());
}

bool TextEncoder::encode(std::string_view utf8, std::string& out) const {
    out.clear();
    for (size_t i = 0; i < utf8.size();) {
        const size_t n = sequenceLength(utf8, i);
        const std::string ch(utf8.substr(i, n));
        auto it = std::lower_bound(single_.begin(), single_.end(), std::make_pair(ch, '\0'),
                                   [](const auto& a, const auto& b) { return a.first < b.first; });
        if (it == single_.end() || it->first != ch) {
            // A character no single byte stands for: the code page's own converter.
            if (!codePage_.fromUtf8(utf8, out)) return false;
            break;
        }
        out += it->second;
        i += n;
    }
    return codePage_.toUtf8(out) == utf8;
}

}  // namespace sqlschema
