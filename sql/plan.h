// How a virtual table reads a query's rows through a file's own keys: which key
// segments a column's constraints can narrow, how an SQL value becomes key bytes,
// and the plan xBestIndex hands to xFilter. No SQLite calls.
//
// The constraints stay SQLite's to check on every row (the plan only narrows what
// is read), so a plan must read every row that meets them:
//   - equality on INTEGER, UNSIGNED, AUTOINCREMENT, FLOAT, DATE, ZSTRING and LSTRING
//     segments pins the segment's key bytes (ZSTRING and LSTRING keys compare only
//     the text), so the next segment can be narrowed too;
//   - equality on a STRING segment reads the text followed by anything (the column
//     drops trailing blanks and NULs, which the key compares), and ends the prefix;
//     under an alternate collating sequence "anything" runs from the byte the
//     sequence puts first to the one it puts last;
//   - a range on text reads from the bound followed by the lowest bytes to the
//     bound followed by the highest, and only for a bound of printable ASCII under
//     a key without an alternate collating sequence or case folding: only there is
//     the key's byte order SQL's text order;
//   - keys that leave null values out of their index narrow nothing, nor do
//     ranges on descending segments or under an alternate collating sequence.
// ORDER BY a key's columns is consumed where the key orders as SQL does: numbers
// always (a FLOAT's NaN excepted), text and dates as said above; the cursor then
// checks the order of those values as it goes and stops the statement with a
// message if the file's order ever differs from SQL's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "btrieve/dictionary.h"
#include "btrieve/types.h"
#include "sql/schema.h"

namespace sqlplan {

// What a constraint on a segment may do.
struct SegmentUse {
    std::vector<int> columns;  // columns lying exactly over the segment
    bool pins = false;         // equality gives its exact key bytes
    bool textEquality = false; // equality reads a range (STRING)
    bool ranges = false;       // >, >=, <, <= narrow it
    bool orders = false;       // key order is SQL order (given the runtime check)
    bool checkOrder = false;   // ... which the cursor must check
    bool isText = false;       // constraints count only under BINARY collation
    // The bytes that order first and last under the segment's collation: what
    // follows the text at the ends of a range.
    char lowest = '\0', highest = '\xff';
};

struct KeyUse {
    int position = 0;          // in FileInfo::keys
    bool usable = false;
    bool unique = false;
    std::vector<SegmentUse> segments;
};

std::vector<KeyUse> keyUses(const btrieve::FileInfo& info, const std::vector<btrieve::DictColumn>& columns);

// The plan, as xBestIndex writes it into idxStr and xFilter reads it back. Its
// arguments come in this order: one per pinned segment, then the lower bound, then
// the upper bound (one argument for both under textEquality).
struct Plan {
    int key = -1;              // position in FileInfo::keys; -1: every record, file order
    int pinned = 0;
    bool lower = false, upper = false, textEquality = false;
    bool descending = false;
    bool checkOrder = false;
    std::vector<int> orderColumns;  // for the check

    std::string text() const;
    static bool parse(std::string_view text, Plan& out);
};

// An SQL value, as far as the plan needs it.
struct SqlValue {
    enum Kind { Null, Integer, Real, Text, Blob } kind = Null;
    int64_t integer = 0;
    double real = 0;
    std::string text;
};

// The key bytes of segment for value: exact bytes (pinned), or, for a bound or a
// text equality, the low or high end of the range. False when the value cannot be
// put into the segment's bytes so that the range holds every matching row: the
// plan then leaves that constraint to SQLite alone.
enum class End { Exact, Low, High };
// Text a range bound on a text segment may hold: blank to tilde.
inline bool printableAscii(std::string_view s) {
    for (char c : s)
        if (c < 0x20 || c > 0x7e) return false;
    return true;
}
bool segmentBytes(const btrieve::KeySegment& segment, const SegmentUse& use, const SqlValue& value, End end,
                  const sqlschema::TextEncoder& encoder, std::string& out);

}  // namespace sqlplan
