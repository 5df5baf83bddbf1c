// A company folder's data dictionary: FILE.DDF (its tables and their files),
// FIELD.DDF (each table's columns) and INDEX.DDF (which columns make each key), read
// without an engine. Names come decoded to UTF-8 by the dictionary's code page; a
// table's file is found on disk as Windows would find it (case-insensitive, folders
// included, an 8.3 short name where exactly one file fits).
//
// Locations are relative to the data folder: the dictionary's own, unless data
// folders are given (DictionaryOptions). A dictionary opens when its three files read; a table whose file cannot be used
// is still listed, with the reason, and the other tables work.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "btrieve/codepage.h"
#include "btrieve/file.h"
#include "btrieve/status.h"

namespace btrieve {

// One X$Field row that is a column (its type is not 255).
struct DictColumn {
    std::string name;         // UTF-8, up to a NUL, trailing blanks dropped; unique
                              // (ignoring case) like the columns' names; unique within
                              // the table (a repeated name gets _2, _3, ...)
    uint16_t id = 0;          // Xe$Id
    uint8_t type = 0;         // Xe$DataType as stored (DataType for the known codes)
    uint32_t offset = 0;      // Xe$Offset, 0-based in the record
    uint32_t size = 0;        // Xe$Size
    uint8_t decimals = 0;     // Xe$Dec
    uint16_t flags = 0;       // Xe$Flags
};

// One part of a key as INDEX.DDF names it.
struct DictKeyPart {
    uint16_t fieldId = 0;     // Xi$Field
    int column = -1;          // index in DictTable::columns, -1 when the field is none of them
    uint16_t flags = 0;       // Xi$Flags
};

struct DictKey {
    int number = 0;           // 0-based key number (dictionaries that count from 1 are moved down)
    std::vector<DictKeyPart> parts;  // in part order
};

struct DictTable {
    uint16_t id = 0;          // Xf$Id
    std::string name;         // UTF-8, up to a NUL, trailing blanks dropped; unique
                              // (ignoring case) like the columns' names
    std::string location;     // Xf$Loc as stored (decoded), e.g. "Cust\CustSupp.Dat"; empty for none
    uint8_t flags = 0;        // Xf$Flags
    // The file found for location: a path (dictionary folder joined with the name as
    // it is on disk) and the same relative to the folder, with '/' between parts.
    // Both empty when no file fits; problem says why.
    std::string path;
    std::string relativePath;
    // Why the table's file cannot be read: "missing: " and where the search ended
    // ("no 'gone.dat' in DIR", "2 files in DIR fit the short name 'system~1.dat'"),
    // "the dictionary names no file", or what opening it said ("status 1020 (a
    // folder, not a file)", "status 30 (not a Btrieve file)"); empty when it opened.
    std::string problem;
    std::vector<DictColumn> columns;  // ascending Xe$Id
    std::vector<DictKey> keys;        // ascending key number
    // Faults of the dictionary in this table, one line each naming the field
    // ("field 'X': an 8-byte DATE"); the table still reads, a faulty column as NULL
    // or its bytes (see columns.h).
    std::vector<std::string> faults;
    // Live records, when the file opened.
    uint64_t records = 0;
    bool readable() const { return problem.empty() && !path.empty(); }
};

struct DictionaryOptions {
    std::string encoding = "WINDOWS-1252";  // names and text; any name iconv knows
    std::string ownerName;                  // for files that carry an owner
    // Where the tables' files are, searched in order before the dictionary's own
    // folder (which holds its X$ tables' files). A company's dictionary may be kept
    // apart from its data.
    std::vector<std::string> dataFolders;
};

class Dictionary {
public:
    // Reads the dictionary in folder, finds and opens each table's file (header only)
    // to fill path, problem and records. On failure out stays empty and message
    // names the file and what is wrong ("FILE.DDF: not found in DIR", "FIELD.DDF:
    // status 1002 (truncated)", "unknown encoding 'X'").
    static Status open(const std::string& folder, const DictionaryOptions& options,
                       std::unique_ptr<Dictionary>& out, std::string& message);
    ~Dictionary();

    const std::string& folder() const;
    const CodePage& codePage() const;
    const std::vector<DictTable>& tables() const;
    // The table of that name, compared case-insensitively (ASCII letters); null when none.
    const DictTable* find(std::string_view name) const;
    // The table's file opened afresh (read-only, with the owner name). A table that
    // is not readable gives its problem's status (FileNotFound, IsDirectory, ...).
    Status openFile(const DictTable& table, std::unique_ptr<File>& out) const;

    class Impl;
private:
    explicit Dictionary(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// A Windows path as a dictionary stores it (backslashes, any case, relative to
// base, may climb with ..\) found on disk. Each part matches the entry of the same
// name ignoring ASCII case; an 8.3 short name (NAME~N.EXT) matches the one entry it
// can stand for. path gets the match, relativePath the match relative to base
// ('/' between parts, "../" where it climbs); on failure problem says why.
bool resolveWindowsPath(const std::string& base, std::string_view windowsPath, std::string& path,
                        std::string& relativePath, std::string& problem);

}  // namespace btrieve
