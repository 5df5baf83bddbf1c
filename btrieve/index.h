// Key indexes behind key-ordered navigation. A KeyIndex gives the entries of one
// key (key bytes and record address) in collation order, as the engine's own index
// holds them: duplicates in the order of their chain (insertion order), records
// whose key is null left out. Positions are cursors, so an index that
// walks the file's own B-tree pages can keep its page path inside one.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "btrieve/record_source.h"

namespace btrieve {

class IndexCursor {
public:
    virtual ~IndexCursor() = default;
    virtual std::unique_ptr<IndexCursor> clone() const = 0;
    // The entry's key bytes (extractKey form) and record address.
    virtual std::string_view key() const = 0;
    virtual RecordAddress address() const = 0;
    // Step to the neighbouring entry. At either end: EndOfFile, cursor unchanged.
    virtual Status next() = 0;
    virtual Status previous() = 0;
};

class KeyIndex {
public:
    virtual ~KeyIndex() = default;
    virtual const KeySpec& key() const = 0;
    // First or last entry; EndOfFile when the index is empty.
    virtual Status first(std::unique_ptr<IndexCursor>& out) const = 0;
    virtual Status last(std::unique_ptr<IndexCursor>& out) const = 0;
    // First entry whose leading `segments` segments order at or after (lowerBound),
    // or strictly after (upperBound), those of value; EndOfFile when there is none.
    // value holds at least those segments' bytes.
    virtual Status lowerBound(std::string_view value, size_t segments,
                              std::unique_ptr<IndexCursor>& out) const = 0;
    virtual Status upperBound(std::string_view value, size_t segments,
                              std::unique_ptr<IndexCursor>& out) const = 0;
    // Which index this is, for reports: "file B-tree", or "in-memory" with the
    // reason the file's own tree is not (or no longer) used, e.g.
    // "in-memory (fell back: ...)", and what the in-memory index could not do as
    // the engine does (", duplicates in record order (no chain pointers)").
    virtual std::string description() const { return "in-memory"; }
};

// Makes the index of one key of a source; a failure status is passed on to the
// navigation call that needed the index.
using IndexFactory = std::function<Status(std::shared_ptr<const RecordSource> source,
                                          const KeySpec& key, std::unique_ptr<KeyIndex>& out)>;

// The sorted in-memory index: one pass over the live records keeps each record's
// key bytes and address (never the record), sorted by compareKeys; records whose
// key is null (isNullKey) are left out. Duplicates keep insertion order: the order
// of their linked-duplicate chain where the file's records carry one (any family),
// else physical order. Seeks are binary searches.
Status makeMemoryIndex(std::shared_ptr<const RecordSource> source, const KeySpec& key,
                       std::unique_ptr<KeyIndex>& out);

}  // namespace btrieve
