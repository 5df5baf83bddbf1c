// The writer's files, checked by a small independent walk of their structures:
// FCR copies, PAT pairs, page ids, B-trees, duplicate chains and deleted slots.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "btrieve/file.h"
#include "btrieve/keys.h"
#include "btrieve/writer.h"
#include "test_file_util.h"
#include "key_segment.h"

using namespace btrieve;
using filetest::TempDir;

namespace {

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// A reading of the file that trusts nothing but the layout it is meant to have.
struct View {
    std::string bytes;
    uint32_t ps = 0;
    size_t fcr = 0;  // byte offset of the current FCR
    size_t staleFcr = 0;
    std::map<uint32_t, uint32_t> map;  // logical -> physical

    const uint8_t* at(size_t off) const { return reinterpret_cast<const uint8_t*>(bytes.data()) + off; }
    uint32_t u16(size_t off) const { return at(off)[0] | at(off)[1] << 8; }
    uint32_t u32(size_t off) const { return u16(off) | u16(off + 2) << 16; }
    uint32_t swapped(size_t off) const { return u16(off) << 16 | u16(off + 2); }
    static uint32_t pageId(const uint8_t* p) { return uint32_t(p[0]) << 16 | p[3] << 8 | p[2]; }
    uint32_t pages() const { return static_cast<uint32_t>(bytes.size() / ps); }
    size_t logicalOffset(uint32_t logical) const {
        auto it = map.find(logical);
        EXPECT_NE(it, map.end()) << "logical page " << logical << " not mapped";
        return it == map.end() ? 0 : size_t(it->second) * ps;
    }
    size_t slot(uint32_t address) const { return logicalOffset(address / ps) + address % ps; }
    size_t descriptor(int key) const { return fcr + u16(fcr + u16(fcr + 0x78) + 2 * key); }
};

View load(const std::string& path) {
    View v;
    v.bytes = filetest::readAll(path);
    v.ps = v.u16(0x08);
    EXPECT_EQ(v.bytes.size() % v.ps, 0u);
    const bool second = v.u32(v.ps + 4) > v.u32(4);
    v.fcr = second ? v.ps : 0;
    v.staleFcr = second ? 0 : v.ps;
    const uint32_t quarter = v.ps / 4, perPat = quarter - 2;
    for (uint32_t k = 0; 2 + k * quarter + 1 < v.pages(); ++k) {
        size_t a = size_t(2 + k * quarter) * v.ps, b = a + v.ps;
        EXPECT_EQ(std::memcmp(v.at(a), "PP", 2), 0);
        EXPECT_EQ(std::memcmp(v.at(b), "PP", 2), 0);
        EXPECT_NE(v.u32(a + 4), v.u32(b + 4));
        size_t pat = v.u32(b + 4) > v.u32(a + 4) ? b : a;
        for (uint32_t j = 1; j <= perPat; ++j)
            if (v.at(pat + 4 + 4 * j)[1] != 0)
                v.map[k * perPat + j] = View::pageId(v.at(pat + 4 + 4 * j));
    }
    return v;
}

struct Entry {
    std::string key;
    uint32_t first = 0, last = 0;
};

// Walks key kn's tree in order, checking every page on the way.
void walk(const View& v, int kn, uint32_t logical, int depth, std::vector<Entry>& out,
          std::set<int>& leafDepths, std::set<uint32_t>& seen) {
    ASSERT_TRUE(seen.insert(logical).second) << "page reached twice";
    const size_t descriptor = v.descriptor(kn);
    const uint32_t keyLen = v.u16(descriptor + 0x0A), size = v.u16(descriptor + 0x0C);
    const bool dups = v.u16(descriptor + 0x08) & 1;
    const size_t p = v.logicalOffset(logical);
    ASSERT_EQ(View::pageId(v.at(p)), logical);
    ASSERT_EQ(v.at(p)[1], 0x80 + kn);
    const uint32_t n = v.u16(p + 6);
    ASSERT_LE(n, v.u16(descriptor + 0x0E));
    ASSERT_LE(12 + n * size, v.ps);
    const bool leaf = v.u32(p + 8) == 0xFFFFFFFFu;
    for (uint32_t i = 0; i < n; ++i) {
        const size_t e = p + 12 + i * size;
        ASSERT_EQ(v.u32(e) == 0xFFFFFFFFu, leaf);
        if (!leaf) walk(v, kn, View::pageId(v.at(e)), depth + 1, out, leafDepths, seen);
        Entry en;
        en.key.assign(reinterpret_cast<const char*>(v.at(e + 4)), keyLen);
        en.first = v.swapped(e + 4 + keyLen);
        en.last = dups ? v.swapped(e + 8 + keyLen) : en.first;
        out.push_back(en);
    }
    if (leaf) leafDepths.insert(depth);
    else walk(v, kn, View::pageId(v.at(p + 8)), depth + 1, out, leafDepths, seen);
}

// Every record of key kn in index order, with duplicates through their chains.
std::vector<std::string> recordsByKey(const View& v, int kn, size_t* entries = nullptr,
                                      int* depth = nullptr) {
    std::vector<Entry> list;
    std::set<int> leafDepths;
    std::set<uint32_t> seen;
    const size_t descriptor = v.descriptor(kn);
    walk(v, kn, View::pageId(v.at(descriptor)), 1, list, leafDepths, seen);
    EXPECT_LE(leafDepths.size(), 1u) << "leaves at different depths";
    if (depth) *depth = leafDepths.empty() ? 0 : *leafDepths.begin();
    if (entries) *entries = list.size();
    EXPECT_EQ(v.swapped(descriptor + 4), list.size()) << "unique count";
    const uint32_t rl = v.u16(v.fcr + 0x16), dupOff = v.u16(descriptor + 0x12);
    std::vector<std::string> out;
    for (const auto& e : list) {
        uint32_t a = e.first, prev = 0xFFFFFFFFu;
        for (int guard = 0; guard < 1000000; ++guard) {
            const size_t s = v.slot(a);
            EXPECT_EQ(v.u16(s), 1u) << "index points at a free slot";
            std::string rec(reinterpret_cast<const char*>(v.at(s + 2)), rl);
            out.push_back(rec);
            if (!dupOff) break;
            EXPECT_EQ(v.swapped(s + dupOff), prev);
            prev = a;
            uint32_t next = v.swapped(s + dupOff + 4);
            if (next == 0xFFFFFFFFu) {
                EXPECT_EQ(a, e.last) << "chain ends elsewhere than the entry says";
                break;
            }
            a = next;
        }
    }
    return out;
}

// 16-byte test records: int32 id, 8-byte zstring name, int16 group, 2 filler bytes.
std::string record(int32_t id, const std::string& name, int16_t group) {
    std::string r(16, '\0');
    std::memcpy(&r[0], &id, 4);
    std::memcpy(&r[4], name.data(), std::min<size_t>(name.size(), 7));
    std::memcpy(&r[12], &group, 2);
    r[14] = 'x';
    return r;
}
int32_t idOf(const std::string& r) { int32_t v; std::memcpy(&v, r.data(), 4); return v; }
int16_t groupOf(const std::string& r) { int16_t v; std::memcpy(&v, r.data() + 12, 2); return v; }
std::string upperName(const std::string& r) {
    std::string s(r.c_str() + 4);
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

using testkeys::keySegment;

WriterOptions testOptions(uint32_t pageSize) {
    WriterOptions o;
    o.pageSize = pageSize;
    o.recordLength = 16;
    o.keys = {
        {{keySegment(0, 4, DataType::Integer)}},
        {{keySegment(4, 8, DataType::ZString, keyflag::Duplicates | keyflag::CaseInsensitive)}},
        {{keySegment(12, 2, DataType::Integer, keyflag::Duplicates | keyflag::Descending)}},
    };
    return o;
}

// One written file of the table-driven tests: its page size, how many records it
// keeps and how many it deleted, whether stale shadow pages stay, and its version.
struct WriteCase {
    uint32_t pageSize;
    int records;
    unsigned deleted;
    bool shadows;
    uint16_t version = 0x0600;
};

WriterOptions caseOptions(const WriteCase& c, uint32_t seed) {
    auto o = testOptions(c.pageSize);
    o.deletedRecords = c.deleted;
    o.staleShadows = c.shadows;
    o.version = c.version;
    o.seed = seed;
    return o;
}

std::vector<std::string> testRecords(int n) {
    static const char* names[] = {"delta", "Alpha", "charlie", "ALPHA", "bravo", "Echo", "alpha"};
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) {
        int32_t id = (i * 7919) % 100003 - 50000;  // distinct, not in insertion order
        out.push_back(record(id, names[i % 7], static_cast<int16_t>((i * 31) % 17 - 8)));
    }
    return out;
}

}  // namespace

