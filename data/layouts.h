// The record layouts of the three company files: customer.dat, journal.dat and
// permiss.dat. Plain tables, no Qt, so the data control and the command-line tools
// share them. A layout also has a stored-state form: the text properties a window
// template keeps for a data control.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "btrieve/status.h"
#include "btrieve/types.h"

namespace layouts {

struct KeyDef {
    std::string name;   // "KEY00", "KEY01", ...
    std::string field;  // the one field the key is on
    int number = 0;     // Btrieve key number
};

struct Layout {
    std::string fileName;
    std::string ownerName;
    uint32_t recordLength = 0;
    std::vector<btrieve::FieldDef> fields;
    std::vector<KeyDef> keys;

    // Kept as the control's stored properties (TableName, FieldList, DateFormat,
    // TimeFormat) and carried through the stored state unchanged; nothing reads
    // records by them: fields and keys above decide every read.
    std::string tableName;
    std::string fieldList;
    std::string dateFormat;
    std::string timeFormat;

    // The field called name (exact spelling), or nullptr.
    const btrieve::FieldDef* field(const std::string& name) const;
};

const Layout& customer();
const Layout& journal();
const Layout& permiss();
// "customer", "journal" or "permiss"; nullptr for any other name.
const Layout* byName(const std::string& name);

// How the file's keys differ from the keys the layout names: each of the layout's
// keys must be the file's key of that number, one segment on exactly its field's
// bytes. Empty when they agree; otherwise one clause per key, joined by "; ", e.g.
// "KEY00 (custID at 0, 21 bytes) differs from the file's key 0 (1 segment(s),
// first at 0, 17 bytes)" or "KEY03 (BillName at 919, 31 bytes) is missing".
std::string keyDifferences(const Layout& layout, const btrieve::FileInfo& info);

// Whether the file is one the layout describes: its record length, then its keys
// as keyDifferences compares them. Empty when the file fits; otherwise what
// differs, e.g. "record length 259, the layout's 2790; KEY00 (...) is missing".
std::string fileDifferences(const Layout& layout, const btrieve::FileInfo& info);

// Stored-state keys: "TableName", "FileName", "OwnerName", "RecordLength",
// "Fields" ("name type offset length" joined by ';'), "Keys" ("KEY00 field" joined
// by ';'; the key number is the one in the name), "FieldList", "DateFormat",
// "TimeFormat".
std::map<std::string, std::string> toStoredState(const Layout& layout);

// Parses a stored state. Success; UnknownField for a key on a field the layout
// lacks; UnsupportedLayout for anything else malformed: a missing property, a bad
// number or entry, an unknown type code, a field outside the record, overlapping
// fields, a repeated field name or key number. out is changed only on success.
btrieve::Status fromStoredState(const std::map<std::string, std::string>& state, Layout& out);

}  // namespace layouts
