// The walk of a file's own B-tree: the same records in the same order as the
// in-memory index on real and written files, seeks that agree, a few page reads
// per seek, and a fallback that still reads right when the tree disagrees with
// the data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>

#include "btrieve/file.h"
#include "btrieve/index_btree.h"
#include "btrieve/keys.h"
#include "btrieve/table.h"
#include "btrieve/writer.h"
#include "key_order_util.h"
#include "index_walk_util.h"
#include "test_file_util.h"

using namespace btrieve;
using namespace indextest;
using filetest::TempDir;
using testkeys::keySegment;

namespace {

// compareWalks for every key of f; each key's description after the walks.
std::vector<std::string> compareAllKeys(const std::shared_ptr<const File>& f, const std::string& what) {
    std::vector<std::string> kinds;
    for (const KeySpec& key : f->info().keys) kinds.push_back(compareWalks(f, key, what));
    return kinds;
}

// ---- written files -------------------------------------------------------------

// Records of 24 bytes: u32 serial (unique, key 0), u16 group (key 1, duplicates),
// a 10-byte name (key 2: name and serial, unique), 8 spare bytes.
std::string record(uint32_t serial, uint16_t group, const std::string& name) {
    std::string r(24, '\0');
    std::memcpy(r.data(), &serial, 4);
    std::memcpy(r.data() + 4, &group, 2);
    std::memcpy(r.data() + 6, name.data(), std::min<size_t>(name.size(), 10));
    return r;
}
WriterOptions options(uint32_t pageSize, unsigned deleted = 0) {
    WriterOptions o;
    o.pageSize = pageSize;
    o.recordLength = 24;
    o.keys = {{{keySegment(0, 4, DataType::UnsignedBinary)}},
              {{keySegment(4, 2, DataType::Integer, keyflag::Duplicates)}},
              {{keySegment(6, 10, DataType::String, keyflag::Segmented), keySegment(0, 4, DataType::UnsignedBinary)}}};
    o.deletedRecords = deleted;
    o.staleShadows = true;
    return o;
}
// Serials in a scrambled order; groups of uneven size; names with repeats.
std::vector<std::string> records(uint32_t n) {
    std::vector<std::string> out;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t serial = (i * 7919u) % 100003u * 2 + 10;
        const uint16_t group = static_cast<uint16_t>((i * i) % 37);
        out.push_back(record(serial, group, "n" + std::to_string(i % 53)));
    }
    return out;
}

std::string written(const TempDir& dir, const std::string& name, const WriterOptions& o,
                    const std::vector<std::string>& recs) {
    const std::string path = dir.file(name);
    EXPECT_EQ(writeFile(path, o, recs), Status::Success) << name;
    return path;
}

// Where the current structures of a written 6.x file lie, read from its bytes.
struct Layout6 {
    std::string bytes;
    uint32_t ps = 0;
    size_t fcr = 0;
    uint32_t u16(size_t o) const { return uint8_t(bytes[o]) | uint8_t(bytes[o + 1]) << 8; }
    uint32_t u32(size_t o) const { return u16(o) | u16(o + 2) << 16; }
    uint32_t swapped(size_t o) const { return u16(o) << 16 | u16(o + 2); }
    static uint32_t pageId(const std::string& b, size_t o) {
        return uint32_t(uint8_t(b[o])) << 16 | uint8_t(b[o + 3]) << 8 | uint8_t(b[o + 2]);
    }
    size_t descriptor(int key) const { return fcr + u16(fcr + u16(fcr + 0x78) + 2 * key); }
    uint32_t root(int key) const { return pageId(bytes, descriptor(key)); }
    // Byte offset of a logical page: PAT pair g at physical page 2 + g * ps / 4
    // maps logical pages g * E + 1 ... (g + 1) * E, E = ps / 4 - 2.
    size_t page(uint32_t logical) const {
        const uint32_t per = ps / 4 - 2, g = (logical - 1) / per;
        const size_t first = (2 + size_t(g) * (ps / 4)) * ps;
        const size_t pat = u32(first + 4) >= u32(first + ps + 4) ? first : first + ps;
        return size_t(pageId(bytes, pat + 4 + 4 * (logical - g * per))) * ps;
    }
};
Layout6 layout(const std::string& path) {
    Layout6 l;
    l.bytes = filetest::readAll(path);
    l.ps = l.u16(0x08);
    l.fcr = l.u32(l.ps + 4) > l.u32(4) ? l.ps : 0;
    return l;
}