TEST(Writer, RefusesAnExistingPathAndLeavesItAlone) {
    TempDir dir;
    const std::string path = dir.file("x.dat");
    std::ofstream(path) << "keep me";
    EXPECT_EQ(writeFile(path, testOptions(512), testRecords(3)), Status::InvalidOperation);
    EXPECT_EQ(filetest::readAll(path), "keep me");
}

TEST(Writer, RefusesADanglingSymbolicLink) {
    TempDir dir;
    // A dangling link is an existing path too: nothing is created through it.
    const std::string link = dir.file("link.dat");
    std::error_code ec;
    std::filesystem::create_symlink(dir.file("target.dat"), link, ec);
    // (Windows gives symbolic links only to programs with the right to make them.)
    if (ec) GTEST_SKIP() << "no symbolic link could be made here: " << ec.message();
    EXPECT_EQ(writeFile(link, testOptions(512), testRecords(3)), Status::InvalidOperation);
    EXPECT_FALSE(exists(dir.file("target.dat")));
}

TEST(Writer, RefusesWhatItCannotWriteAndLeavesNoFile) {
    TempDir dir;
    const std::string path = dir.file("x.dat");
    auto expectRefused = [&](const WriterOptions& o, const std::vector<std::string>& recs,
                             Status expected, const char* what) {
        EXPECT_EQ(writeFile(path, o, recs), expected) << what;
        EXPECT_FALSE(exists(path)) << what;
    };
    auto o = testOptions(512);
    for (uint32_t ps : {0u, 256u, 1000u, 8192u}) {
        o.pageSize = ps;
        expectRefused(o, testRecords(2), Status::UnsupportedLayout, "page size");
    }
    o = testOptions(512);
    auto recs = testRecords(5);
    recs[3].pop_back();
    expectRefused(o, recs, Status::InvalidOperation, "short record");
    recs[3] += "ab";
    expectRefused(o, recs, Status::InvalidOperation, "long record");

    recs = testRecords(5);
    recs[4] = recs[1];  // same id in the unique key 0
    expectRefused(o, recs, Status::InvalidOperation, "duplicate in a unique key");

    o.keys[0].segments[0].position = 14;  // 4 bytes from 14 run past the 16-byte record
    expectRefused(o, testRecords(2), Status::UnsupportedLayout, "segment past the record");
    o = testOptions(512);
    o.keys[0].segments[0].length = 3;  // no 3-byte integers
    expectRefused(o, testRecords(2), Status::UnsupportedLayout, "integer length");
    o = testOptions(512);
    o.keys[1].segments[0].flags |= keyflag::Acs;
    expectRefused(o, testRecords(2), Status::UnsupportedLayout, "ACS key");
    o = testOptions(512);
    o.variable = true;
    recs = testRecords(5);
    recs[2].pop_back();  // a variable record still has its whole fixed part
    expectRefused(o, recs, Status::InvalidOperation, "short variable record");
    o = testOptions(512);
    o.recordLength = 600;  // no slot fits a 512-byte page
    expectRefused(o, {std::string(600, 'a')}, Status::UnsupportedLayout, "record too long");
}

