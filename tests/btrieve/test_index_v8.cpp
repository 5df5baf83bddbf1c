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
#include <tuple>

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

// Of a walk through an index, whether some value's records stand out of address
// order (the chain then differs from the order a sort by address would give).
bool someValueOutOfAddressOrder(const KeyIndex& index, const FileInfo& info) {
    std::unique_ptr<IndexCursor> c;
    if (!ok(index.first(c))) return false;
    std::string prev(c->key());
    RecordAddress prevAddr = c->address();
    bool out = false;
    while (ok(c->next())) {
        if (compareKeys(index.key(), info, prev, c->key()) == 0 && c->address() < prevAddr) out = true;
        prev.assign(c->key());
        prevAddr = c->address();
    }
    return out;
}

TEST(FileIndexV8Corpus, FieldDdfDuplicatesFollowTheirChainNotTheAddressOrder) {
    for (const char* rel : {"exchequer/UDF-DDFs/FIELD.DDF", "actianui/field.ddf"}) {
        SCOPED_TRACE(rel);
        if (!std::filesystem::exists(filetest::corpus(rel))) GTEST_SKIP() << "sample file missing: " << rel;
        auto f = openShared(filetest::corpus(rel));
        ASSERT_TRUE(f);
        for (int k : {1, 4}) {
            const KeySpec& key = f->info().keys.at(k);
            auto tree = defaultIndex(f, key);
            auto mem = memoryIndex(f, key);
            ASSERT_TRUE(tree && mem);
            const auto walked = sequence(*tree, true);
            EXPECT_EQ(walked.size(), f->info().recordCount) << "key " << k;
            EXPECT_TRUE(someValueOutOfAddressOrder(*tree, f->info())) << "key " << k;
            EXPECT_EQ(sequence(*mem, true), walked) << "key " << k;
            // The export's order is the same.
            std::vector<RecordAddress> exported;
            ASSERT_EQ(engineKeyOrder(*f, key, exported), Status::Success);
            EXPECT_EQ(exported, walked) << "key " << k;
            EXPECT_EQ(tree->description(), "file B-tree") << "key " << k;
        }
    }
}

// The value of key that is null in every segment.
std::string nullValue(const KeySpec& key) {
    std::string v;
    for (const KeySegment& seg : key.segments) v.append(seg.length, static_cast<char>(seg.nullValue));
    return v;
}

// Records of key reached through the default index and the export's order; each
// has a key that is not null, and leftOut records are missing.
void expectLeftOut(const std::string& rel, int k, uint64_t leftOut) {
    SCOPED_TRACE(rel + " key " + std::to_string(k));
    auto f = openShared(filetest::corpus(rel));
    ASSERT_TRUE(f);
    const KeySpec& key = f->info().keys.at(k);
    const uint64_t expected = f->info().recordCount - leftOut;
    auto tree = defaultIndex(f, key);
    ASSERT_TRUE(tree);
    const auto walked = sequence(*tree, true);
    EXPECT_EQ(walked.size(), expected);
    EXPECT_EQ(tree->description(), "file B-tree");
    std::string rec;
    for (RecordAddress a : walked) {
        ASSERT_EQ(f->readRecord(a, rec), Status::Success);
        EXPECT_FALSE(isNullKey(key, extractKey(key, rec)));
    }
    std::vector<RecordAddress> exported;
    uint64_t dropped = 0;
    ASSERT_EQ(engineKeyOrder(*f, key, exported, &dropped), Status::Success);
    EXPECT_EQ(dropped, leftOut);
    EXPECT_EQ(exported, walked);
    auto mem = memoryIndex(f, key);
    ASSERT_TRUE(mem);
    EXPECT_NE(mem->description().find(std::to_string(leftOut) + " null key(s) left out"), std::string::npos)
        << mem->description();

    // A seek by the null value finds nothing, whichever index serves it.
    for (bool fileIndex : {true, false}) {
        Table t(f);
        if (!fileIndex) t.setIndexFactory(makeMemoryIndex);
        ASSERT_EQ(t.setActiveKey(k), Status::Success);
        EXPECT_EQ(t.seek(SeekOp::Eq, nullValue(key)), Status::KeyNotFound) << (fileIndex ? "tree" : "memory");
    }
}

TEST(FileIndexNullKeys, RecordsWithANullKeyAreLeftOutInEveryFamily) {
    const std::vector<std::tuple<const char*, int, uint64_t>> cases = {
        // 8.0, compressed: flag 0x0200 on every segment.
        {"exchequer/BaseDemo/JOBS/JobDet.Dat", 1, 28},
        {"exchequer/BaseDemo/JOBS/JobDet.Dat", 2, 28},
        {"exchequer/BaseDemo/JOBS/JobDet.Dat", 3, 3783},
        {"exchequer/BaseDemo/JOBS/JobDet.Dat", 6, 28},
        {"exchequer/BaseDemo/TRANS/Document.Dat", 12, 7088},
        // 6.0, compressed, flag 0x0200 with linked duplicates: 259 of 800 in the index.
        {"exchequer/BaseDemo/JOBS/JOBCTRL.DAT", 1, 800 - 259},
    };
    for (const auto& [rel, key, leftOut] : cases) {
        if (!std::filesystem::exists(filetest::corpus(rel))) {
            std::cout << "[ skipped  ] sample file missing: " << rel << "\n";
            continue;
        }
        expectLeftOut(rel, key, leftOut);
    }
}

TEST(FileIndexNullKeys, APre6NullAllKeyOverNullRecordsHasNoEntries) {
    REQUIRE_CORPUS("ccc-fibu/D01-2024/FI2100a.btr");
    auto f = openShared(filetest::corpus("ccc-fibu/D01-2024/FI2100a.btr"));
    ASSERT_TRUE(f);
    const KeySpec& key = f->info().keys.at(3);
    ASSERT_TRUE(key.flags() & keyflag::NullAll);
    expectLeftOut("ccc-fibu/D01-2024/FI2100a.btr", 3, f->info().recordCount);
    Table t(f);
    ASSERT_EQ(t.setActiveKey(3), Status::Success);
    EXPECT_EQ(t.moveFirst(), Status::EndOfFile);
}

TEST(NullKeyRule, AnySegmentOrAllSegments) {
    KeySpec any;
    any.segments = {{keyflag::NullAny | keyflag::Segmented, 0, 2, DataType::String, ' ', -1},
                    {keyflag::NullAny, 2, 2, DataType::String, ' ', -1}};
    KeySpec all = any;
    for (auto& s : all.segments) s.flags = (s.flags & ~keyflag::NullAny) | keyflag::NullAll;
    KeySpec plain = any;
    for (auto& s : plain.segments) s.flags &= ~keyflag::NullAny;
    for (const auto& [bytes, isAny, isAll] : std::vector<std::tuple<std::string, bool, bool>>{
             {"    ", true, true}, {"ab  ", true, false}, {"  ab", true, false}, {"abcd", false, false},
             {" a  ", true, false}, {"a b ", false, false}}) {
        EXPECT_EQ(isNullKey(any, bytes), isAny) << '"' << bytes << '"';
        EXPECT_EQ(isNullKey(all, bytes), isAll) << '"' << bytes << '"';
        EXPECT_FALSE(isNullKey(plain, bytes)) << '"' << bytes << '"';
    }
}

}  // namespace
