// The walk of 8.0, 9.0 and 9.5 files' own B-trees: every key of every such sample
// file gives the same records in the same order through its tree as through the
// in-memory index; duplicates come in chain order and null keys are left out, as
// the engine does; damaged trees fall back and still read right.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>

#include "btrieve/file.h"
#include "btrieve/index_btree.h"
#include "btrieve/key_order.h"
#include "btrieve/keys.h"
#include "btrieve/table.h"
#include "index_walk_util.h"
#include "test_file_util.h"

using namespace btrieve;
using filetest::TempDir;
using indextest::defaultIndex;
using indextest::memoryIndex;
using indextest::openShared;
using indextest::sequence;

namespace {

// Both ways through both indexes of key: the same addresses, ending cleanly.
// Returns the default index's description after the walks.
std::string compareKey(const std::shared_ptr<const File>& f, const KeySpec& key, const std::string& what) {
    auto mem = memoryIndex(f, key);
    auto idx = defaultIndex(f, key);
    if (!mem || !idx) {
        ADD_FAILURE() << what << " key " << key.number << ": no index";
        return "none";
    }
    for (bool forward : {true, false}) {
        Status end;
        EXPECT_EQ(sequence(*idx, forward, &end), sequence(*mem, forward)) << what << " key " << key.number
                                                                           << (forward ? " forward" : " backward");
        EXPECT_EQ(end, Status::EndOfFile) << what << " key " << key.number;
    }
    return idx->description();
}

std::vector<std::string> v8CorpusFiles() {
    namespace fs = std::filesystem;
    std::vector<std::string> out;
    if (!fs::exists(filetest::corpusDir())) return out;
    for (const auto& e : fs::recursive_directory_iterator(filetest::corpusDir())) {
        if (!e.is_regular_file()) continue;
        Status st;
        auto f = openShared(e.path().string(), &st);
        if (ok(st) && f->info().family == Family::V8)
            out.push_back(fs::relative(e.path(), filetest::corpusDir()).string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST(FileIndexV8Corpus, EveryKeyWalksItsOwnTreeInTheInMemoryOrder) {
    const auto files = v8CorpusFiles();
    if (files.empty()) GTEST_SKIP() << "no 8.x/9.x sample files";
    size_t keys = 0;
    for (const std::string& rel : files) {
        auto f = openShared(filetest::corpus(rel));
        ASSERT_TRUE(f) << rel;
        for (const KeySpec& key : f->info().keys) {
            ++keys;
            EXPECT_EQ(compareKey(f, key, rel), "file B-tree") << rel << " key " << key.number;
        }
    }
    std::cout << "[ v8 index ] " << files.size() << " files, " << keys << " keys\n";
    EXPECT_GE(files.size(), 30u);
}

}  // namespace
