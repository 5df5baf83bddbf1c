// What the SQLite export and the virtual tables share about a table: its columns
// (from a data dictionary, or from one of the built-in layouts read as if a
// dictionary described it), the SQL that declares them, which columns lie over
// which key segment, and the cell of a column as an SQLite value. No SQLite calls
// here: the export links the library, the extension reaches it through the
// loader's function table, and each hands a sink of its own to putCell.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "btrieve/codepage.h"
#include "btrieve/columns.h"
#include "btrieve/dictionary.h"
#include "btrieve/types.h"
#include "data/layouts.h"

namespace sqlschema {

// "name" with inner quotes doubled; 'text' likewise for literals.
std::string quoteIdentifier(std::string_view name);
std::string quoteLiteral(std::string_view text);

// The layout's fields as the columns a dictionary would list for them (Xe$Id in
// field order, no decimals), and its keys as dictionary keys on those columns.
std::vector<btrieve::DictColumn> layoutColumns(const layouts::Layout& layout);
std::vector<btrieve::DictKey> layoutKeys(const layouts::Layout& layout);

// The column list of a CREATE TABLE: ("a" INTEGER, "b" TEXT, ...).
std::string columnList(const std::vector<btrieve::DictColumn>& columns,
                       const std::vector<btrieve::ColumnReader>& readers);

// CREATE INDEX statements for the dictionary's keys of table `name` whose parts all
// name columns; "name_keyN" after the key number.
std::vector<std::string> createIndexes(std::string_view name, const std::vector<btrieve::DictKey>& keys,
                                       const std::vector<btrieve::DictColumn>& columns);

// Whether column lies exactly over segment: same offset and size, and a type that
// reads the segment's bytes as the key compares them.
bool servesSegment(const btrieve::DictColumn& column, const btrieve::KeySegment& segment);

// A cell as SQLite takes it: Sink has null(), integer(int64_t), real(double),
// text(std::string_view) and blob(std::string_view). A decimal whose double does
// not give its text back, and an unsigned value past INTEGER's range, stay text.
template <class Sink>
void putCell(const btrieve::Cell& cell, Sink& sink) {
    using btrieve::CellKind;
    switch (cell.kind) {
    case CellKind::Null: sink.null(); return;
    case CellKind::Integer: sink.integer(cell.integer); return;
    case CellKind::Unsigned:
        if (cell.unsignedValue <= static_cast<uint64_t>(INT64_MAX))
            sink.integer(static_cast<int64_t>(cell.unsignedValue));
        else
            sink.text(std::to_string(cell.unsignedValue));
        return;
    case CellKind::Real: sink.real(cell.real); return;
    case CellKind::Decimal:
        if (cell.roundTrips) sink.real(cell.real);
        else sink.text(cell.text);
        return;
    case CellKind::Text: sink.text(cell.text); return;
    case CellKind::Bytes: sink.blob(cell.text); return;
    }
}

// UTF-8 text put back into a code page's bytes, for key values given in SQL.
// Fails (false) for text the code page cannot hold exactly: each result is checked
// to read back as the same text.
class TextEncoder {
public:
    explicit TextEncoder(const btrieve::CodePage& codePage);
    bool encode(std::string_view utf8, std::string& out) const;

private:
    const btrieve::CodePage& codePage_;
    std::vector<std::pair<std::string, char>> single_;  // a byte's UTF-8 and the byte, sorted
};

}  // namespace sqlschema
