#include "data/layouts.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <set>
#include <sstream>
#include <string_view>

namespace layouts {

using btrieve::DataType;
using btrieve::FieldDef;
using btrieve::Status;

namespace {

constexpr const char* kDateFormat = "M/D/YY";
constexpr const char* kTimeFormat = "HH:MM:SS AM/PM";

FieldDef f(const char* name, DataType type, uint32_t offset, uint32_t length) {
    return FieldDef{name, type, offset, length};
}

std::vector<KeyDef> keysOn(std::initializer_list<const char*> fields) {
    std::vector<KeyDef> keys;
    int n = 0;
    for (const char* field : fields) {
        std::string name = "KEY0" + std::to_string(n);
        keys.push_back(KeyDef{name, field, n});
        ++n;
    }
    return keys;
}

Layout makeCustomer() {
    constexpr DataType Z = DataType::ZString;
    Layout l;
    l.tableName = "Cust";
    l.fileName = "customer.dat";
    l.ownerName = "MyHolder";
    l.recordLength = 2790;
    l.fields = {
        f("custID", Z, 0, 21),          f("type", Z, 21, 9),
        f("contact", Z, 30, 21),        f("Phone", Z, 51, 21),
        f("Fax", Z, 72, 21),            f("skip60", Z, 93, 60),
        f("ARbalance", DataType::Float, 153, 8),
        f("skip759a", Z, 161, 255),     f("skip759b", Z, 416, 255),
        f("skip759c", Z, 671, 248),     f("BillName", Z, 919, 31),
        f("BillAddr1", Z, 950, 31),     f("BillAddr2", Z, 981, 31),
        f("BillCity", Z, 1012, 21),     f("BillState", Z, 1033, 3),
        f("BillZip", Z, 1036, 13),      f("BillCountry", Z, 1049, 16),
        f("skip1712a", Z, 1065, 250),   f("skip1712b", Z, 1315, 250),
        f("skip1712c", Z, 1565, 250),   f("skip1712d", Z, 1815, 250),
        f("skip1712e", Z, 2065, 250),   f("skip1712f", Z, 2315, 250),
        f("skip1712g", Z, 2565, 156),   f("Email", Z, 2721, 65),
        f("nindex", DataType::Integer, 2786, 4),
    };
    l.keys = keysOn({"custID", "Phone", "Fax", "BillName", "nindex"});
    l.fieldList = "type, contact, Phone, Fax, ARbalance, BillName, BillAddr1, BillAddr2, "
                  "BillCity, BillState, BillZip, BillCountry, Email, nindex, custID";
    l.dateFormat = kDateFormat;
    l.timeFormat = kTimeFormat;
    return l;
}

Layout makeJournal() {
    constexpr DataType S = DataType::String;
    constexpr DataType I = DataType::Integer;
    constexpr DataType F = DataType::Float;
    constexpr DataType D = DataType::Date;
    Layout l;
    l.tableName = "Jrnl";
    l.fileName = "journal.dat";
    l.ownerName = "MyHolder";
    l.recordLength = 259;
    l.fields = {
        f("subindex1", S, 0, 1),     f("trxnumber", I, 1, 2),
        f("Period", I, 3, 2),        f("Journalid", I, 5, 2),
        f("subindex2", S, 7, 1),     f("Journalcode", S, 8, 1),
        f("nindex", I, 9, 2),        f("Custid", S, 11, 19),
        f("Date", D, 30, 4),         f("ARaccount", S, 34, 16),
        f("nrecord", I, 50, 4),      f("CustName", S, 54, 31),
        f("ARamount", F, 85, 8),     f("InvNumber", S, 93, 21),
        f("Posted", S, 114, 1),      f("skip3", S, 115, 3),
        f("DateCleared", D, 118, 4), f("SalesTaxCode", DataType::ZString, 122, 9),
        f("skip115", S, 131, 115),   f("Quote", DataType::Logical, 246, 1),
        f("GoodThru", D, 247, 4),    f("AmountReceived", F, 251, 8),
    };
    l.keys = keysOn({"nindex"});
    l.fieldList = "Date, InvNumber, ARamount, AmountReceived, Quote";
    l.dateFormat = kDateFormat;
    l.timeFormat = kTimeFormat;
    return l;
}

Layout makePermiss() {
    Layout l;
    l.tableName = "PERMISS";
    l.fileName = "Permiss.dat";
    l.ownerName = "MyHolder";
    l.recordLength = 35;
    l.fields = {
        f("UserName", DataType::ZString, 0, 17),
        f("Inactive", DataType::String, 17, 1),
        f("Password", DataType::ZString, 18, 17),
    };
    l.keys = keysOn({"UserName"});
    l.fieldList = "*";
    l.dateFormat = kDateFormat;
    l.timeFormat = kTimeFormat;
    return l;
}

// --- stored-state text -------------------------------------------------------

std::vector<std::string_view> split(std::string_view s, char sep) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        size_t at = s.find(sep, start);
        parts.push_back(s.substr(start, at == std::string_view::npos ? s.size() - start : at - start));
        if (at == std::string_view::npos) break;
        start = at + 1;
    }
    return parts;
}

