// Damaged and hostile files: scratch copies of real samples in a temporary folder,
// cut short, with header fields changed, page tables and chains bent into circles,
// or bytes flipped at random. Each must end in a status, after bounded work, and
// never with records that differ from the original.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <sys/stat.h>

#include "btrieve/file.h"
#include "btrieve/key_order.h"
#include "test_file_util.h"

using namespace btrieve;
using namespace filetest;

namespace {

const Status kDamage[] = {Status::Truncated, Status::Corrupt, Status::VariablePageError,
                          Status::NotBtrieveFile, Status::UnsupportedVersion, Status::UnsupportedLayout,
                          Status::UnsupportedEncryption};

bool isDamageStatus(Status s) { return std::find(std::begin(kDamage), std::end(kDamage), s) != std::end(kDamage); }

// Reads the sample whole, or skips the test when it is missing.
#define LOAD_SAMPLE(var, rel)                                                   \
    REQUIRE_CORPUS(rel);                                                        \
    const std::string var = readAll(corpus(rel));                               \
    ASSERT_FALSE(var.empty())

uint32_t pageSizeOf(const std::string& bytes) {
    std::unique_ptr<File> f;
    TempDir d;
    EXPECT_EQ(File::open(d.put("x", bytes), f), Status::Success);
    return f ? f->info().pageSize : 0;
}

// The file opens and reads whole, but reading by key `key` fails, naming the key.
void expectKeyDamaged(const std::string& path, int key, const std::string& why) {
    std::unique_ptr<File> f;
    ASSERT_EQ(File::open(path, f), Status::Success);
    EXPECT_NE(f->info().keys.at(key).damage.find(why), std::string::npos) << f->info().keys.at(key).damage;
    EXPECT_EQ(f->forEachRecord([](RecordAddress, const std::string&) { return true; }), Status::Success);
    std::string keys;
    std::vector<RecordAddress> addresses;
    EXPECT_EQ(collectKeys(*f, f->info().keys.at(key), keys, addresses), Status::Corrupt);
    EXPECT_EQ(f->damage().rfind("key " + std::to_string(key), 0), 0u) << f->damage();
}

// A copy cut at every page boundary either still reads exactly the original
// records or reports damage; nothing in between.
void truncateEverywhere(const std::string& rel) {
    const std::string bytes = readAll(corpus(rel));
    auto original = readFile(corpus(rel));
    ASSERT_EQ(original.scan, Status::Success);
    const uint32_t ps = pageSizeOf(bytes);
    ASSERT_GT(ps, 0u);
    TempDir dir;
    for (size_t cut = 0; cut < bytes.size(); cut += ps) {
        SCOPED_TRACE(rel + " cut at " + std::to_string(cut));
        auto r = readFile(dir.put("cut", bytes.substr(0, cut)));
        if (ok(r.open) && ok(r.scan)) {
            EXPECT_EQ(r.records, original.records);
        } else {
            const Status s = ok(r.open) ? r.scan : r.open;
            EXPECT_TRUE(isDamageStatus(s)) << statusText(s);
        }
    }
}

TEST(DamagedFiles, CutAtEveryPageBoundary) {
    const char* files[] = {"mbbsemu/MBBSEMU.DAT", "wbtrv32/GALTELA.DAT", "wbtrv32/WGSMENU2.DAT",
                           "ccc-fibu/misc/DAT-SYFORM.BTR", "ccc-fibu/misc/sypara.btr",
                           "exchequer/BaseDemo/JOBS/JobMisc.Dat", "actianui/images.btr",
                           "exchequer/UDF-DDFs/FIELD.DDF"};
    for (const char* rel : files) REQUIRE_CORPUS(rel);
    for (const char* rel : files) truncateEverywhere(rel);
}

// Read by pread alone (a network share, and Windows), a cut that leaves out the last
// marks of a commit is damage too, not a file that kept changing.
TEST(DamagedFiles, CutAtEveryPageBoundaryReadByPread) {
    REQUIRE_CORPUS("exchequer/BaseDemo/JOBS/JobMisc.Dat");
    ::setenv("BTRIEVE_READS", "pread", 1);
    truncateEverywhere("exchequer/BaseDemo/JOBS/JobMisc.Dat");
    ::unsetenv("BTRIEVE_READS");
}

TEST(DamagedFiles, NotBtrieveAtAll) {
    TempDir dir;
    std::unique_ptr<File> f;
    EXPECT_EQ(File::open(dir.file("missing.dat"), f), Status::FileNotFound);
    EXPECT_EQ(File::open(dir.put("empty", ""), f), Status::NotBtrieveFile);
    EXPECT_EQ(File::open(dir.put("tiny", "FC"), f), Status::NotBtrieveFile);
    EXPECT_EQ(File::open(dir.put("stub", std::string("FC\0\0", 4) + std::string(60, '\0')), f), Status::Truncated);
    std::string text(8192, 'x');
    EXPECT_EQ(File::open(dir.put("text", text), f), Status::NotBtrieveFile);
    std::string zeros(8192, '\0');  // the pre-6 signature with no page size
    EXPECT_EQ(File::open(dir.put("zeros", zeros), f), Status::NotBtrieveFile);
    fs::create_directory(dir.file("folder"));
    EXPECT_EQ(File::open(dir.file("folder"), f), Status::IsDirectory);
    EXPECT_EQ(f, nullptr);
}

TEST(DamagedFiles, Pre6HeaderFields) {
    LOAD_SAMPLE(bytes, "mbbsemu/MBBSEMU.DAT");
    TempDir dir;
    auto with = [&](auto patch) {
        std::string b = bytes;
        patch(b);
        return readFile(dir.put("p" + std::to_string(rand()), b));
    };
    EXPECT_EQ(with([](std::string& b) { putU16(b, 0x06, 0x0200); }).open, Status::UnsupportedVersion);
    EXPECT_EQ(with([](std::string& b) { putU16(b, 0x06, 0x0600); }).open, Status::UnsupportedVersion);
    EXPECT_EQ(with([](std::string& b) { putU16(b, 0x08, 0); }).open, Status::NotBtrieveFile);
    EXPECT_EQ(with([](std::string& b) { putU16(b, 0x08, 700); }).open, Status::NotBtrieveFile);
    EXPECT_EQ(with([](std::string& b) { putU16(b, 0x14, 500); }).open, Status::Corrupt);     // key count
    EXPECT_EQ(with([](std::string& b) { putU16(b, 0x18, 0); }).open, Status::Corrupt);       // slot length
    EXPECT_EQ(with([](std::string& b) { putU16(b, 0x18, 600); }).open, Status::Corrupt);     // slot past page
    EXPECT_EQ(with([](std::string& b) { putU16(b, 0x16, 95); }).open, Status::Corrupt);      // record past slot
    EXPECT_EQ(with([](std::string& b) { putU16(b, 0x16, 69); }).open, Status::Corrupt);      // a byte between record and pointers
    EXPECT_EQ(with([](std::string& b) { putU16(b, 0x16, 62); }).open, Status::Corrupt);      // a pair too many
    EXPECT_EQ(with([](std::string& b) { putU16(b, 0x14, 0); }).open, Status::Corrupt);       // no keys before 6.x
    EXPECT_EQ(with([](std::string& b) { putU16(b, 0x110 + 0x16, 0); }).open, Status::Corrupt);    // empty segment
    expectKeyDamaged(dir.put("past", [&] { std::string b = bytes; putU16(b, 0x110 + 0x14, 60); return b; }()),
                     0, "segment 0 lies outside the record");  // key past record
    EXPECT_EQ(with([](std::string& b) { putU16(b, 0x110 + 0x16, 5000); }).open, Status::Corrupt); // key past page
    EXPECT_EQ(with([](std::string& b) { putSwapped32(b, 0x26, 900); }).open, Status::Truncated); // page count
    // A record count no file this size could hold is refused before any scan.
    EXPECT_EQ(with([](std::string& b) { putSwapped32(b, 0x1A, 0xFFFFFFFFu); }).open, Status::Corrupt);
    // Counts that are merely wrong show up as the scan ends.
    EXPECT_EQ(with([](std::string& b) { putSwapped32(b, 0x1A, 5); }).scan, Status::Corrupt);
    EXPECT_EQ(with([](std::string& b) { putSwapped32(b, 0x1A, 3); }).scan, Status::Corrupt);
    // Encryption the reader does not know (512-byte pages) is refused, not guessed.
    EXPECT_EQ(with([](std::string& b) { b[0x2E] = 0x11; b[0x37] = 2; putU16(b, 0x06, 0xFC00); }).open,
              Status::UnsupportedEncryption);
    // An owner block under a version word that says no owner is set: damage.
    EXPECT_EQ(with([](std::string& b) { b[0x2E] = 0x11; b[0x37] = 2; }).open, Status::Corrupt);
    // An owner that only restricts access is no obstacle to reading.
    auto owned = with([](std::string& b) { b[0x2E] = 0x11; b[0x37] = 1; putU16(b, 0x06, 0xFC00); });
    EXPECT_EQ(owned.scan, Status::Success);
    EXPECT_EQ(owned.records.size(), 4u);
}

TEST(DamagedFiles, Pre6FreeChainInACircle) {
    LOAD_SAMPLE(bytes, "mbbsemu/MBBSEMU.DAT");
    auto original = readFile(corpus("mbbsemu/MBBSEMU.DAT"));
    ASSERT_FALSE(original.addresses.empty());
    // Put the first live slot on the free chain, pointing at itself.
    const RecordAddress a = original.addresses[0];
    const uint32_t absolute = File::addressPage(a) * 512 + File::addressOffset(a);
    std::string b = bytes;
    putSwapped32(b, 0x10, absolute);
    putSwapped32(b, absolute, absolute);
    TempDir dir;
    auto r = readFile(dir.put("loop", b));
    ASSERT_EQ(r.open, Status::Success);
    EXPECT_EQ(r.scan, Status::Corrupt);
    EXPECT_LE(r.pageReads, 16u);
}

// Offset of the current PAT copy's entry for a logical page, 6.x layout.
size_t v6PatEntry(const std::string& b, uint32_t ps, uint32_t logical) {
    const size_t p2 = 2 * ps, p3 = 3 * ps;
    const uint32_t u2 = getU16(b, p2 + 4) | getU16(b, p2 + 6) << 16;
    const uint32_t u3 = getU16(b, p3 + 4) | getU16(b, p3 + 6) << 16;
    return (u3 > u2 ? p3 : p2) + 4 + 4 * logical;
}
void setV6Entry(std::string& b, size_t at, uint32_t physical, uint8_t type) {
    b[at] = static_cast<char>(physical >> 16);
    b[at + 1] = static_cast<char>(type);
    b[at + 2] = static_cast<char>(physical);
    b[at + 3] = static_cast<char>(physical >> 8);
}

TEST(DamagedFiles, Version6PageTablesInCircles) {
    LOAD_SAMPLE(bytes, "wbtrv32/GALTELA.DAT");
    const uint32_t ps = 4096;
    const size_t pages = bytes.size() / ps;
    // Logical pages the current table maps as data.
    std::vector<uint32_t> data;
    for (uint32_t l = 1; l < ps / 4 - 2; ++l)
        if (bytes[v6PatEntry(bytes, ps, l) + 1] == 'D') data.push_back(l);
    ASSERT_FALSE(data.empty());
    TempDir dir;
    const uint32_t targets[] = {0, 1, 2, 3};  // the FCRs and the tables themselves
    for (uint32_t target : targets) {
        std::string b = bytes;
        setV6Entry(b, v6PatEntry(b, ps, data[0]), target, 'D');
        auto r = readFile(dir.put("pat" + std::to_string(target), b));
        EXPECT_EQ(ok(r.open) ? r.scan : r.open, Status::Corrupt) << target;
        EXPECT_LE(r.pageReads, 2 * pages);
    }
    // Another logical page pointed at the same data page: the page names only one.
    {
        std::string b = bytes;
        const uint8_t* e = reinterpret_cast<const uint8_t*>(&b[v6PatEntry(b, ps, data[0])]);
        const uint32_t phys = e[0] << 16 | e[3] << 8 | e[2];
        setV6Entry(b, v6PatEntry(b, ps, 200), phys, 'D');
        auto r = readFile(dir.put("twice", b));
        EXPECT_EQ(ok(r.open) ? r.scan : r.open, Status::Corrupt);
    }
    // A table entry past the end of the file.
    {
        std::string b = bytes;
        setV6Entry(b, v6PatEntry(b, ps, data[0]), 0x7FFFFF, 'D');
        auto r = readFile(dir.put("far", b));
        EXPECT_EQ(ok(r.open) ? r.scan : r.open, Status::Truncated);
    }
}

TEST(DamagedFiles, Version6HeaderFields) {
    LOAD_SAMPLE(bytes, "wbtrv32/GALTELA.DAT");
    const uint32_t ps = 4096;
    const size_t cur = 1 * ps, stale = 0;  // GALTELA's current FCR is page 1
    TempDir dir;
    auto with = [&](auto patch) {
        std::string b = bytes;
        patch(b);
        return readFile(dir.put("p" + std::to_string(rand()), b));
    };
    EXPECT_EQ(with([&](std::string& b) { putU16(b, stale + 0x4A, 0x0A00); }).open, Status::UnsupportedVersion);
    EXPECT_EQ(with([&](std::string& b) { putU16(b, cur + 0x4A, 0x0900); }).open, Status::Corrupt);
    EXPECT_EQ(with([&](std::string& b) { putU16(b, cur + 0x78, 0xFFF0); }).open, Status::Corrupt);  // KAT
    EXPECT_EQ(with([&](std::string& b) { b[cur + 0x76] = 7; }).open, Status::Corrupt);   // key counts disagree
    EXPECT_EQ(with([&](std::string& b) { putU16(b, cur + 0x16, 949); }).open, Status::Corrupt);  // a byte left over in the slot
    EXPECT_EQ(with([&](std::string& b) { putU16(b, cur + 0x16, 934); }).open, Status::Corrupt);  // room for two pairs more
    EXPECT_EQ(with([&](std::string& b) { putU16(b, cur + 0x110 + 0x16, 3000); }).open, Status::Corrupt);
    expectKeyDamaged(dir.put("usage", [&] { std::string b = bytes; putU16(b, cur + 0x110 + 0x14, 1); return b; }()),
                     0, "segment 0 lies outside the record");  // inside the usage word
    EXPECT_EQ(with([&](std::string& b) { b[cur + 0x2E] = 1; b[cur + 0x37] = 3; putU16(b, cur + 0x4A, 0xFA00); }).open,
              Status::UnsupportedEncryption);
    // A higher usage count on the copy marked stale does not make it current: its
    // record count of 0 does not fit the records, the other copy's does.
    const auto original = readFile(corpus("wbtrv32/GALTELA.DAT"));
    const auto counted = with([&](std::string& b) { putU32(b, stale + 4, 1000); });
    EXPECT_EQ(counted.scan, Status::Success);
    EXPECT_EQ(counted.records, original.records);
    // Both copies unreadable.
    EXPECT_EQ(with([&](std::string& b) { b[cur] = 'X'; b[stale] = 'X'; }).open, Status::NotBtrieveFile);
    // A page-table copy whose signature is damaged (either of the first pair): its
    // partner may be older than the records, so the file is refused.
    for (size_t pat : {2 * ps, 3 * ps}) {
        EXPECT_EQ(with([&](std::string& b) { b[pat] = 'X'; }).open, Status::Corrupt) << pat;
    }
}

// Calls visit(page, base, entry, i) for the first 100 entries of the fragment table
// of each pre-6 variable page in b (pages of ps bytes; base: the page's first byte,
// entry: the entry's).
template <class Visit>
void forEachPre6Fragment(std::string& b, uint32_t ps, Visit visit) {
    for (uint32_t p = 1; p < b.size() / ps; ++p) {
        const size_t base = size_t(p) * ps;
        if ((getU16(b, base + 4) & 0x8000) || getU16(b, base + 6) != 0xFFFF) continue;
        const uint16_t count = getU16(b, base + 0x0A);
        for (uint16_t i = 0; i < count && i < 100; ++i) visit(p, base, base + ps - 2 * (i + 1), i);
    }
}

// A file whose variable-length chains run in circles opens, and its scan stops with
// the variable-page error after a bounded number of page reads.
void expectCircleCaught(const std::string& name, const std::string& bytes) {
    TempDir dir;
    auto r = readFile(dir.put(name, bytes));
    ASSERT_EQ(r.open, Status::Success);
    EXPECT_EQ(r.scan, Status::VariablePageError);
    EXPECT_LE(r.pageReads, 64u);
}

// Every fragment on every variable page (current or stale) made to point at itself.
TEST(DamagedFiles, VariableChainsInCircles) {
    {
        LOAD_SAMPLE(bytes, "wbtrv32/WGSMENU2.DAT");
        const uint32_t ps = 4096;
        std::string b = bytes;
        for (size_t p = 4; p < b.size() / ps; ++p) {
            const size_t base = p * ps;
            if (b[base + 1] != 'V') continue;
            const uint16_t count = getU16(b, base + 0x0A);
            for (uint16_t i = 0; i < count && i < 200; ++i) {
                const uint16_t off = getU16(b, base + ps - 2 * (i + 1));
                if (off == 0xFFFF || off + 4u > ps) continue;
                std::copy(b.begin() + base, b.begin() + base + 1, b.begin() + base + off);  // page bits 16-23
                b[base + off + 1] = b[base + 2];
                b[base + off + 2] = b[base + 3];
                b[base + off + 3] = static_cast<char>(i);
            }
        }
        expectCircleCaught("v6loop", b);
    }
    {
        // Pre-6 compressed records: fragment links are flagged in the offset table.
        LOAD_SAMPLE(bytes, "ccc-fibu/misc/DAT-SYFORM.BTR");
        const uint32_t ps = 512;
        std::string b = bytes;
        forEachPre6Fragment(b, ps, [&](uint32_t p, size_t base, size_t entry, uint16_t i) {
            const uint16_t off = getU16(b, entry) & 0x7FFF;
            if (getU16(b, entry) == 0xFFFF || off + 4u > ps) return;
            putU16(b, entry, off | 0x8000);
            b[base + off] = static_cast<char>(p >> 16);
            b[base + off + 1] = static_cast<char>(p);
            b[base + off + 2] = static_cast<char>(p >> 8);
            b[base + off + 3] = static_cast<char>(i);
        });
        expectCircleCaught("pre6loop", b);
    }
}

TEST(DamagedFiles, VariableLayoutsWithoutAKnownFormatAreRefused) {
    LOAD_SAMPLE(bytes, "wbtrv32/WGSMENU2.DAT");
    TempDir dir;
    for (uint16_t flag : {0x0002, 0x0800}) {  // blank truncation, variable-tail tables
        std::string b = bytes;
        for (size_t copy : {0u, 4096u}) putU16(b, copy + 0x106, getU16(b, copy + 0x106) | flag);
        EXPECT_EQ(readFile(dir.put("flag", b)).open, Status::UnsupportedLayout) << flag;
    }
}

TEST(DamagedFiles, CompressedStreamCutShort) {
    LOAD_SAMPLE(bytes, "ccc-fibu/misc/DAT-SYFORM.BTR");
    const uint32_t ps = 512;
    // Inflate the first literal count of every unlinked fragment.
    std::string b = bytes;
    forEachPre6Fragment(b, ps, [&](uint32_t, size_t base, size_t entry, uint16_t) {
        const uint16_t e = getU16(b, entry);
        if (e == 0xFFFF || (e & 0x8000) || (e & 0x7FFFu) + 2 > ps) return;
        putU16(b, base + (e & 0x7FFF), 0xFFF0);
    });
    TempDir dir;
    auto r = readFile(dir.put("cut", b));
    ASSERT_EQ(r.open, Status::Success);
    EXPECT_EQ(r.scan, Status::VariablePageError);
}

TEST(DamagedFiles, UnknownAcsAndKeyTypesAreRefused) {
    LOAD_SAMPLE(bytes, "majorbbs22/CLASSADS.DAT");
    TempDir dir;
    std::string b = bytes;
    b[512 + 6] = static_cast<char>(0xAD);  // a code-page ACS keeps no table
    EXPECT_EQ(readFile(dir.put("acs", b)).open, Status::UnsupportedLayout);
    b = bytes;
    b[512 + 6] = 0;  // no ACS page where a key needs one
    EXPECT_EQ(readFile(dir.put("noacs", b)).open, Status::Corrupt);
    b = bytes;
    putU16(b, 0x110 + 8, getU16(b, 0x110 + 8) | keyflag::ExtendedType);
    b[0x110 + 0x1C] = 22;  // no such type
    EXPECT_EQ(readFile(dir.put("type", b)).open, Status::UnsupportedLayout);
}

TEST(DamagedFiles, BadRecordAddresses) {
    REQUIRE_CORPUS("mbbsemu/MBBSEMU.DAT");
    REQUIRE_CORPUS("wbtrv32/GALTELA.DAT");
    for (const char* rel : {"mbbsemu/MBBSEMU.DAT", "wbtrv32/GALTELA.DAT"}) {
        SCOPED_TRACE(rel);
        std::unique_ptr<File> f;
        ASSERT_EQ(File::open(corpus(rel), f), Status::Success);
        std::vector<RecordAddress> live;
        f->forEachRecord([&](RecordAddress a, const std::string&) { return live.push_back(a), true; });
        ASSERT_FALSE(live.empty());
        const RecordAddress a = live.back();
        const uint32_t page = File::addressPage(a), off = File::addressOffset(a);
        const uint32_t prl = f->info().physicalRecordLength;
        std::string out;
        EXPECT_EQ(f->readRecord(File::makeAddress(page, off + 1), out), Status::InvalidRecordAddress);
        EXPECT_EQ(f->readRecord(File::makeAddress(page, 2), out), Status::InvalidRecordAddress);
        EXPECT_EQ(f->readRecord(File::makeAddress(page, f->info().pageSize), out), Status::InvalidRecordAddress);
        EXPECT_EQ(f->readRecord(File::makeAddress(0, off), out), Status::InvalidRecordAddress);
        EXPECT_EQ(f->readRecord(File::makeAddress(90000, off), out), Status::InvalidRecordAddress);
        EXPECT_EQ(f->readRecord(File::makeAddress(f->info().keys[0].rootPage, off), out),
                  Status::InvalidRecordAddress);  // an index page
        // The slot after the last live one is free in both files.
        if (off + 2 * prl <= f->info().pageSize) {
            EXPECT_EQ(f->readRecord(File::makeAddress(page, off + prl), out), Status::InvalidRecordAddress);
        }
        EXPECT_TRUE(out.empty());
        std::string slot;
        ASSERT_EQ(f->readSlot(a, slot), Status::Success);
        EXPECT_EQ(slot.size(), prl);
    }
}

// Control record copies whose usage counts cannot tell which is current: the one
// the tables and records bear out is read (whichever its position), and when
// neither is, the file is refused.
TEST(DamagedFiles, ControlRecordCopiesWithEqualCounts) {
    struct Sample {
        const char* rel;
        size_t current, stale;
        uint32_t usageAt, usageSize;
    };
    // GALTELA (6.x): current copy at page 1; Stock.Dat (8.0, 2048-byte pages):
    // current copy at page 0, the other at page 2.
    for (const Sample& s : {Sample{"wbtrv32/GALTELA.DAT", 4096, 0, 4, 4}, Sample{"exchequer/BaseDemo/STOCK/Stock.Dat", 0, 4096, 6, 2}}) {
        SCOPED_TRACE(s.rel);
        LOAD_SAMPLE(bytes, s.rel);
        const auto original = readFile(corpus(s.rel));
        ASSERT_EQ(original.scan, Status::Success);
        TempDir dir;
        std::string tied = bytes;
        std::copy_n(bytes.begin() + static_cast<long>(s.stale + s.usageAt), s.usageSize,
                    tied.begin() + static_cast<long>(s.current + s.usageAt));
        const auto r = readFile(dir.put("tied", tied));
        EXPECT_EQ(r.scan, Status::Success);
        EXPECT_EQ(r.records, original.records);
        std::unique_ptr<File> f;
        ASSERT_EQ(File::open(dir.file("tied"), f), Status::Success);
        EXPECT_NE(f->info().controlRecordChoice.find("the copy at page " + std::to_string(s.current / f->info().pageSize)),
                  std::string::npos) << f->info().controlRecordChoice;
        // The current copy's record count damaged too: neither copy fits the records.
        tied[s.current + 0x1D] ^= 1;
        EXPECT_EQ(readFile(dir.put("neither", tied)).open, Status::Corrupt);
    }
}

// A damaged fragment pointer that makes two records share a fragment: the scan
// refuses the file, naming the page, instead of handing out one record twice.
TEST(DamagedFiles, AFragmentClaimedByTwoRecords) {
    const std::string rel = "exchequer/BaseDemo/REPORTS/Reports.Dat";
    LOAD_SAMPLE(bytes, rel);
    TempDir dir;
    std::string b = bytes;
    b[0x1043a] ^= 0x74;
    std::unique_ptr<File> f;
    ASSERT_EQ(File::open(dir.put("shared", b), f), Status::Success);
    EXPECT_EQ(f->forEachRecord([](RecordAddress, const std::string&) { return true; }), Status::Corrupt);
    EXPECT_EQ(f->damage(), "variable page 88: fragment 3 is claimed by two records");
    std::string keys;
    std::vector<RecordAddress> addresses;
    EXPECT_EQ(collectKeys(*f, f->info().keys.at(0), keys, addresses), Status::Corrupt);
    // Two offsets of one variable page made equal: the same bytes as two fragments.
    b = bytes;
    const uint32_t ps = 1024;
    for (size_t page = 0; page * ps < b.size(); ++page) {
        const size_t at = page * ps;
        if (getU16(b, at + 4) != 0x56 || getU16(b, at + 14) < 2) continue;
        putU16(b, at + ps - 4, getU16(b, at + ps - 2));
        break;
    }
    ASSERT_EQ(File::open(dir.put("same", b), f), Status::Success);
    EXPECT_NE(f->forEachRecord([](RecordAddress, const std::string&) { return true; }), Status::Success);
    EXPECT_NE(f->damage().find("begin at the same offset"), std::string::npos) << f->damage();
}

// A variable page whose fragment count takes in bytes that are no offset table.
TEST(DamagedFiles, AFragmentCountPastTheOffsetTable) {
    const std::string rel = "actianui/BtrvOnly.btr";  // 9.5; page 25 is its variable page
    LOAD_SAMPLE(bytes, rel);
    TempDir dir;
    std::string b = bytes;
    b[25 * 4096 + 0x11] = 2;
    const auto r = readFile(dir.put("count", b));
    EXPECT_EQ(r.open, Status::Success);
    EXPECT_EQ(r.scan, Status::VariablePageError);
}

// A compressed file whose key 0 segment was moved past the end of every record:
// reading by that key fails naming it; the records and the other keys still read.
TEST(DamagedFiles, AKeyOutsideCompressedRecords) {
    const std::string rel = "ccc-fibu/D01-2024/FI0130.BTR";
    LOAD_SAMPLE(bytes, rel);
    TempDir dir;
    std::string b = bytes;
    putU16(b, 0x124, 0xFFFF);
    const std::string path = dir.put("key", b);
    expectKeyDamaged(path, 0, "");
    std::unique_ptr<File> f, o;
    ASSERT_EQ(File::open(path, f), Status::Success);
    ASSERT_EQ(File::open(corpus(rel), o), Status::Success);
    std::vector<RecordAddress> order, originalOrder;
    EXPECT_EQ(engineKeyOrder(*f, f->info().keys.at(1), order), Status::Success);
    EXPECT_EQ(engineKeyOrder(*o, o->info().keys.at(1), originalOrder), Status::Success);
    EXPECT_EQ(order, originalOrder);
}

// An 8.0 file whose record length is 0 in both control record copies is damaged,
// not of a layout the reader does not know.
TEST(DamagedFiles, An8xRecordLengthOfZero) {
    const std::string rel = "exchequer/BaseDemo/ExchqSS.Dat";  // 8.0, not compressed, 2048-byte pages
    LOAD_SAMPLE(bytes, rel);
    TempDir dir;
    std::string b = bytes;
    putU16(b, 0x16, 0);
    putU16(b, 2 * 2048 + 0x16, 0);
    EXPECT_EQ(readFile(dir.put("zero", b)).open, Status::Corrupt);
}

// The current control record copy must name a version of the family the first
// page named: an 8.0 file whose current copy says 5.0, 6.0 or 9.5 is damaged.
TEST(DamagedFiles, An8xCurrentCopyOfAnotherVersion) {
    LOAD_SAMPLE(bytes, "exchequer/BaseDemo/ExchqSS.Dat");  // copies at pages 0 and 2 of 2048 bytes
    TempDir dir;
    const size_t second = 2 * 2048;
    ASSERT_GT(getU16(bytes, second + 0x06), getU16(bytes, 0x06));  // the second copy is current
    for (uint16_t version : {0x0500, 0x0600, 0x0950}) {
        std::string b = bytes;
        // Negative, as the file's word is: an owner is set.
        putU16(b, second + 0x4A, static_cast<uint16_t>(-version));
        EXPECT_EQ(readFile(dir.put("v" + std::to_string(version), b)).open, Status::Corrupt) << std::hex << version;
    }
}

TEST(ReadOnly, AReadOnlyCopyReadsAndStaysUnchanged) {
    LOAD_SAMPLE(bytes, "wbtrv32/GALTELA.DAT");
    TempDir dir;
    const std::string path = dir.put("ro.dat", bytes);
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    auto r = readFile(path);
    EXPECT_EQ(r.scan, Status::Success);
    EXPECT_EQ(r.records.size(), 73u);
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
#ifdef _WIN32
    EXPECT_EQ(before.st_mtime, after.st_mtime);
#else
    EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
#endif
    EXPECT_EQ(readAll(path), bytes);
}

// Random byte changes anywhere: every outcome is a status, reached with work
// bounded by the file, and never a crash (the sanitizer build checks the rest).
TEST(DamagedFiles, RandomBytesNeverCrashOrHang) {
    const char* files[] = {"mbbsemu/MBBSEMU.DAT", "wbtrv32/GALTELA.DAT", "wbtrv32/WGSMENU2.DAT",
                           "ccc-fibu/misc/DAT-SYFORM.BTR", "ccc-fibu/misc/sypara.btr",
                           "exchequer/v600-other/Common-Company.Dat", "actianui/Test_Table.mkd",
                           "wbtrv32/VARIABLE.DAT"};
    std::mt19937 rng(12345);
    for (const char* rel : files) REQUIRE_CORPUS(rel);
    TempDir dir;
    for (const char* rel : files) {
        const std::string bytes = readAll(corpus(rel));
        const uint32_t ps = pageSizeOf(bytes);
        const uint64_t pages = bytes.size() / ps;
        for (int round = 0; round < 40; ++round) {
            std::string b = bytes;
            const int flips = 1 + static_cast<int>(rng() % 8);
            for (int i = 0; i < flips; ++i) {
                // Half the changes land in the header, where they do most harm.
                const size_t at = (rng() % 2) ? rng() % std::min<size_t>(b.size(), 0x200) : rng() % b.size();
                b[at] = static_cast<char>(rng());
            }
            auto r = readFile(dir.put("fuzz", b));
            const Status s = ok(r.open) ? r.scan : r.open;
            EXPECT_TRUE(ok(s) || isDamageStatus(s)) << rel << ": " << statusText(s);
            EXPECT_LE(r.pageReads, 4 * pages + 64) << rel;
        }
    }
}

}  // namespace