TEST(Writer, HeaderCopiesPatAndShadows) {
    TempDir dir;
    for (uint32_t seed : {1u, 2u, 3u, 4u}) {
        const std::string path = dir.file("f" + std::to_string(seed) + ".dat");
        auto o = testOptions(1024);
        o.seed = seed;
        o.deletedRecords = 4;
        WriteSummary sum;
        const auto recs = testRecords(300);
        ASSERT_EQ(writeFile(path, o, [&](const RecordEmitter& emit) {
            for (const auto& r : recs)
                if (Status s = emit(r); !ok(s)) return s;
            return Status::Success;
        }, &sum), Status::Success);
        View v = load(path);
        SCOPED_TRACE(seed);
        EXPECT_EQ(std::memcmp(v.at(v.fcr), "FC\0\0", 4), 0);
        EXPECT_EQ(v.fcr / v.ps, sum.currentFcr);
        EXPECT_GT(v.u32(v.fcr + 4), v.u32(v.staleFcr + 4));
        EXPECT_EQ(v.u16(v.fcr + 0x4A), 0x0600u);
        EXPECT_EQ(v.u16(v.fcr + 0x0A), 0u);
        EXPECT_EQ(v.u16(v.staleFcr + 0x0A), 0x4000u);
        EXPECT_EQ(v.swapped(v.fcr + 0x1A), 300u);
        EXPECT_EQ(v.swapped(v.staleFcr + 0x1A), 0u);  // the copy from before any insert
        EXPECT_EQ(v.swapped(v.fcr + 0x26), v.pages());
        EXPECT_EQ(v.pages(), sum.physicalPages);
        EXPECT_EQ(v.u16(v.fcr + 0x18), 2u + 16 + 16);  // usage word, record, two dup pairs
        EXPECT_EQ(v.u16(v.fcr + 0x72), 18u);
        EXPECT_EQ(v.at(v.fcr)[0x74], 2);
        EXPECT_EQ(v.u16(v.descriptor(1) + 0x12), 18u);
        EXPECT_EQ(v.u16(v.descriptor(2) + 0x12), 26u);
        EXPECT_EQ(v.u16(v.descriptor(0) + 0x12), 0u);
        EXPECT_EQ(v.u16(v.descriptor(2) + 0x14), 14u);  // position counts the usage word
        EXPECT_EQ(v.u16(v.descriptor(1) + 0x08),
                  keyflag::Duplicates | keyflag::CaseInsensitive | keyflag::ExtendedType);
        EXPECT_EQ(v.at(v.descriptor(1))[0x1C], 11);

        // Every mapped page names itself; logical and physical numbers differ.
        size_t moved = 0;
        std::set<uint32_t> mapped;
        for (auto [logical, phys] : v.map) {
            ASSERT_LT(phys, v.pages());
            EXPECT_EQ(View::pageId(v.at(size_t(phys) * v.ps)), logical);
            EXPECT_TRUE(mapped.insert(phys).second) << "two logical pages on one physical";
            moved += logical != phys;
        }
        EXPECT_EQ(v.map.size(), sum.logicalPages);
        EXPECT_GT(moved, v.map.size() / 2);
        // Stale copies: pages that claim a logical number the PAT sends elsewhere.
        uint32_t shadows = 0;
        for (uint32_t p = 4; p < v.pages(); ++p) {
            if ((p - 2) % (v.ps / 4) < 2 || mapped.count(p)) continue;
            uint32_t claims = View::pageId(v.at(size_t(p) * v.ps));
            EXPECT_TRUE(v.map.count(claims)) << "physical " << p;
            ++shadows;
        }
        EXPECT_EQ(shadows, sum.shadowPages);
        EXPECT_GE(shadows, 4u);  // three early roots and at least one data page
    }
}

