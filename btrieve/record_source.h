// What key-ordered navigation needs from a file: its header facts, the live
// records, and one record's logical bytes by address. btrieve::File implements
// it; tests may implement it over records held in memory.
#pragma once

#include <functional>
#include <string>

#include "btrieve/status.h"
#include "btrieve/types.h"

namespace btrieve {

class RecordSource {
public:
    virtual ~RecordSource() = default;
    virtual const FileInfo& info() const = 0;
    // Calls visit for every live record, in physical order, with its address and
    // its logical bytes (fixed part, then any variable part); visit returns false to
    // stop. Returns Success, or the status of the first structure that failed.
    virtual Status forEachRecord(
        const std::function<bool(RecordAddress, const std::string&)>& visit) const = 0;
    // The logical bytes of the live record at addr.
    virtual Status readRecord(RecordAddress addr, std::string& out) const = 0;
};

}  // namespace btrieve
