// One column of a dictionary table read from a record as a typed cell: the one rule
// behind both the CSV export and SQLite.
//
// | type                         | cell                                                     |
// |------------------------------|----------------------------------------------------------|
// | STRING                       | Text, trailing blanks and NULs dropped                   |
// | ZSTRING                      | Text up to the first NUL (the whole field without one)   |
// | LSTRING                      | Text of the length in byte 0, at most size - 1           |
// | INTEGER, AUTOINCREMENT       | Integer (signed)                                         |
// | UNSIGNED BINARY              | Unsigned                                                 |
// | FLOAT, BFLOAT                | Real                                                     |
// | DECIMAL, MONEY, NUMERIC      | Decimal: exact text with Xe$Dec decimals (MONEY: 2 when  |
// |                              | Xe$Dec is 0), made from the digits, never a double       |
// | LOGICAL                      | Integer 0 or 1                                           |
// | DATE, TIME                   | Text YYYY-MM-DD, HH:MM:SS.hh; Null when zero/impossible  |
// | NOTE, LVAR, BLOB, any other  | Bytes                                                    |
//
// Text is decoded from the table's code page into UTF-8. A field reaching past the
// end of a shorter (variable-length) record is Null. A column whose type cannot have
// its size, or that reaches past the longest record the file can hold, is a fault of
// the dictionary: said once (ColumnReader::make), and read as its bytes, or Null
// where it has none.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "btrieve/codepage.h"
#include "btrieve/dictionary.h"
#include "btrieve/types.h"

namespace btrieve {

enum class CellKind : uint8_t { Null, Integer, Unsigned, Real, Decimal, Text, Bytes };

struct Cell {
    CellKind kind = CellKind::Null;
    int64_t integer = 0;       // Integer
    uint64_t unsignedValue = 0;  // Unsigned
    double real = 0;           // Real; Decimal: the nearest double to text
    // Decimal: whether real gives text back (shortest form, same digits and value), so
    // that SQLite may keep the value as a REAL; TEXT otherwise.
    bool roundTrips = true;
    std::string text;          // Decimal: exact text ("-12.50"); Text: UTF-8; Bytes: raw bytes
};

// The column's type in SQLite.
enum class SqlType : uint8_t { Integer, Real, Text, Blob };
const char* sqlTypeName(SqlType t);  // "INTEGER", "REAL", "TEXT", "BLOB"

// The longest record a file can hold: its record length for fixed-length files, no
// bound for variable-length or compressed ones.
uint64_t longestRecord(const FileInfo& file);

class ColumnReader {
public:
    // How column is read from the records of a file whose records are at most
    // longest bytes. fault: empty, or what is wrong with the column as declared
    // ("a DATE of 8 bytes", "reaches past the longest record (120 bytes)").
    static ColumnReader make(const DictColumn& column, uint64_t longest, std::string& fault);

    SqlType sqlType() const { return sqlType_; }
    // The column's cell in record (logical bytes: fixed part, then any variable
    // part). text's buffer is reused from call to call.
    void read(std::string_view record, const CodePage& codePage, Cell& out) const;

    enum class Rule : uint8_t {
        None, String, ZString, LString, Signed, Unsigned, Float, BFloat, Packed, Numeric,
        Logical, Date, Time, Bytes,
    };
private:
    Rule rule_ = Rule::None;
    SqlType sqlType_ = SqlType::Blob;
    uint32_t offset_ = 0;
    uint32_t size_ = 0;
    uint8_t decimals_ = 0;
    uint8_t type_ = 0;
};

// A reader for every column of table, in column order, for records of file. The
// faults they find are the ones Dictionary::open puts in DictTable::faults.
std::vector<ColumnReader> makeColumnReaders(const DictTable& table, const FileInfo& file);

// The cell as CSV text, unquoted: Null empty, integers in decimal, Real in the
// shortest form that reads back to the same double, Decimal and Text as they are,
// Bytes as lowercase hex.
void appendCsvText(const Cell& cell, std::string& out);
// The same as a CSV field (RFC 4180): quoted when it holds a comma, quote, CR or LF,
// inner quotes doubled.
void appendCsvField(const Cell& cell, std::string& out);

}  // namespace btrieve