TEST(Writer, TreesHoldEveryLiveRecordInKeyOrder) {
    TempDir dir;
    for (const WriteCase& c : {WriteCase{512, 0, 0, true}, WriteCase{512, 1, 0, false}, WriteCase{4096, 40, 3, true},
                               WriteCase{512, 3000, 25, true}, WriteCase{2048, 5000, 0, false}}) {
        SCOPED_TRACE(std::to_string(c.pageSize) + "/" + std::to_string(c.records));
        const std::string path = dir.file("t" + std::to_string(c.pageSize) + "_" +
                                          std::to_string(c.records) + ".dat");
        const auto o = caseOptions(c, static_cast<uint32_t>(c.records));
        const auto recs = testRecords(c.records);
        ASSERT_EQ(writeFile(path, o, recs), Status::Success);
        View v = load(path);

        auto sorted = recs;
        // Key 0: ids ascending, one entry per record.
        std::sort(sorted.begin(), sorted.end(),
                  [](const auto& a, const auto& b) { return idOf(a) < idOf(b); });
        size_t entries = 0;
        int depth = 0;
        EXPECT_EQ(recordsByKey(v, 0, &entries, &depth), sorted);
        EXPECT_EQ(entries, recs.size());
        if (c.records == 3000) {
            EXPECT_EQ(depth, 3);  // root, inner level, leaves
        }
        if (c.records == 5000) {
            EXPECT_EQ(depth, 2);
        }

        // Key 1: names folded to upper case; equal names in insertion order.
        sorted = recs;
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const auto& a, const auto& b) { return upperName(a) < upperName(b); });
        EXPECT_EQ(recordsByKey(v, 1, &entries), sorted);
        EXPECT_EQ(entries, std::min<size_t>(recs.size(), 5));  // ALPHA, BRAVO, ...

        // Key 2: groups descending.
        sorted = recs;
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const auto& a, const auto& b) { return groupOf(a) > groupOf(b); });
        EXPECT_EQ(recordsByKey(v, 2, &entries), sorted);
        EXPECT_EQ(entries, std::min<size_t>(recs.size(), 17));
    }
}

