// Dictionary rows as dictionary.cpp lists their offsets: X$File (87 or 97 bytes),
// X$Field (32), X$Index (10).
#include "btrieve/dictionary_writer.h"

#include <algorithm>
#include <cstring>

#include "btrieve/writer.h"

namespace btrieve {
namespace {

void put16(std::string& row, size_t at, uint32_t v) {
    row[at] = static_cast<char>(v & 0xFF);
    row[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

void putText(std::string& row, size_t at, size_t room, const std::string& text) {
    std::memcpy(row.data() + at, text.data(), std::min(room, text.size()));
}

KeySegment segment(uint32_t position, uint16_t length, DataType type, uint16_t flags) {
    KeySegment s;
    s.position = position;
    s.length = length;
    s.type = type;
    s.flags = flags | keyflag::ExtendedType;
    return s;
}

DictColumn field(uint16_t id, const char* name, DataType type, uint32_t offset, uint32_t size) {
    DictColumn c;
    c.id = id;
    c.name = name;
    c.type = static_cast<uint8_t>(type);
    c.offset = offset;
    c.size = size;
    return c;
}

// The dictionary's own tables, as real dictionaries list them.
std::vector<DictionaryTableDef> selfDescription(uint32_t fileRow) {
    constexpr DataType U = DataType::UnsignedBinary, S = DataType::String;
    std::vector<DictionaryTableDef> t(3);
    t[0] = {1, "X$File", "FILE.DDF",
            {field(1, "Xf$Id", U, 0, 2), field(2, "Xf$Name", S, 2, 20), field(3, "Xf$Loc", S, 22, 64),
             field(4, "Xf$Flags", U, 86, 1)},
            {{1}, {2}}};
    if (fileRow > 87) t[0].fields.push_back(field(5, "Xf$Reserved", S, 87, fileRow - 87));
    t[1] = {2, "X$Field", "FIELD.DDF",
            {field(11, "Xe$Id", U, 0, 2), field(12, "Xe$File", U, 2, 2), field(13, "Xe$Name", S, 4, 20),
             field(14, "Xe$DataType", U, 24, 1), field(15, "Xe$Offset", U, 25, 2), field(16, "Xe$Size", U, 27, 2),
             field(17, "Xe$Dec", U, 29, 1), field(18, "Xe$Flags", U, 30, 2)},
            {{11}, {12}, {13}}};
    t[2] = {3, "X$Index", "INDEX.DDF",
            {field(21, "Xi$File", U, 0, 2), field(22, "Xi$Field", U, 2, 2), field(23, "Xi$Number", U, 4, 2),
             field(24, "Xi$Part", U, 6, 2), field(25, "Xi$Flags", U, 8, 2)},
            {{21}, {22}}};
    for (auto& d : t) d.flags = 0x10;
    return t;
}

}  // namespace

Status writeDictionary(const std::string& folder, const std::vector<DictionaryTableDef>& given,
                       const DictionaryWriterOptions& options, std::string* failedFile) {
    const uint32_t fileRow = options.shortFileRows ? 87 : 97;
    std::vector<DictionaryTableDef> tables = options.describeItself ? selfDescription(fileRow) : std::vector<DictionaryTableDef>{};
    tables.insert(tables.end(), given.begin(), given.end());
    std::vector<std::string> files, fields, indexes;
    for (const auto& t : tables) {
        std::string row(fileRow, '\0');
        put16(row, 0, t.id);
        std::string name = t.name;
        name.resize(20, ' ');
        putText(row, 2, 20, name);
        putText(row, 22, 64, t.location);
        row[86] = static_cast<char>(t.flags);
        files.push_back(row);
        for (const auto& f : t.fields) {
            std::string r(32, '\0');
            put16(r, 0, f.id);
            put16(r, 2, t.id);
            std::string n = f.name;
            n.resize(20, ' ');
            putText(r, 4, 20, n);
            r[24] = static_cast<char>(f.type);
            put16(r, 25, f.offset);
            put16(r, 27, f.size);
            r[29] = static_cast<char>(f.decimals);
            put16(r, 30, f.flags);
            fields.push_back(r);
        }
        for (size_t k = 0; k < t.keys.size(); ++k) {
            for (size_t p = 0; p < t.keys[k].size(); ++p) {
                std::string r(10, '\0');
                put16(r, 0, t.id);
                put16(r, 2, t.keys[k][p]);
                put16(r, 4, static_cast<uint32_t>(k));
                put16(r, 6, static_cast<uint32_t>(p));
                put16(r, 8, keyflag::Duplicates | keyflag::Modifiable | (p + 1 < t.keys[k].size() ? keyflag::Segmented : 0));
                indexes.push_back(r);
            }
        }
    }
    constexpr uint16_t dup = keyflag::Duplicates;
    constexpr DataType U = DataType::UnsignedBinary, S = DataType::String;
    struct One {
        const char* name;
        uint32_t length;
        std::vector<WriterKey> keys;
        const std::vector<std::string>& rows;
    } const all[] = {
        {"FILE.DDF", fileRow, {{{segment(0, 2, U, 0)}}, {{segment(2, 20, S, dup)}}}, files},
        {"FIELD.DDF", 32, {{{segment(0, 2, U, dup)}}, {{segment(2, 2, U, dup)}}, {{segment(4, 20, S, dup)}}}, fields},
        {"INDEX.DDF", 10, {{{segment(0, 2, U, dup)}}, {{segment(2, 2, U, dup)}}}, indexes},
    };
    for (const auto& one : all) {
        WriterOptions o;
        o.pageSize = 512;
        o.recordLength = one.length;
        o.keys = one.keys;
        o.version = options.version;
        o.staleShadows = false;
        const Status st = writeFile(folder + "/" + one.name, o, one.rows);
        if (!ok(st)) {
            if (failedFile) *failedFile = folder + "/" + one.name;
            return st;
        }
    }
    return Status::Success;
}

}  // namespace btrieve
