// The walk of 8.0, 9.0 and 9.5 files' own B-trees: every key of every such sample
// file gives the same records in the same order through its tree as through the
// in-memory index; duplicates come in chain order and null keys are left out, as
// the engine does; damaged trees fall back and still read right.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <tuple>

#include "btrieve/criteria.h"
#include "btrieve/file.h"
#include "btrieve/index_btree.h"
#include "btrieve/key_order.h"
#include "btrieve/keys.h"
#include "btrieve/table.h"
#include "btrieve/writer.h"
#include "index_walk_util.h"
#include "test_file_util.h"

using namespace btrieve;
using namespace indextest;
using filetest::TempDir;

namespace {

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
            EXPECT_EQ(compareWalks(f, key, rel), "file B-tree") << rel << " key " << key.number;
        }
    }
    std::cout << "[ v8 index ] " << files.size() << " files, " << keys << " keys\n";
    EXPECT_GE(files.size(), 30u);
}

// The record pointers' slot bits are taken as max(4, bit width of the slots per
// page); the engine stores them at FCR byte 0x15F. Every sample file agrees.
TEST(FileIndexV8Corpus, TheStoredSlotBitsMatchTheRule) {
    const auto files = v8CorpusFiles();
    if (files.empty()) GTEST_SKIP() << "no 8.x/9.x sample files";
    for (const std::string& rel : files) {
        auto f = openShared(filetest::corpus(rel));
        ASSERT_TRUE(f) << rel;
        const std::string b = filetest::readAll(filetest::corpus(rel));
        const uint32_t ps = uint8_t(b[0x2B]) * 256u;
        const size_t second = size_t(std::max(2048 / ps, 2u)) * ps;
        const bool v95 = f->info().version == 0x0950;
        auto usage = [&](size_t at) -> uint32_t {
            return v95 ? uint32_t(filetest::getU16(b, at + 8)) | uint32_t(filetest::getU16(b, at + 10)) << 16
                       : filetest::getU16(b, at + 6);
        };
        const size_t fcr = b.size() >= second + 0x160 && b.compare(second, 2, "FC") == 0 && usage(second) > usage(0)
                               ? second : 0;
        EXPECT_EQ(uint8_t(b[fcr + 0x15F]), recordPointerShift(f->slotsPerPage())) << rel;
    }
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

// ---- damaged 8.x and 9.5 trees ------------------------------------------------------

// Where the current structures of an 8.0 or 9.5 file with one page-table pair lie,
// read from its bytes.
struct Layout8 {
    std::string bytes;
    bool v95 = false;
    uint32_t ps = 0, copy = 0;
    uint32_t header = 14, countAt = 8, slots = 8;  // 9.5: 16, 10, 10
    size_t fcr = 0, pat = 0;
    uint32_t u16(size_t o) const { return uint8_t(bytes[o]) | uint8_t(bytes[o + 1]) << 8; }
    uint32_t u32(size_t o) const { return u16(o) | u16(o + 2) << 16; }
    uint32_t usage(size_t copyAt) const { return v95 ? u32(copyAt + 8) : u16(copyAt + 6); }
    size_t descriptor(int key) const { return fcr + u16(fcr + u16(fcr + 0x7A) + 2 * key); }
    uint32_t root(int key) const { return u32(descriptor(key)); }
    uint32_t entrySize(int key) const { return u16(descriptor(key) + 0x0C); }
    uint32_t keyLength(int key) const { return u16(descriptor(key) + 0x0A); }
    uint32_t prl() const { return u16(fcr + 0x18); }
    uint32_t shift() const { return recordPointerShift((ps - slots) / prl()); }
    size_t patEntry(uint32_t logical) const { return v95 ? pat + 0x08 + 8 * size_t(logical) : pat + 0x0E + 6 * size_t(logical); }
    uint32_t patType(uint32_t logical) const { return u16(patEntry(logical) + 4); }
    size_t page(uint32_t logical) const { return size_t(u32(patEntry(logical))) * ps; }
    uint32_t count(uint32_t logical) const { return u16(page(logical) + countAt); }
    uint32_t right(uint32_t logical) const { return u32(page(logical) + countAt + 2); }
    size_t entry(int key, uint32_t logical, uint32_t i) const { return page(logical) + header + size_t(i) * entrySize(key); }
    size_t slot(uint32_t pointer) const {
        return page(pointer >> shift()) + slots + (pointer & ((1u << shift()) - 1)) * prl();
    }
    uint32_t recordOf(int key, size_t entry) const { return u32(entry + 4 + keyLength(key)); }
    // A free slot: one whose usage word is zero on a data page the page table maps.
    uint32_t freeSlot() const {
        for (uint32_t logical = 1; logical < 64; ++logical) {
            if (patType(logical) != 0x44) continue;
            for (uint32_t i = 0; i < (ps - slots) / prl(); ++i)
                if (u16(page(logical) + slots + i * prl()) == 0) return logical << shift() | i;
        }
        return 0xFFFFFFFFu;
    }
};
Layout8 layout8(const std::string& path) {
    Layout8 l;
    l.bytes = filetest::readAll(path);
    l.v95 = l.u16(0x4A) == 0x0950 || l.u16(0x4A) == 0xF6B0;
    if (l.v95) l.header = 16, l.countAt = 10, l.slots = 10;
    l.ps = uint8_t(l.bytes[0x2B]) * 256u;
    l.copy = std::max(2048 / l.ps, 2u);
    l.fcr = l.usage(size_t(l.copy) * l.ps) > l.usage(0) ? size_t(l.copy) * l.ps : 0;
    const size_t a = size_t(4) * l.copy * l.ps, b = a + size_t(l.copy) * l.ps;
    l.pat = l.usage(b) > l.usage(a) ? b : a;
    return l;
}

// Damage that makes the chain of the first entry of key with three records or
// more skip its second record.
void breakChain(const Layout8& l, int key, std::string& b) {
    const uint32_t dupAt = l.u16(l.descriptor(key) + 0x12);
    for (uint32_t i = 0; i < l.count(l.root(key)); ++i) {
        const size_t dup = l.slot(l.recordOf(key, l.entry(key, l.root(key), i))) + dupAt;
        const uint32_t second = l.u32(dup + 4);
        if (second == 0xFFFFFFFFu) continue;
        const uint32_t third = l.u32(l.slot(second) + dupAt + 4);
        if (third == 0xFFFFFFFFu) continue;
        filetest::putU32(b, dup + 4, third);
        return;
    }
    FAIL() << "no chain of three";
}

// The damaged copy reads the same through the default index as through the
// in-memory one, and no longer uses its tree.
void expectFallback8(const std::shared_ptr<const File>& f, int k, const std::string& name) {
    SCOPED_TRACE(name);
    indextest::expectFallback(f, k, 20);
}

TEST(FileIndexV8Damaged, DisagreeingTreesFallBackAndStillReadRight) {
    // 512-byte pages, 53 records, uncompressed: key 1 has duplicate chains, key 3
    // (22 bytes, unique) a root over leaves.
    const char* rel = "exchequer/UDF-DDFs/FIELD.DDF";
    REQUIRE_CORPUS(rel);
    TempDir dir;
    const Layout8 l = layout8(filetest::corpus(rel));
    ASSERT_EQ(l.ps, 512u);
    ASSERT_NE(l.right(l.root(3)), 0xFFFFFFFFu) << "key 3's root is an inner node";
    const uint32_t leaf = l.u32(l.entry(3, l.root(3), 0));  // child 0 of key 3's root
    // Key 0's root is an inner node too: its left-most leaf holds more than six entries.
    const uint32_t leaf0 = l.u32(l.entry(0, l.root(0), 0));
    ASSERT_GT(l.count(leaf0), 6u);
    const uint32_t freeSlot = l.freeSlot();
    struct Case {
        std::string name;
        int key;
        std::function<void(std::string&)> damage;
    };
    const std::vector<Case> cases = {
        // The header names an older root: a leaf of the current tree.
        {"stale-root.ddf", 3, [&](std::string& b) { filetest::putU32(b, l.descriptor(3), leaf); }},
        // A root at a logical page the page table does not map.
        {"unmapped-root.ddf", 3, [&](std::string& b) { filetest::putU32(b, l.descriptor(3), 0x7000); }},
        {"free-slot.ddf", 0, [&](std::string& b) {
             ASSERT_NE(freeSlot, 0xFFFFFFFFu);
             filetest::putU32(b, l.entry(0, leaf0, 5) + 4 + l.keyLength(0), freeSlot);
         }},
        // Child 0 of the root points back at the root.
        {"cycle.ddf", 3, [&](std::string& b) { filetest::putU32(b, l.entry(3, l.root(3), 0), l.root(3)); }},
        {"broken-chain.ddf", 1, [&](std::string& b) { breakChain(l, 1, b); }},
        // An entry's key bytes changed: out of order with its neighbour.
        {"out-of-order.ddf", 0, [&](std::string& b) {
             const size_t e = l.entry(0, leaf0, 2);
             b[e + 4] = char(0xFF);
             b[e + 5] = char(0xFF);
         }},
    };
    for (const Case& c : cases) {
        std::string bytes = l.bytes;
        c.damage(bytes);
        auto f = openShared(dir.put(c.name, bytes));
        ASSERT_TRUE(f) << c.name;
        expectFallback8(f, c.key, c.name);
    }
}

TEST(FileIndexV8Damaged, Damaged95TreesFallBackToo) {
    // 9.5, 4096-byte pages, 87 records: one-page trees; key 1 has duplicate chains.
    const char* rel = "actianui/field.ddf";
    REQUIRE_CORPUS(rel);
    TempDir dir;
    const Layout8 l = layout8(filetest::corpus(rel));
    ASSERT_TRUE(l.v95);
    ASSERT_GT(l.count(l.root(0)), 6u);
    const uint32_t freeSlot = l.freeSlot();
    const std::vector<std::pair<std::string, std::function<void(std::string&)>>> cases = {
        // The header names another key's root, or a page the page table does not map.
        {"other-root.ddf", [&](std::string& b) { filetest::putU32(b, l.descriptor(0), l.root(1)); }},
        {"unmapped-root.ddf", [&](std::string& b) { filetest::putU32(b, l.descriptor(0), 0x7000); }},
        {"free-slot.ddf", [&](std::string& b) {
             ASSERT_NE(freeSlot, 0xFFFFFFFFu);
             filetest::putU32(b, l.entry(0, l.root(0), 5) + 4 + l.keyLength(0), freeSlot);
         }},
        {"out-of-order.ddf", [&](std::string& b) {
             const size_t e = l.entry(0, l.root(0), 2);
             b[e + 4] = char(0xFF);
             b[e + 5] = char(0xFF);
         }},
    };
    for (const auto& [name, damage] : cases) {
        std::string bytes = l.bytes;
        damage(bytes);
        auto f = openShared(dir.put(name, bytes));
        ASSERT_TRUE(f) << name;
        expectFallback8(f, 0, name);
    }
    std::string bytes = l.bytes;
    breakChain(l, 1, bytes);
    auto f = openShared(dir.put("broken-chain.ddf", bytes));
    ASSERT_TRUE(f);
    expectFallback8(f, 1, "broken-chain.ddf");
}

// ---- 8.0 files from the writer ------------------------------------------------------

// Records of 24 bytes: u32 serial (unique, key 0), u16 group (key 1, duplicates),
// a 10-byte name (key 2: name and serial), 8 spare bytes; serials scrambled.
std::vector<std::string> records8(uint32_t n) {
    std::vector<std::string> out;
    for (uint32_t i = 0; i < n; ++i) {
        std::string r(24, '\0');
        const uint32_t serial = (i * 7919u) % 100003u * 2 + 10;
        const uint16_t group = static_cast<uint16_t>((i * i) % 37);
        const std::string name = "n" + std::to_string(i % 53);
        std::memcpy(r.data(), &serial, 4);
        std::memcpy(r.data() + 4, &group, 2);
        std::memcpy(r.data() + 6, name.data(), std::min<size_t>(name.size(), 10));
        out.push_back(r);
    }
    return out;
}
WriterOptions options8(uint32_t pageSize, unsigned deleted) {
    WriterOptions o;
    o.version = 0x0800;
    o.pageSize = pageSize;
    o.recordLength = 24;
    KeySegment serial{0, 0, 4, DataType::UnsignedBinary, 0, -1};
    KeySegment group{keyflag::Duplicates, 4, 2, DataType::Integer, 0, -1};
    KeySegment name{keyflag::Segmented, 6, 10, DataType::String, 0, -1};
    o.keys = {{{serial}}, {{group}}, {{name, serial}}};
    o.deletedRecords = deleted;
    return o;
}

TEST(FileIndexV8Written, TreesOfEveryShapeWalkAsTheInMemoryIndex) {
    TempDir dir;
    for (const auto& [pageSize, n, deleted] : std::vector<std::tuple<uint32_t, uint32_t, unsigned>>{
             {512, 3000, 0}, {512, 2500, 40}, {1024, 5000, 7}, {4096, 60, 3}, {2048, 0, 0}}) {
        const std::string name = "v8_" + std::to_string(pageSize) + "_" + std::to_string(n) + ".dat";
        SCOPED_TRACE(name);
        WriteSummary summary;
        const auto recs = records8(n);
        ASSERT_EQ(writeFile(dir.file(name), options8(pageSize, deleted), [&](const RecordEmitter& emit) {
                      for (const auto& r : recs)
                          if (Status st = emit(r); !ok(st)) return st;
                      return Status::Success;
                  }, &summary),
                  Status::Success);
        auto f = openShared(dir.file(name));
        ASSERT_TRUE(f);
        EXPECT_EQ(f->info().family, Family::V8);
        EXPECT_EQ(f->info().recordCount, n);
        std::vector<std::string> read;
        ASSERT_EQ(f->forEachRecord([&](RecordAddress, const std::string& r) { read.push_back(r); return true; }),
                  Status::Success);
        EXPECT_EQ(read, recs);
        for (const KeySpec& key : f->info().keys) {
            EXPECT_EQ(compareWalks(f, key, name), "file B-tree") << "key " << key.number;
            EXPECT_EQ(sequence(*defaultIndex(f, key), true).size(), n) << "key " << key.number;
        }
        if (n >= 3000) {
            EXPECT_GE(summary.indexLevels.at(0), 2u);
        }
    }
}

TEST(FileIndexNullKeys, WrittenNullKeysAreLeftOutOfBothIndexesIn6xAnd8x) {
    TempDir dir;
    const auto recs = records8(3000);
    for (uint16_t version : {uint16_t{0x0600}, uint16_t{0x0800}}) {
        for (uint16_t flag : {keyflag::NullAny, keyflag::NullAll}) {
            SCOPED_TRACE("version " + std::to_string(version) + " flag " + std::to_string(flag));
            WriterOptions o = options8(512, 5);
            o.version = version;
            // Key 1 (group, duplicates): group 0 is null. Key 2 (name, serial): with
            // 0x0200 a name of blanks is enough; no record has one, nor a zero serial.
            o.keys[1].segments[0].flags |= flag;
            for (auto& seg : o.keys[2].segments) seg.flags |= flag, seg.nullValue = ' ';
            std::vector<std::string> written = recs;
            for (size_t i = 0; i < written.size(); i += 10) std::memset(written[i].data() + 6, ' ', 10);
            const std::string path = dir.file("null" + std::to_string(version) + "_" + std::to_string(flag));
            ASSERT_EQ(writeFile(path, o, written), Status::Success);
            auto f = openShared(path);
            ASSERT_TRUE(f);
            size_t nullGroups = 0;
            for (const auto& r : written) nullGroups += r[4] == 0 && r[5] == 0;
            ASSERT_GT(nullGroups, 0u);
            const size_t blankNames = (written.size() + 9) / 10;
            const std::vector<size_t> expected = {written.size(), written.size() - nullGroups,
                                                  written.size() - (flag == keyflag::NullAny ? blankNames : 0)};
            for (const KeySpec& key : f->info().keys) {
                EXPECT_EQ(compareWalks(f, key, path), "file B-tree") << "key " << key.number;
                EXPECT_EQ(sequence(*defaultIndex(f, key), true).size(), expected[key.number]) << "key " << key.number;
            }
            Table t(f);
            ASSERT_EQ(t.setActiveKey(1), Status::Success);
            EXPECT_EQ(t.seek(SeekOp::Eq, std::string(2, '\0')), Status::KeyNotFound);
            EXPECT_EQ(t.seek(SeekOp::Ge, std::string(2, '\0')), Status::Success);
            EXPECT_NE(t.currentRecord().substr(4, 2), std::string(2, '\0'));
        }
    }
}

TEST(FileIndexV8Written, SeeksAndCriteriaLandAsInMemory) {
    TempDir dir;
    const auto recs = records8(2000);
    ASSERT_EQ(writeFile(dir.file("seek8.dat"), options8(512, 11), recs), Status::Success);
    auto f = openShared(dir.file("seek8.dat"));
    ASSERT_TRUE(f);
    auto u32 = [](uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
    auto i16 = [](int16_t v) { return std::string(reinterpret_cast<const char*>(&v), 2); };
    auto landing = [&](bool fileIndex, int key, SeekOp op, const std::string& value) {
        Table t(f);
        if (!fileIndex) t.setIndexFactory(makeMemoryIndex);
        EXPECT_EQ(t.setActiveKey(key), Status::Success);
        const Status st = t.seek(op, value);
        if (fileIndex) {
            EXPECT_EQ(t.indexDescription(key), "file B-tree");
        }
        return ok(st) ? std::to_string(*t.currentAddress()) : "status " + std::to_string(static_cast<int>(st));
    };
    for (const auto& [key, value] : std::vector<std::pair<int, std::string>>{
             {0, u32(0)}, {0, u32(10)}, {0, u32(5001)}, {0, u32(300000)}, {1, i16(-1)}, {1, i16(17)},
             {1, i16(36)}, {1, i16(37)}, {2, "n1"}, {2, "n35"}, {2, "zzz"}, {2, ""}})
        for (SeekOp op : {SeekOp::Eq, SeekOp::Ge, SeekOp::Gt, SeekOp::Le, SeekOp::Lt})
            EXPECT_EQ(landing(true, key, op, value), landing(false, key, op, value))
                << "key " << key << " op " << static_cast<int>(op);

    const std::vector<FieldDef> fields = {{"group", DataType::Integer, 4, 2}, {"name", DataType::String, 6, 10}};
    for (const auto& [key, text] : std::vector<std::pair<int, std::string>>{
             {1, "group = 4"}, {2, "name = n7 AND group > 20"}, {0, "group = 36"}})
        EXPECT_FALSE(expectFindsAsInMemory(f, key, text, fields).empty()) << text;
}

}  // namespace