TEST(Writer, DeletedSlotsAreFreeAndChainedFromTheHeader) {
    TempDir dir;
    const std::string path = dir.file("d.dat");
    auto o = testOptions(512);
    o.deletedRecords = 30;
    const auto recs = testRecords(200);
    ASSERT_EQ(writeFile(path, o, recs), Status::Success);
    View v = load(path);
    // Walk every slot of every current data page.
    const uint32_t prl = v.u16(v.fcr + 0x18);
    std::multiset<std::string> live;
    std::set<uint32_t> freeSlots;
    for (auto [logical, phys] : v.map) {
        const size_t p = size_t(phys) * v.ps;
        if (v.at(p)[1] != 'D') continue;
        EXPECT_EQ(v.u16(p + 4) & 0x8000, 0x8000u);
        for (uint32_t off = 6; off + prl <= v.ps; off += prl) {
            const uint32_t usage = v.u16(p + off);
            if (usage == 1) live.insert(std::string(reinterpret_cast<const char*>(v.at(p + off + 2)), 16));
            else if (std::any_of(v.at(p + off), v.at(p + off + prl), [](uint8_t b) { return b != 0; }))
                freeSlots.insert(logical * v.ps + off);  // deleted: still holds old bytes
        }
    }
    EXPECT_EQ(live, std::multiset<std::string>(recs.begin(), recs.end()));
    EXPECT_EQ(freeSlots.size(), 30u);
    std::set<uint32_t> chained;
    for (uint32_t a = v.swapped(v.fcr + 0x10); a != 0xFFFFFFFFu && chained.size() <= 30;
         a = v.swapped(v.slot(a) + 2))
        chained.insert(a);
    EXPECT_EQ(chained, freeSlots);
}

TEST(Writer, SameSeedSameBytes) {
    TempDir dir;
    auto o = testOptions(1024);
    o.deletedRecords = 5;
    const auto recs = testRecords(500);
    ASSERT_EQ(writeFile(dir.file("a"), o, recs), Status::Success);
    ASSERT_EQ(writeFile(dir.file("b"), o, recs), Status::Success);
    o.seed = 99;
    ASSERT_EQ(writeFile(dir.file("c"), o, recs), Status::Success);
    EXPECT_EQ(filetest::readAll(dir.file("a")), filetest::readAll(dir.file("b")));
    EXPECT_NE(filetest::readAll(dir.file("a")), filetest::readAll(dir.file("c")));
}

TEST(Writer, ManyPagesSpanSeveralPatPairs) {
    // 512-byte pages map 126 logical pages per PAT pair; 3000 one-record pages need 24.
    TempDir dir;
    WriterOptions o;
    o.pageSize = 512;
    o.recordLength = 300;
    o.keys = {{{keySegment(0, 4, DataType::UnsignedBinary)}}};
    o.seed = 6;
    std::vector<std::string> recs;
    for (uint32_t i = 0; i < 3000; ++i) {
        std::string r(300, 'r');
        std::memcpy(&r[0], &i, 4);
        recs.push_back(r);
    }
    WriteSummary sum;
    ASSERT_EQ(writeFile(dir.file("big"), o, [&](const RecordEmitter& emit) {
        for (const auto& r : recs)
            if (Status s = emit(r); !ok(s)) return s;
        return Status::Success;
    }, &sum), Status::Success);
    EXPECT_EQ(sum.dataPages, 3000u);
    View v = load(dir.file("big"));
    EXPECT_GT(v.map.rbegin()->first, 126u * 20);
    EXPECT_EQ(recordsByKey(v, 0), recs);
}

TEST(Writer, NullKeysAreLeftOutOfTheIndex) {
    TempDir dir;
    auto o = testOptions(1024);
    o.keys[2].segments[0].flags |= keyflag::NullAll;  // group 0 (two zero bytes) is null
    auto recs = testRecords(100);
    ASSERT_EQ(writeFile(dir.file("n"), o, recs), Status::Success);
    View v = load(dir.file("n"));
    std::vector<std::string> expected;
    for (const auto& r : recs)
        if (groupOf(r) != 0) expected.push_back(r);
    std::stable_sort(expected.begin(), expected.end(),
                     [](const auto& a, const auto& b) { return groupOf(a) > groupOf(b); });
    EXPECT_EQ(recordsByKey(v, 2), expected);
    EXPECT_EQ(recordsByKey(v, 0).size(), 100u);
}

