// Writes a data dictionary (FILE.DDF, FIELD.DDF, INDEX.DDF) for tests and sample
// companies, in the layout dictionary.cpp reads. New files only, like the writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "btrieve/dictionary.h"
#include "btrieve/status.h"

namespace btrieve {

struct DictionaryTableDef {
    uint16_t id = 0;
    std::string name;       // bytes in the dictionary's code page, at most 20
    std::string location;   // Xf$Loc bytes, at most 64
    // Xe$Id, name, type, offset, size and decimals of each FIELD.DDF row (type 255
    // for a row that names an index); name bytes at most 20.
    std::vector<DictColumn> fields;
    // Each key's parts as the Xe$Id of their fields; key numbers from 0 in order.
    std::vector<std::vector<uint16_t>> keys;
    uint8_t flags = 0;      // Xf$Flags
};

struct DictionaryWriterOptions {
    bool shortFileRows = false;     // FILE.DDF rows of 87 bytes (5.x era) instead of 97
    bool describeItself = true;     // X$File, X$Field and X$Index tables (ids 1-3) first
    uint16_t version = 0x0610;      // of the three files, as writeFile takes it
};

// failedFile: which of the three files failed, when one did.
Status writeDictionary(const std::string& folder, const std::vector<DictionaryTableDef>& tables,
                       const DictionaryWriterOptions& options, std::string* failedFile = nullptr);

}  // namespace btrieve
