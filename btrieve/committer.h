// Changes an existing 6.x file the way an engine commits a transaction, for tests
// of readers that keep a file open while another program writes it. Never linked
// into the program or the tools, which only read.
//
// One commit writes, in this order:
//   1. the new version's changed data, variable and index pages, each into a
//      physical page that no structure of the current version uses (a free page,
//      or a new one at the end of the file);
//   2. for each page-table pair whose entries change, its other copy, with a usage
//      count one above the current FCR's;
//   3. the other FCR copy, with that usage count: from here on it is the current
//      version, and the pages only the version before used are free.
// Within steps 2 and 3 a copy's body is written first and its usage count last, on
// its own, so the copy turns current in one small write. A reader that has read a
// consistent version never sees one of its pages change until a later version is
// current; a copy whose usage count is above the current FCR's belongs to a commit
// still under way. A commit cut short leaves the version before it current.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "btrieve/status.h"

namespace btrieve {

struct CommitterOptions {
    bool sync = false;  // fdatasync after each step (slow; for crash tests)
};

// The steps of a commit, for tests that stop one half-way.
enum class CommitStep { Pages, PageTables };

struct CommitSummary {
    uint32_t usage = 0;         // usage count of the new current FCR
    uint32_t pagesWritten = 0;  // data, variable and index pages copied
    uint32_t tablesWritten = 0; // page-table copies written
    uint32_t physicalPages = 0; // the file's length in pages afterwards
};

class Committer {
public:
    // Opens a 6.x file of fixed-length records without compression, encryption,
    // owner or alternate collating sequences (a file the writer made, or one this
    // class committed to) for writing, and reads its current records. UnsupportedVersion or
    // UnsupportedLayout for other files, the reader's status for one it cannot read.
    static Status open(const std::string& path, std::unique_ptr<Committer>& out,
                       const CommitterOptions& options = {});
    ~Committer();
    Committer(const Committer&) = delete;
    Committer& operator=(const Committer&) = delete;

    // The records of the next version: the current version's with the changes made
    // since, in slot order.
    const std::vector<std::string>& records() const;
    // Changes for the next commit. A record goes to the end; an erased record's slot
    // takes the last record. InvalidRecordAddress for an index past the end.
    void insert(std::string record);
    Status update(size_t index, std::string record);
    Status erase(size_t index);

    // Writes the changes made since the last commit as the next version. On failure
    // (a repeated value in a unique key, a record of the wrong length, a failed
    // write) the changes are dropped and the file still reads as the version before.
    // stopAfter, for tests: returns true to end the commit after that step, as if
    // the writing program had stopped there (Success, the changes kept in records()
    // but not committed; open the file afresh to go on).
    Status commit(CommitSummary* summary = nullptr,
                  const std::function<bool(CommitStep)>& stopAfter = nullptr);

    // Usage count of the current FCR.
    uint32_t usage() const;

    class Impl;
private:
    explicit Committer(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace btrieve