TEST(Writer, SecondPassThatDiffersIsAnError) {
    TempDir dir;
    int pass = 0;
    const auto recs = testRecords(10);
    Status s = writeFile(dir.file("p"), testOptions(512), [&](const RecordEmitter& emit) {
        const size_t n = ++pass == 1 ? recs.size() : recs.size() - 1;
        for (size_t i = 0; i < n; ++i)
            if (Status st = emit(recs[i]); !ok(st)) return st;
        return Status::Success;
    });
    EXPECT_EQ(s, Status::InvalidOperation);
    EXPECT_FALSE(exists(dir.file("p")));
}

// ---- through the engine's reader ----------------------------------------------

TEST(WriterRoundTrip, ReaderSeesExactlyTheLiveRecordsAndTheKeys) {
    TempDir dir;
    for (const WriteCase& c : {WriteCase{512, 0, 0, true, 0x0600}, WriteCase{512, 0, 2, true, 0x0610},
                               WriteCase{1024, 1, 0, false, 0x0600}, WriteCase{1536, 777, 13, true, 0x0610},
                               WriteCase{2560, 2000, 40, true, 0x0600}, WriteCase{4096, 3000, 1, false, 0x0600},
                               WriteCase{512, 4000, 100, true, 0x0600}}) {
        const std::string name = std::to_string(c.pageSize) + "_" + std::to_string(c.records) +
                                 "_" + std::to_string(c.deleted);
        SCOPED_TRACE(name);
        const auto o = caseOptions(c, c.pageSize + c.records);
        const auto recs = testRecords(c.records);
        WriteSummary sum;
        ASSERT_EQ(writeFile(dir.file(name), o, [&](const RecordEmitter& emit) {
            for (const auto& r : recs)
                if (Status s = emit(r); !ok(s)) return s;
            return Status::Success;
        }, &sum), Status::Success);

        std::unique_ptr<File> f;
        ASSERT_EQ(File::open(dir.file(name), f), Status::Success);
        const FileInfo& info = f->info();
        EXPECT_EQ(info.family, Family::V6);
        EXPECT_EQ(info.version, c.version);
        EXPECT_EQ(info.pageSize, c.pageSize);
        EXPECT_EQ(info.recordLength, 16u);
        EXPECT_EQ(info.physicalRecordLength, 34u);
        EXPECT_EQ(info.recordCount, recs.size());
        EXPECT_EQ(info.pageCount, sum.physicalPages);
        ASSERT_EQ(info.keys.size(), 3u);
        for (size_t k = 0; k < 3; ++k) {
            const KeySpec& got = info.keys[k];
            const KeySegment& want = o.keys[k].segments[0];
            ASSERT_EQ(got.segments.size(), 1u);
            EXPECT_EQ(got.number, static_cast<int>(k));
            EXPECT_EQ(got.segments[0].position, want.position);
            EXPECT_EQ(got.segments[0].length, want.length);
            EXPECT_EQ(got.segments[0].type, want.type);
            EXPECT_EQ(got.segments[0].flags, want.flags);  // typed: the extended-type flag too
            EXPECT_EQ(got.uniqueCount, sum.indexEntries[k]);
            EXPECT_EQ(got.allowsDuplicates(), k != 0);
        }

        std::multiset<std::string> seen;
        std::vector<std::pair<RecordAddress, std::string>> visited;
        ASSERT_EQ(f->forEachRecord([&](RecordAddress a, const std::string& r) {
            seen.insert(r);
            visited.emplace_back(a, r);
            return true;
        }), Status::Success);
        EXPECT_EQ(seen, std::multiset<std::string>(recs.begin(), recs.end()));
        for (const auto& [a, r] : visited) {
            std::string back;
            ASSERT_EQ(f->readRecord(a, back), Status::Success);
            EXPECT_EQ(back, r);
        }

        // The reader's key order agrees with the order of the written trees.
        View v = load(dir.file(name));
        for (int k = 0; k < 3; ++k) {
            const auto byTree = recordsByKey(v, k);
            for (size_t i = 1; i < byTree.size(); ++i) {
                const KeySpec& key = info.keys[k];
                EXPECT_LE(compareKeys(key, info, extractKey(key, byTree[i - 1]), extractKey(key, byTree[i])), 0)
                    << "key " << k << " at " << i;
            }
        }
    }
}

