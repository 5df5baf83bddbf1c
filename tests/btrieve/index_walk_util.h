// Helpers of the index tests: a file opened for sharing, and the addresses an
// index gives from one end to the other.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "btrieve/criteria.h"
#include "btrieve/file.h"
#include "btrieve/index_btree.h"
#include "btrieve/table.h"

namespace indextest {

inline std::shared_ptr<const btrieve::File> openShared(const std::string& path, btrieve::Status* status = nullptr) {
    std::unique_ptr<btrieve::File> f;
    const btrieve::Status st = btrieve::File::open(path, f);
    if (status) *status = st;
    return std::shared_ptr<const btrieve::File>(std::move(f));
}

// Every address of the index from one end to the other; end gets the status that
// stopped the walk.
inline std::vector<btrieve::RecordAddress> sequence(const btrieve::KeyIndex& index, bool forward,
                                                    btrieve::Status* end = nullptr) {
    std::vector<btrieve::RecordAddress> out;
    std::unique_ptr<btrieve::IndexCursor> c;
    btrieve::Status st = forward ? index.first(c) : index.last(c);
    for (; btrieve::ok(st) && out.size() < 10'000'000; st = forward ? c->next() : c->previous())
        out.push_back(c->address());
    if (end) *end = st;
    return out;
}

inline std::unique_ptr<btrieve::KeyIndex> memoryIndex(std::shared_ptr<const btrieve::File> f,
                                                      const btrieve::KeySpec& key) {
    std::unique_ptr<btrieve::KeyIndex> idx;
    return btrieve::ok(btrieve::makeMemoryIndex(std::move(f), key, idx)) ? std::move(idx) : nullptr;
}
inline std::unique_ptr<btrieve::KeyIndex> defaultIndex(std::shared_ptr<const btrieve::File> f,
                                                       const btrieve::KeySpec& key) {
    std::unique_ptr<btrieve::KeyIndex> idx;
    return btrieve::ok(btrieve::makeDefaultIndex(std::move(f), key, idx)) ? std::move(idx) : nullptr;
}

// The records a criteria search by key finds through a Table, in order: with the
// default index (fileIndex) or the in-memory one; description gets the index's.
inline std::vector<btrieve::RecordAddress> findAll(const std::shared_ptr<const btrieve::File>& f, int key,
                                                   const btrieve::Criteria& c, bool fileIndex,
                                                   std::string* description = nullptr) {
    btrieve::Table t(f);
    if (!fileIndex) t.setIndexFactory(btrieve::makeMemoryIndex);
    std::vector<btrieve::RecordAddress> found;
    if (!btrieve::ok(t.setActiveKey(key))) return found;
    for (btrieve::Status st = t.findFirst(c); btrieve::ok(st); st = t.findNext(c)) found.push_back(*t.currentAddress());
    if (description) *description = t.indexDescription(key);
    return found;
}

}  // namespace indextest