// Through a Table with each factory: the record a seek lands on, or the status.
std::string seekResult(const std::shared_ptr<const File>& f, bool fileIndex, int key, SeekOp op,
                       const std::string& value) {
    Table t(f);
    if (!fileIndex) t.setIndexFactory(makeMemoryIndex);
    EXPECT_EQ(t.setActiveKey(key), Status::Success);
    const Status st = t.seek(op, value);
    if (!ok(st)) return "status " + std::to_string(static_cast<int>(st));
    return std::to_string(*t.currentAddress());
}

TEST(FileIndexWritten, SameOrderAsInMemoryOnMultiLevelTreesWithDuplicatesAndDeletes) {
    TempDir dir;
    struct Case {
        uint32_t pageSize, records;
        unsigned deleted;
        bool variable;
    };
    for (const Case& c : {Case{512, 3000, 0, false}, Case{512, 2500, 40, false}, Case{1024, 5000, 7, true},
                          Case{4096, 60, 3, false}}) {
        WriterOptions o = options(c.pageSize, c.deleted);
        auto recs = records(c.records);
        if (c.variable) {
            o.variable = true;
            for (size_t i = 0; i < recs.size(); ++i) recs[i] += std::string(i % 50, 'v');
        }
        const std::string name = "w" + std::to_string(c.pageSize) + "_" + std::to_string(c.records) + ".dat";
        auto f = openShared(written(dir, name, o, recs));
        ASSERT_TRUE(f) << name;
        const auto kinds = compareAllKeys(f, name);
        for (size_t k = 0; k < kinds.size(); ++k) EXPECT_EQ(kinds[k], "file B-tree") << name << " key " << k;
    }
}