TEST(WriterRoundTrip, SegmentedAndOldStyleKeys) {
    TempDir dir;
    WriterOptions o;
    o.pageSize = 1024;
    o.recordLength = 16;
    // Key 0: a descending string segment then an ascending unsigned one; key 1: an
    // old-style binary key with duplicates.
    o.keys = {{{keySegment(4, 3, DataType::String, keyflag::Descending), keySegment(0, 4, DataType::UnsignedBinary)}},
              {{keySegment(12, 2, DataType::OldBinary, keyflag::Duplicates)}}};
    const auto recs = testRecords(600);
    ASSERT_EQ(writeFile(dir.file("seg"), o, recs), Status::Success);
    std::unique_ptr<File> f;
    ASSERT_EQ(File::open(dir.file("seg"), f), Status::Success);
    const auto& keys = f->info().keys;
    ASSERT_EQ(keys.size(), 2u);
    ASSERT_EQ(keys[0].segments.size(), 2u);
    EXPECT_EQ(keys[0].totalLength(), 7u);
    EXPECT_EQ(keys[0].segments[0].flags & keyflag::Segmented, keyflag::Segmented);
    EXPECT_EQ(keys[0].segments[1].flags & keyflag::Segmented, 0);
    EXPECT_EQ(keys[0].segments[1].position, 0u);
    EXPECT_EQ(keys[1].segments[0].type, DataType::OldBinary);
    View v = load(dir.file("seg"));
    const auto byTree = recordsByKey(v, 0);
    ASSERT_EQ(byTree.size(), recs.size());
    for (size_t i = 1; i < byTree.size(); ++i) {
        const std::string a = byTree[i - 1].substr(4, 3), b = byTree[i].substr(4, 3);
        ASSERT_GE(a, b);  // descending first segment
        if (a == b) {
            EXPECT_LT(static_cast<uint32_t>(idOf(byTree[i - 1])), static_cast<uint32_t>(idOf(byTree[i])));
        }
        EXPECT_LT(compareKeys(keys[0], f->info(), extractKey(keys[0], byTree[i - 1]),
                              extractKey(keys[0], byTree[i])), 0);
    }
    EXPECT_EQ(recordsByKey(v, 1).size(), recs.size());
}

TEST(WriterRoundTrip, VariableTailsAcrossPages) {
    TempDir dir;
    for (uint32_t ps : {512u, 4096u}) {
        SCOPED_TRACE(ps);
        auto o = testOptions(ps);
        o.variable = true;
        o.deletedRecords = 7;
        auto recs = testRecords(400);
        for (size_t i = 0; i < recs.size(); ++i) {
            // No tail, tiny tails, tails that fill a page and ones that span several.
            static const size_t lengths[] = {0, 1, 37, 300, 495, 1200, 5000, 0, 9};
            const size_t n = lengths[i % 9];
            for (size_t b = 0; b < n; ++b) recs[i] += static_cast<char>('a' + (i + b) % 26);
        }
        const std::string path = dir.file("v" + std::to_string(ps));
        ASSERT_EQ(writeFile(path, o, recs), Status::Success);

        std::unique_ptr<File> f;
        ASSERT_EQ(File::open(path, f), Status::Success);
        EXPECT_TRUE(f->info().variable);
        EXPECT_EQ(f->info().physicalRecordLength, 2u + 16 + 4 + 16);
        std::multiset<std::string> seen;
        ASSERT_EQ(f->forEachRecord([&](RecordAddress, const std::string& r) {
            seen.insert(r);
            return true;
        }), Status::Success);
        EXPECT_EQ(seen, std::multiset<std::string>(recs.begin(), recs.end()));

        View v = load(path);
        size_t variablePages = 0;
        for (auto [logical, phys] : v.map) variablePages += v.at(size_t(phys) * v.ps)[1] == 'V';
        EXPECT_GT(variablePages, 400u * 700 / ps);
        EXPECT_EQ(v.at(v.fcr)[0x38], 0xFF);
        // The trees point at the fixed parts.
        auto fixed = recs;
        for (auto& r : fixed) r.resize(16);
        std::sort(fixed.begin(), fixed.end(), [](const auto& a, const auto& b) { return idOf(a) < idOf(b); });
        EXPECT_EQ(recordsByKey(v, 0), fixed);
    }
}
