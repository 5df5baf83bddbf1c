// What key-ordered navigation needs from a file: its header facts, the live
// records, and one record's logical bytes by address. btrieve::File implements
// it; tests may implement it over records held in memory.
#pragma once

#include <functional>
#include <memory>
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

    // A source over a file another program may change while it is open. changed:
    // whether the file is no longer the version this source read, so that what a
    // read since the last look returned may mix versions. A source that never
    // changes (the default) says no.
    virtual Status checkChanged(bool& changed) const {
        changed = false;
        return Status::Success;
    }
    // Whether another program committed to the file since this source read it, so
    // that reads since may mix versions: checkChanged without what a look at the
    // path adds (another file put in its place), which reads of this one do not mix.
    virtual Status checkCommitted(bool& changed) const { return checkChanged(changed); }
    // A new source over the file's current version.
    virtual Status reopen(std::shared_ptr<const RecordSource>& out) const {
        out.reset();
        return Status::InvalidOperation;
    }
};

// Sleeps a little before a read of a changing file is tried again: 0.2 ms for the
// first retry, doubling each time, at most 50 ms.
void pauseBeforeRetry(int attempt);

}  // namespace btrieve