// Words separated by runs of blanks.
std::vector<std::string_view> words(std::string_view s) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && s[i] == ' ') ++i;
        size_t start = i;
        while (i < s.size() && s[i] != ' ') ++i;
        if (i > start) out.push_back(s.substr(start, i - start));
    }
    return out;
}

bool parseNumber(std::string_view s, uint32_t& out) {
    if (s.empty()) return false;
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && ptr == s.data() + s.size();
}

bool knownType(uint32_t code) {
    switch (code) {
    case 0: case 1: case 2: case 3: case 4: case 5: case 6: case 7: case 8: case 9:
    case 10: case 11: case 12: case 13: case 14: case 15: case 16: case 17: case 18:
    case 19: case 20: case 25: case 26:
        return true;
    default:
        return false;
    }
}

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace

std::string keyDifferences(const Layout& layout, const btrieve::FileInfo& info) {
    std::ostringstream diff;
    for (const auto& key : layout.keys) {
        const FieldDef* field = nullptr;
        for (const auto& fd : layout.fields)
            if (sameIgnoringCase(fd.name, key.field)) field = &fd;
        const btrieve::KeySpec* fileKey = nullptr;
        for (const auto& k : info.keys)
            if (k.number == key.number) fileKey = &k;
        if (!field) continue;  // fromStoredState refuses such a layout
        const bool same = fileKey && fileKey->segments.size() == 1 &&
                          fileKey->segments[0].position == field->offset &&
                          fileKey->segments[0].length == field->length;
        if (same) continue;
        diff << (diff.tellp() > 0 ? "; " : "") << key.name << " (" << field->name << " at " << field->offset
             << ", " << field->length << " bytes)";
        if (!fileKey)
            diff << " is missing";
        else
            diff << " differs from the file's key " << fileKey->number << " (" << fileKey->segments.size()
                 << " segment(s), first at " << (fileKey->segments.empty() ? 0 : fileKey->segments[0].position)
                 << ", " << fileKey->totalLength() << " bytes)";
    }
    return diff.str();
}

std::string fileDifferences(const Layout& layout, const btrieve::FileInfo& info) {
    std::string diff;
    if (info.recordLength != layout.recordLength)
        diff = "record length " + std::to_string(info.recordLength) + ", the layout's " +
               std::to_string(layout.recordLength);
    const std::string keys = keyDifferences(layout, info);
    if (!keys.empty()) diff += (diff.empty() ? "" : "; ") + keys;
    return diff;
}

const FieldDef* Layout::field(const std::string& name) const {
    for (const auto& fd : fields)
        if (fd.name == name) return &fd;
    return nullptr;
}

const Layout& customer() {
    static const Layout l = makeCustomer();
    return l;
}

const Layout& journal() {
    static const Layout l = makeJournal();
    return l;
}

const Layout& permiss() {
    static const Layout l = makePermiss();
    return l;
}

