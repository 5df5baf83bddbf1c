// Writes complete 6.x-family Btrieve files for tests, the sample company and
// benchmarks. It creates new files only: it refuses a path that already exists.
#pragma once

#include <cstdint>
#include <string>
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
};

// Writes records (each at least recordLength bytes) to a new file at path.
Status writeFile(const std::string& path, const WriterOptions& options,
                 const std::vector<std::string>& records);

}  // namespace btrieve