TEST(FileIndexWritten, EachSeekAtBetweenAndOutsideKeysLandsAsInMemory) {
    TempDir dir;
    auto f = openShared(written(dir, "seek.dat", options(512, 11), records(2000)));
    ASSERT_TRUE(f);
    auto u32 = [](uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
    auto i16 = [](int16_t v) { return std::string(reinterpret_cast<const char*>(&v), 2); };
    // Serials are even from 10: odd ones fall between keys; 0 and 300000 outside.
    const std::vector<std::pair<int, std::string>> probes = {
        {0, u32(0)},      {0, u32(10)},    {0, u32(11)},     {0, u32(5000)},  {0, u32(5001)},
        {0, u32(200014)}, {0, u32(300000)}, {1, i16(-1)},    {1, i16(0)},     {1, i16(17)},
        {1, i16(36)},     {1, i16(37)},    {1, i16(500)},    {2, "n1"},       {2, "n10"},
        {2, "n35"},       {2, "n5x"},      {2, ""},          {2, "zzz"},      {2, std::string("n7\0\0\0\0\0\0\0\0", 10) + u32(5000)}};
    for (const auto& [key, value] : probes)
        for (SeekOp op : {SeekOp::Eq, SeekOp::Ge, SeekOp::Gt, SeekOp::Le, SeekOp::Lt})
            EXPECT_EQ(seekResult(f, true, key, op, value), seekResult(f, false, key, op, value))
                << "key " << key << " op " << static_cast<int>(op) << " value size " << value.size();
}

TEST(FileIndexWritten, CriteriaSearchesFindTheSameRecordsAsInMemory) {
    TempDir dir;
    auto f = openShared(written(dir, "find.dat", options(512, 4), records(1500)));
    ASSERT_TRUE(f);
    const std::vector<FieldDef> fields = {{"group", DataType::Integer, 4, 2}, {"name", DataType::String, 6, 10}};
    for (const auto& [key, text] : std::vector<std::pair<int, std::string>>{
             {1, "group = 4"}, {2, "name = n7 AND group > 20"}, {0, "group = 36"}, {2, "name = nothing"}}) {
        const auto found = expectFindsAsInMemory(f, key, text, fields);
        EXPECT_EQ(found.empty(), text == "name = nothing") << text;
    }
}

// Page reads of open + first and of seeks on a large written file; perLevel is
// what one level of the tree may cost: the index page, and with small pages the
// page-table pair that maps it (a 512-byte page table maps only 126 pages).
void expectFewReads(uint32_t pageSize, int key, uint64_t perLevel) {
    TempDir dir;
    WriteSummary summary;
    const uint32_t n = 100000;
    const auto recs = records(n);
    const std::string path = dir.file("large.dat");
    ASSERT_EQ(writeFile(path, options(pageSize), [&](const RecordEmitter& emit) {
                  for (const auto& r : recs)
                      if (Status s = emit(r); !ok(s)) return s;
                  return Status::Success;
              }, &summary),
              Status::Success);
    const uint64_t depth = summary.indexLevels.at(key);
    ASSERT_GE(depth, 3u);

    auto f = openShared(path);
    ASSERT_TRUE(f);
    const uint64_t opened = f->pageReads();
    Table t(f);
    ASSERT_EQ(t.setActiveKey(key), Status::Success);
    ASSERT_EQ(t.moveFirst(), Status::Success);
    const uint64_t openFirst = f->pageReads();
    EXPECT_EQ(t.indexDescription(key), "file B-tree");
    // The left-most path and the record's page, each with at most the page-table
    // pair that maps it (both copies are read to find the current one).
    EXPECT_LE(openFirst - opened, (depth + 1) * 3);

    uint64_t worst = 0;
    for (uint32_t i : {0u, 99999u, 31337u, 77778u, 5000u}) {
        const std::string value = extractKey(f->info().keys[key], recs[i]);
        const uint64_t before = f->pageReads();
        ASSERT_EQ(t.seek(SeekOp::Eq, value), Status::Success);
        worst = std::max(worst, f->pageReads() - before);
    }
    EXPECT_LE(worst, (depth + 1) * perLevel - (perLevel - 1)) << "the root stays at hand";
    const uint64_t before = f->pageReads();
    for (int i = 0; i < 20; ++i) ASSERT_EQ(t.moveNext(), Status::Success);
    const uint64_t steps = f->pageReads() - before;
    EXPECT_LE(steps, 20 * perLevel + depth * perLevel);
    std::cout << "[ reads    ] " << pageSize << "-byte pages, " << n << " records, key " << key << ", depth " << depth
              << ", " << summary.physicalPages << " pages: open " << opened << ", first " << openFirst - opened
              << ", worst seek " << worst << ", 20 steps " << steps << "\n";
}

TEST(FileIndexWritten, OpenFirstAndSeekReadOnlyAFewPages) {
    expectFewReads(4096, 2, 1);
    expectFewReads(512, 0, 3);
}

// ---- damaged written files -----------------------------------------------------

struct Damaged {
    std::string name;
    std::function<void(const Layout6&, std::string&)> damage;
    // A record whose key changed is found only where the walk meets its old place;
    // a walk that starts beyond its new place has passed it already. Such a file
    // is walked backwards after the forward walk found the fault.
    bool freshBackward = true;
};

// The damaged copy reads the same through the default index as through the
// in-memory one, and no longer uses its tree.
void expectFallback(const TempDir& dir, const std::string& source, const Damaged& d, int key) {
    Layout6 l = layout(source);
    std::string bytes = l.bytes;
    d.damage(l, bytes);
    auto f = openShared(dir.put(d.name, bytes));
    ASSERT_TRUE(f) << d.name;
    SCOPED_TRACE(d.name);
    indextest::expectFallback(f, key, 40, d.freshBackward);
}

TEST(FileIndexDamaged, DisagreeingTreesFallBackAndStillReadRight) {
    TempDir dir;
    // One file with one-page trees, one with trees of several levels; a few
    // deleted slots in both.
    const std::string flat = written(dir, "flat.dat", options(4096, 5), records(90));
    const std::string deep = written(dir, "deep.dat", options(512, 9), records(1500));
    auto putU32 = [](std::string& b, size_t at, uint32_t v) { filetest::putU32(b, at, v); };
    auto entry = [](const Layout6& l, int key, uint32_t page, uint32_t i) {
        return l.page(page) + 12 + size_t(i) * l.u16(l.descriptor(key) + 0x0C);
    };
    auto keyLength = [](const Layout6& l, int key) { return l.u16(l.descriptor(key) + 0x0A); };

    const std::vector<std::pair<std::string, Damaged>> cases = {
        {flat, {"empty-root.dat", [](const Layout6& l, std::string& b) { filetest::putU16(b, l.page(l.root(0)) + 6, 0); }}},
        {flat, {"no-root.dat", [&](const Layout6& l, std::string& b) { putU32(b, l.descriptor(0), 0xFFFFFFFFu); }}},
        // The root named by the header is the right-most leaf, the first root before
        // the tree grew (the writer's logical page 1 for key 0).
        {deep, {"old-root.dat", [](const Layout6& l, std::string& b) {
                    ASSERT_NE(l.root(0), 1u);
                    b[l.descriptor(0)] = 0;
                    b[l.descriptor(0) + 2] = 1;
                    b[l.descriptor(0) + 3] = 0;
                }}},
        // A root at a page the page table does not map (a stale shadow copy).
        {deep, {"unmapped-root.dat", [](const Layout6& l, std::string& b) { b[l.descriptor(0) + 2] = char(0xF0); }}},
        // An entry pointing at the first deleted slot, as the current FCR names it.
        {flat, {"deleted-slot.dat", [&](const Layout6& l, std::string& b) {
                    const uint32_t deleted = l.swapped(l.fcr + 0x10);
                    ASSERT_NE(deleted, 0xFFFFFFFFu);
                    filetest::putSwapped32(b, entry(l, 0, l.root(0), 30) + 4 + keyLength(l, 0), deleted);
                }}},
        {deep, {"deleted-slot-chain.dat", [&](const Layout6& l, std::string& b) {
                    const uint32_t deleted = l.swapped(l.fcr + 0x10);
                    const size_t e = entry(l, 1, l.root(1), 0);
                    filetest::putSwapped32(b, e + 4 + keyLength(l, 1) + 4, deleted);  // the chain's last
                }}},
        // Child 0 of the root points back at the root.
        {deep, {"child-cycle.dat", [&](const Layout6& l, std::string& b) {
                    const size_t root = l.page(l.root(0));
                    std::memcpy(&b[entry(l, 0, l.root(0), 0)], &b[root], 4);
                }}},
        // Two entries of a leaf change places: out of order.
        {deep, {"swapped-entries.dat", [&](const Layout6& l, std::string& b) {
                    const size_t root = l.page(l.root(0));
                    const uint32_t leaf = Layout6::pageId(b, root + 12);  // child 0
                    const size_t size = l.u16(l.descriptor(0) + 0x0C);
                    std::string a = b.substr(entry(l, 0, leaf, 3), size);
                    b.replace(entry(l, 0, leaf, 3), size, b.substr(entry(l, 0, leaf, 4), size));
                    b.replace(entry(l, 0, leaf, 4), size, a);
                }}},
        // A record's key changed under its entry (the tree no longer matches the data).
        {deep, {"changed-key.dat", [&](const Layout6& l, std::string& b) {
                    const uint32_t addr = l.swapped(entry(l, 2, l.root(2), 0) + 4 + keyLength(l, 2));
                    b[l.page(addr / l.ps) + addr % l.ps + 2 + 6] = '~';
                }, false}},
        // A duplicate chain whose next link skips its successor.
        {deep, {"broken-chain.dat", [&](const Layout6& l, std::string& b) {
                    const uint32_t first = l.swapped(entry(l, 1, l.root(1), 1) + 4 + keyLength(l, 1));
                    const size_t dup = l.page(first / l.ps) + first % l.ps + l.u16(l.descriptor(1) + 0x12);
                    const uint32_t second = l.swapped(dup + 4);
                    const size_t dup2 = l.page(second / l.ps) + second % l.ps + l.u16(l.descriptor(1) + 0x12);
                    std::memcpy(&b[dup + 4], &b[dup2 + 4], 4);
                }}},
        // The header counts one record fewer values than the tree holds.
        {deep, {"short-count.dat", [&](const Layout6& l, std::string& b) {
                    filetest::putSwapped32(b, l.descriptor(0) + 4, l.swapped(l.descriptor(0) + 4) - 1);
                }}},
    };
    for (const auto& [source, d] : cases) {
        const int key = d.name.find("chain") != std::string::npos ? 1 : d.name == "changed-key.dat" ? 2 : 0;
        SCOPED_TRACE(d.name);
        expectFallback(dir, source, d, key);
    }
}

TEST(FileIndexDamaged, AFaultFoundMidWalkRepositionsOnTheCurrentRecord) {
    TempDir dir;
    const std::string deep = written(dir, "deep.dat", options(512), records(1500));
    Layout6 l = layout(deep);
    // Break the right-most leaf's last entry only: the walk from the first record
    // checks out until it reaches it.
    std::string b = l.bytes;
    const size_t root = l.page(l.root(0));
    uint32_t page = l.root(0);
    for (size_t at = root; Layout6::pageId(b, at + 8) != 0xFFFFFF; at = l.page(page))
        page = Layout6::pageId(b, at + 8);
    const size_t leaf = l.page(page);
    const uint32_t n = l.u16(leaf + 6);
    const size_t size = l.u16(l.descriptor(0) + 0x0C);
    filetest::putSwapped32(b, leaf + 12 + (n - 1) * size + 4 + 4, 0x00000001u);  // no slot there
    auto f = openShared(dir.put("late.dat", b));
    ASSERT_TRUE(f);
    Table viaTree(f), viaMemory(f);
    viaMemory.setIndexFactory(makeMemoryIndex);
    std::vector<RecordAddress> a, m;
    for (Status st = viaTree.moveFirst(); ok(st); st = viaTree.moveNext()) a.push_back(*viaTree.currentAddress());
    for (Status st = viaMemory.moveFirst(); ok(st); st = viaMemory.moveNext()) m.push_back(*viaMemory.currentAddress());
    EXPECT_EQ(a, m);
    EXPECT_EQ(a.size(), 1500u);
    EXPECT_EQ(viaTree.indexDescription(0).rfind("in-memory (fell back: ", 0), 0u) << viaTree.indexDescription(0);
    // Back from the end through the in-memory index now.
    EXPECT_EQ(viaTree.movePrevious(), Status::Success);
    EXPECT_EQ(viaTree.currentAddress(), std::optional<RecordAddress>(m[m.size() - 2]));
}

TEST(FileIndexChoice, WhichIndexAndWhy) {
    TempDir dir;
    auto f = openShared(written(dir, "c.dat", options(4096), records(50)));
    ASSERT_TRUE(f);
    Table t(f);
    EXPECT_EQ(t.indexDescription(1), "file B-tree");
    EXPECT_EQ(t.verifyIndex(1), Status::Success);
    EXPECT_EQ(t.indexDescription(1), "file B-tree");
    EXPECT_EQ(t.indexDescription(9).rfind("unavailable", 0), 0u);
    t.setIndexFactory(makeMemoryIndex);
    EXPECT_EQ(t.indexDescription(0), "in-memory");

    KeySpec repeating = f->info().keys[1];
    repeating.segments[0].flags |= keyflag::RepeatingDuplicates;
    EXPECT_NE(fileIndexUnusable(*f, repeating), "");
    KeySpec nullable = f->info().keys[0];
    nullable.segments[0].flags |= keyflag::NullAll;
    std::unique_ptr<KeyIndex> idx;
    ASSERT_EQ(makeDefaultIndex(f, nullable, idx), Status::Success);
    // A null key walks the file's tree too: the records it leaves out have no entry.
    EXPECT_EQ(idx->description(), "file B-tree");
}

TEST(FileIndexDuplicates, BothIndexesFollowTheChainWhereItLeavesAddressOrder) {
    TempDir dir;
    const std::string path = written(dir, "chain.dat", options(4096), records(200));
    Layout6 l = layout(path);
    std::string b = l.bytes;
    // Reverse the chain of the value of key 1's first entry: the records of that
    // value now stand in the chain newest-address first, as they do after inserts
    // into reused slots.
    const int key = 1;
    const uint32_t keyLen = l.u16(l.descriptor(key) + 0x0A);
    const uint32_t dupAt = l.u16(l.descriptor(key) + 0x12);
    const size_t e = l.page(l.root(key)) + 12;
    auto slot = [&](uint32_t addr) { return l.page(addr / l.ps) + addr % l.ps; };
    std::vector<uint32_t> chain;
    for (uint32_t a = l.swapped(e + 4 + keyLen); a != 0xFFFFFFFFu; a = l.swapped(slot(a) + dupAt + 4)) chain.push_back(a);
    ASSERT_GE(chain.size(), 3u);
    std::reverse(chain.begin(), chain.end());
    for (size_t i = 0; i < chain.size(); ++i) {
        filetest::putSwapped32(b, slot(chain[i]) + dupAt, i == 0 ? 0xFFFFFFFFu : chain[i - 1]);
        filetest::putSwapped32(b, slot(chain[i]) + dupAt + 4, i + 1 == chain.size() ? 0xFFFFFFFFu : chain[i + 1]);
    }
    filetest::putSwapped32(b, e + 4 + keyLen, chain.front());
    filetest::putSwapped32(b, e + 8 + keyLen, chain.back());
    auto f = openShared(dir.put("reversed.dat", b));
    ASSERT_TRUE(f);
    const auto kinds = compareAllKeys(f, "reversed.dat");
    EXPECT_EQ(kinds.at(key), "file B-tree");
    auto mem = memoryIndex(f, f->info().keys[key]);
    const auto seq = sequence(*mem, true);
    std::vector<RecordAddress> expected;
    for (uint32_t a : chain) expected.push_back(f->addressFromPointer(a));
    ASSERT_GE(seq.size(), expected.size());
    EXPECT_EQ(std::vector<RecordAddress>(seq.begin(), seq.begin() + expected.size()), expected);

    // A chain that no longer holds all records of its value: the in-memory index
    // keeps physical order for it, and the tree walk falls back to it.
    std::string c = b;
    filetest::putSwapped32(c, slot(chain[1]) + dupAt + 4, 0xFFFFFFFFu);
    auto g = openShared(dir.put("cut.dat", c));
    ASSERT_TRUE(g);
    auto cutMem = memoryIndex(g, g->info().keys[key]);
    std::vector<RecordAddress> physical = expected;
    std::sort(physical.begin(), physical.end());
    const auto cutSeq = sequence(*cutMem, true);
    EXPECT_EQ(std::vector<RecordAddress>(cutSeq.begin(), cutSeq.begin() + physical.size()), physical);
    const auto cutKinds = compareAllKeys(g, "cut.dat");
    EXPECT_NE(cutKinds.at(key), "file B-tree");
}

TEST(FileIndexChoice, TheEnvironmentSwitchTurnsTheWalkOff) {
    // The switch is read once per process: look at it in a fresh one.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempDir dir;
    const std::string path = written(dir, "env.dat", options(4096), records(20));
    ::setenv("BTRIEVE_NO_FILE_INDEX", "1", 1);
    EXPECT_EXIT(
        {
            auto f = openShared(path);
            Table t(f);
            const bool off = fileIndexSwitchedOff() && ok(t.moveFirst()) &&
                             t.indexDescription(0) == "in-memory (walk of the file's index switched off)";
            std::exit(off ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    ::unsetenv("BTRIEVE_NO_FILE_INDEX");
}

// ---- the sample files --------------------------------------------------------------

TEST(FileIndexCorpus, EveryKeyOfEveryPre6And6xFileMatchesTheInMemoryOrder) {
    namespace fs = std::filesystem;
    if (!fs::exists(filetest::corpusDir())) GTEST_SKIP() << "no sample files";
    std::map<std::string, std::vector<std::string>> kinds;
    for (const auto& e : fs::recursive_directory_iterator(filetest::corpusDir())) {
        if (!e.is_regular_file()) continue;
        const std::string rel = fs::relative(e.path(), filetest::corpusDir()).string();
        Status st;
        auto f = openShared(e.path().string(), &st);
        if (!ok(st) || f->info().family == Family::V8) continue;
        kinds[rel] = compareAllKeys(f, rel);
    }
    for (const auto& [rel, k] : kinds) {
        std::cout << "[ index    ] " << rel << ":";
        for (const auto& s : k) std::cout << " [" << s << "]";
        std::cout << "\n";
    }
    // Files whose trees are known to check out walk their own index for every key.
    for (const char* rel : {"wbtrv32/GALTELA.DAT", "wbtrv32/WGSMENU2.DAT", "wbtrv32/MULTIACS.DAT",
                            "xtrieve/TESTE.DAT", "xtrieve/TEST.DAT", "mbbsemu/MBBSEMU.DAT",
                            "wbtrv32/VARIABLE.DAT"}) {
        auto it = kinds.find(rel);
        if (it == kinds.end()) continue;
        for (size_t k = 0; k < it->second.size(); ++k) EXPECT_EQ(it->second[k], "file B-tree") << rel << " key " << k;
    }
}

TEST(FileIndexCorpus, GaltelaDuplicateChainOf72InInsertionOrder) {
    REQUIRE_CORPUS("wbtrv32/GALTELA.DAT");
    auto f = openShared(filetest::corpus("wbtrv32/GALTELA.DAT"));
    ASSERT_TRUE(f);
    std::unique_ptr<KeyIndex> idx;
    ASSERT_EQ(makeBTreeIndex(f, f->info().keys.at(1), idx), Status::Success);
    const auto seq = sequence(*idx, true);
    ASSERT_EQ(seq.size(), 73u);
    // The long chain runs in ascending address order, which is also the order the
    // in-memory index keeps duplicates in.
    std::unique_ptr<IndexCursor> c;
    ASSERT_EQ(idx->first(c), Status::Success);
    size_t longest = 0, run = 1;
    std::string prev(c->key());
    RecordAddress prevAddr = c->address();
    while (ok(c->next())) {
        if (compareKeys(idx->key(), f->info(), prev, c->key()) == 0) {
            EXPECT_LT(prevAddr, c->address());
            longest = std::max(longest, ++run);
        } else {
            run = 1;
        }
        prev = std::string(c->key());
        prevAddr = c->address();
    }
    EXPECT_EQ(longest, 72u);
    EXPECT_EQ(idx->description(), "file B-tree");
}

}  // namespace