const Layout* byName(const std::string& name) {
    if (name == "customer") return &customer();
    if (name == "journal") return &journal();
    if (name == "permiss") return &permiss();
    return nullptr;
}

std::map<std::string, std::string> toStoredState(const Layout& layout) {
    std::string fields;
    for (const auto& fd : layout.fields) {
        if (!fields.empty()) fields += ';';
        fields += fd.name + ' ' + std::to_string(static_cast<int>(fd.type)) + ' ' +
                  std::to_string(fd.offset) + ' ' + std::to_string(fd.length);
    }
    std::string keys;
    for (const auto& k : layout.keys) {
        if (!keys.empty()) keys += ';';
        keys += k.name + ' ' + k.field;
    }
    return {
        {"TableName", layout.tableName},
        {"FileName", layout.fileName},
        {"OwnerName", layout.ownerName},
        {"RecordLength", std::to_string(layout.recordLength)},
        {"Fields", fields},
        {"Keys", keys},
        {"FieldList", layout.fieldList},
        {"DateFormat", layout.dateFormat},
        {"TimeFormat", layout.timeFormat},
    };
}

Status fromStoredState(const std::map<std::string, std::string>& state, Layout& out) {
    static const char* const required[] = {"TableName", "FileName",  "OwnerName",
                                           "RecordLength", "Fields", "Keys",
                                           "FieldList", "DateFormat", "TimeFormat"};
    for (const char* name : required)
        if (state.find(name) == state.end()) return Status::UnsupportedLayout;

    Layout l;
    l.tableName = state.at("TableName");
    l.fileName = state.at("FileName");
    l.ownerName = state.at("OwnerName");
    l.fieldList = state.at("FieldList");
    l.dateFormat = state.at("DateFormat");
    l.timeFormat = state.at("TimeFormat");
    if (!parseNumber(state.at("RecordLength"), l.recordLength) || l.recordLength == 0)
        return Status::UnsupportedLayout;

    const std::string& fieldText = state.at("Fields");
    if (fieldText.empty()) return Status::UnsupportedLayout;
    std::set<std::string> names;
    for (std::string_view entry : split(fieldText, ';')) {
        auto w = words(entry);
        uint32_t type = 0, offset = 0, length = 0;
        if (w.size() != 4 || !parseNumber(w[1], type) || !parseNumber(w[2], offset) ||
            !parseNumber(w[3], length))
            return Status::UnsupportedLayout;
        if (!knownType(type) || length == 0 || offset > l.recordLength ||
            length > l.recordLength - offset)
            return Status::UnsupportedLayout;
        std::string name(w[0]);
        if (!names.insert(name).second) return Status::UnsupportedLayout;
        l.fields.push_back(FieldDef{name, static_cast<DataType>(type), offset, length});
    }
    // Fields may leave gaps (a layout need not name every byte) but never overlap.
    std::vector<const FieldDef*> byOffset;
    for (const auto& fd : l.fields) byOffset.push_back(&fd);
    std::sort(byOffset.begin(), byOffset.end(),
              [](const FieldDef* a, const FieldDef* b) { return a->offset < b->offset; });
    for (size_t i = 1; i < byOffset.size(); ++i)
        if (byOffset[i - 1]->offset + byOffset[i - 1]->length > byOffset[i]->offset)
            return Status::UnsupportedLayout;

    const std::string& keyText = state.at("Keys");
    std::set<int> numbers;
    if (!keyText.empty()) {
        for (std::string_view entry : split(keyText, ';')) {
            auto w = words(entry);
            uint32_t number = 0;
            if (w.size() != 2 || w[0].size() < 4 || w[0].substr(0, 3) != "KEY" ||
                !parseNumber(w[0].substr(3), number) || number > 118)
                return Status::UnsupportedLayout;
            if (!numbers.insert(static_cast<int>(number)).second) return Status::UnsupportedLayout;
            std::string field(w[1]);
            if (!l.field(field)) return Status::UnknownField;
            l.keys.push_back(KeyDef{std::string(w[0]), field, static_cast<int>(number)});
        }
    }
    out = std::move(l);
    return Status::Success;
}

}  // namespace layouts
