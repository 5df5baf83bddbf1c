// Key-ordered navigation over a file's live records by the active key (key 0 unless
// changed): first, last, next, previous, seek, and criteria searches. An unsuccessful
// move returns its status and leaves the current record current.
//
// The file may be written by another program meanwhile. Each move, seek, find and
// count first takes up the file's current version when it changed (the current
// record is found again by its key, and by its address among duplicates), and
// reads one version only: a call whose reads raced a commit is made again on the
// new version, and past a few tries returns Conflict and stays where it stood.
// A current record deleted by the other program keeps its last bytes; the next
// move goes on to its neighbour in key order. BTRIEVE_FOLLOW_CHANGES=0 in the
// environment when a table is made turns following off (to measure its cost).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "btrieve/criteria.h"
#include "btrieve/index.h"
#include "btrieve/record_source.h"

namespace btrieve {

enum class SeekOp { Eq, Ge, Gt, Le, Lt };

class Table {
public:
    explicit Table(std::shared_ptr<const RecordSource> source);
    ~Table();

    const FileInfo& info() const;
    Status setActiveKey(int keyNumber);  // InvalidKeyNumber for a key the file lacks
    int activeKey() const;

    Status moveFirst();
    Status moveLast();
    Status moveNext();      // with no current record: the first record
    Status movePrevious();  // with no current record: the last record
    // keyValue holds the key's bytes in the record's own encoding (extractKey form);
    // shorter values are padded as the key type requires. Eq and Ge give the first
    // record at (Eq) or at or after (Ge) the value, Gt the first after it; Le and Lt
    // the last record at or before (Le), or before (Lt), it. KeyNotFound when there
    // is none. FindFirst and FindNext report EndOfFile when no record meets the
    // criteria.
    Status seek(SeekOp op, std::string_view keyValue);

    // First record in active-key order meeting criteria; FindNext: the next one
    // after the current record (from the start when there is none).
    Status findFirst(const Criteria& criteria);
    Status findNext(const Criteria& criteria);

    // The number of live records, counted on one version of the file.
    Status countRecords(uint64_t& out);
    // Takes up the file's current version now, when it changed.
    Status follow();
    // How many times the file has been taken up afresh since the table was made.
    uint64_t generation() const;
    // The version read now.
    std::shared_ptr<const RecordSource> source() const;

    // Chooses how key indexes are made. By default (and for a null factory) the
    // file's own B-tree where it can be walked and checks out, else the sorted
    // in-memory index (makeDefaultIndex in index_btree.h); makeMemoryIndex turns the
    // tree walk off. Drops the indexes made so far and the current record.
    void setIndexFactory(IndexFactory factory);

    // Which index serves key keyNumber, making it if need be: "file B-tree", or
    // "in-memory (reason)"; "unavailable (status ...)" when none can be made.
    std::string indexDescription(int keyNumber);
    // Walks key keyNumber's index from the first entry to the last, without moving
    // the current record, so that a file index that does not check out anywhere is
    // found (and replaced by the in-memory index) before it is described.
    Status verifyIndex(int keyNumber);

    // A record that cannot be read (the source reports a status for it) is not
    // skipped: the move or search returns that status and stands on the record
    // without its bytes, so the next move in either direction passes it.
    bool hasCurrent() const;
    // Logical bytes of the current record; empty when there is none.
    const std::string& currentRecord() const;
    std::optional<RecordAddress> currentAddress() const;

    class Impl;
private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace btrieve
