// Helpers of the index tests: a file opened for sharing, the addresses an index
// gives from one end to the other, and the check that a damaged tree falls back.
#pragma once

#include <gtest/gtest.h>

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

// A criteria search (text, over fields) by key finds the same records through the
// file's own B-tree as through the in-memory index, and the tree is in use; the
// records found.
inline std::vector<btrieve::RecordAddress> expectFindsAsInMemory(const std::shared_ptr<const btrieve::File>& f,
                                                                 int key, const std::string& text,
                                                                 const std::vector<btrieve::FieldDef>& fields) {
    btrieve::Criteria c;
    EXPECT_EQ(btrieve::Criteria::parse(text, fields, c), btrieve::Status::Success) << text;
    std::string description;
    const auto viaTree = findAll(f, key, c, true, &description);
    EXPECT_EQ(description, "file B-tree") << text;
    EXPECT_EQ(viaTree, findAll(f, key, c, false)) << text;
    return viaTree;
}

// Walks both ways through the default index of key and the in-memory one: the same
// addresses, ending cleanly. The default index's description after the walks; "no
// in-memory index" when the key has none (a null-key-only key, say), "none" with a
// failure when there is no default index.
inline std::string compareWalks(const std::shared_ptr<const btrieve::File>& f, const btrieve::KeySpec& key,
                                const std::string& what) {
    auto mem = memoryIndex(f, key);
    if (!mem) return "no in-memory index";
    auto idx = defaultIndex(f, key);
    if (!idx) {
        ADD_FAILURE() << what << " key " << key.number << ": no default index";
        return "none";
    }
    for (bool forward : {true, false}) {
        btrieve::Status end;
        EXPECT_EQ(sequence(*idx, forward, &end), sequence(*mem, forward))
            << what << " key " << key.number << (forward ? " forward" : " backward");
        EXPECT_EQ(end, btrieve::Status::EndOfFile) << what << " key " << key.number;
    }
    return idx->description();
}

// A damaged copy f reads by key keyNumber the same through the default index as
// through the in-memory one, both ways and after seeks around the entry probeAt
// steps from the first, and no longer uses its own tree. freshBackward: the
// backward walk gets an index of its own, else it keeps the forward walk's (which
// found the fault on the way).
inline void expectFallback(const std::shared_ptr<const btrieve::File>& f, int keyNumber, int probeAt,
                           bool freshBackward = true) {
    using namespace btrieve;
    const KeySpec& key = f->info().keys.at(keyNumber);
    auto mem = memoryIndex(f, key);
    ASSERT_TRUE(mem);
    std::unique_ptr<KeyIndex> idx;
    for (bool forward : {true, false}) {
        if (forward || freshBackward) idx = defaultIndex(f, key);
        ASSERT_TRUE(idx);
        Status end;
        EXPECT_EQ(sequence(*idx, forward, &end), sequence(*mem, forward)) << (forward ? "forward" : "backward");
        EXPECT_EQ(end, Status::EndOfFile);
        EXPECT_NE(idx->description(), "file B-tree");
    }
    Table viaTree(f), viaMemory(f);
    viaMemory.setIndexFactory(makeMemoryIndex);
    ASSERT_EQ(viaTree.setActiveKey(keyNumber), Status::Success);
    ASSERT_EQ(viaMemory.setActiveKey(keyNumber), Status::Success);
    std::unique_ptr<IndexCursor> c;
    ASSERT_EQ(mem->first(c), Status::Success);
    for (int i = 0; i < probeAt && ok(c->next()); ++i) {}
    const std::string probe(c->key());
    for (SeekOp op : {SeekOp::Eq, SeekOp::Gt, SeekOp::Lt}) {
        EXPECT_EQ(viaTree.seek(op, probe), viaMemory.seek(op, probe));
        EXPECT_EQ(viaTree.currentAddress(), viaMemory.currentAddress());
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(viaTree.moveNext(), viaMemory.moveNext());
            EXPECT_EQ(viaTree.currentAddress(), viaMemory.currentAddress());
        }
    }
}

}  // namespace indextest
