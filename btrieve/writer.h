// Writes complete 6.x-family and 8.0 Btrieve files for tests, the sample company
// and benchmarks. It creates new files only: it refuses a path that already exists.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "btrieve/status.h"
#include "btrieve/types.h"

namespace btrieve {

struct WriterKey {
    std::vector<KeySegment> segments;  // position/length/type/flags; Duplicates allowed
};

struct WriterOptions {
    uint32_t pageSize = 4096;          // 512..4096, multiple of 512
    uint32_t recordLength = 0;
    std::vector<WriterKey> keys;
    bool variable = false;             // records longer than recordLength carry a variable tail
    // Realism knobs that make the file exercise a reader's real paths.
    bool staleShadows = true;          // leave stale shadow copies of data and index pages
    unsigned deletedRecords = 0;       // records written, then deleted (slots left empty)
    uint32_t seed = 1;
    uint16_t version = 0x0600;         // 0x0600, 0x0610, or 0x0800 (fixed-length records only)
};

// What writeFile put where; for tests and tools that report on the file.
struct WriteSummary {
    uint64_t records = 0;
    uint64_t deletedRecords = 0;
    uint32_t physicalPages = 0;        // the file is physicalPages * pageSize bytes
    uint32_t logicalPages = 0;         // pages the current PAT maps
    uint32_t dataPages = 0;
    uint32_t shadowPages = 0;          // stale copies no current structure refers to
    uint32_t currentFcr = 0;           // physical page (0 or 1) of the current FCR
    std::vector<uint32_t> indexLevels; // per key: 1 for a lone root, 2 for root over leaves, ...
    std::vector<uint32_t> indexEntries;  // per key: distinct key values (unique count)
};

// Writes records to a new file at path: each exactly recordLength bytes, or with
// variable set at least recordLength, the rest going to variable pages.
// Statuses: InvalidOperation for a path that exists, a record of the wrong length
// or a repeated value in a key without duplicates; UnsupportedLayout for options
// the writer cannot express (page size, key types or lengths, ACS keys, repeating
// duplicates, a file too large for 32-bit record addresses, variable-length
// records in an 8.0 file); UnsupportedVersion for a version other than 0x0600,
// 0x0610 and 0x0800; IoError for a failed write. On
// failure the new file is removed.
Status writeFile(const std::string& path, const WriterOptions& options,
                 const std::vector<std::string>& records);

// The same, for records too many to hold in memory at once. generate calls emit
// once per record, in file order, and returns the first status emit returned that
// was not Success (or Success). The writer calls generate twice, first to gather
// the keys and then to write the pages; both calls must yield the same records.
using RecordEmitter = std::function<Status(std::string_view record)>;
using RecordGenerator = std::function<Status(const RecordEmitter& emit)>;
Status writeFile(const std::string& path, const WriterOptions& options,
                 const RecordGenerator& generate, WriteSummary* summary = nullptr);

}  // namespace btrieve
