// How pages come in: single pages by pread into a bounded cache until a whole-file
// pass, the mapping from then on. Both ways give the same bytes, pages and records,
// on the corpus and on written files; the cache and the held page tables stay
// bounded however much is read.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "btrieve/fcr.h"
#include "btrieve/file.h"
#include "btrieve/pages.h"
#include "btrieve/pat.h"
#include "btrieve/table.h"
#include "btrieve/writer.h"
#include "test_file_util.h"

using namespace btrieve;
using btrieve::detail::Layout;
using btrieve::detail::PageMap;
using btrieve::detail::PageRef;
using btrieve::detail::PageStore;
using filetest::corpusDir;
using filetest::TempDir;
namespace fs = std::filesystem;

namespace {

// A 6.x file of n records of the given length with a unique u32 key.
std::string writeFileOf(const TempDir& dir, const std::string& name, uint32_t pageSize, uint32_t length,
                        uint32_t n) {
    return filetest::writeNumberedFile(dir, name, pageSize, length, n, 5);
}

std::vector<std::string> corpusAndWritten(const TempDir& dir) {
    std::vector<std::string> paths = {writeFileOf(dir, "small.dat", 512, 40, 1500),
                                      writeFileOf(dir, "wide.dat", 4096, 700, 400)};
    if (fs::is_directory(corpusDir()))
        for (const auto& e : fs::recursive_directory_iterator(corpusDir()))
            if (e.is_regular_file()) paths.push_back(e.path().string());
    return paths;
}

std::unique_ptr<PageStore> openStore(const std::string& path, bool map) {
    std::unique_ptr<PageStore> s;
    PageStore::Options o;
    o.map = map;
    EXPECT_EQ(PageStore::open(path, s, o), Status::Success) << path;
    return s;
}

}  // namespace

TEST(PageReads, SinglePagesComeByPreadUntilAPassThenFromTheMapping) {
    SKIP_WHERE_FILES_ARE_NOT_MAPPED();
    TempDir dir;
    const std::string path = writeFileOf(dir, "p.dat", 512, 40, 1500);
    auto s = openStore(path, true);
    ASSERT_TRUE(s && s->mapped());
    s->setPageSize(512);
    PageRef before, during, after;
    ASSERT_EQ(s->readPage(3, before), Status::Success);
    EXPECT_FALSE(before.mapped());  // a cached copy: the mapping is not touched
    EXPECT_FALSE(s->viaMapping());
    {
        const PageStore::Pass pass(*s);
        ASSERT_EQ(s->readPage(3, during), Status::Success);
        EXPECT_TRUE(during.mapped());
    }
    // After a pass the file has been read whole: reads keep to the mapping.
    ASSERT_EQ(s->readPage(3, after), Status::Success);
    EXPECT_TRUE(after.mapped());
    EXPECT_EQ(*before, *during);
    EXPECT_EQ(*before, *after);

    // A store that may not map never turns to a mapping, pass or not.
    auto plain = openStore(path, false);
    plain->setPageSize(512);
    const PageStore::Pass pass(*plain);
    PageRef p;
    ASSERT_EQ(plain->readPage(3, p), Status::Success);
    EXPECT_FALSE(p.mapped());
    EXPECT_FALSE(plain->viaMapping());
}

TEST(PageReads, PreadAndMappingGiveTheSameBytesForEveryPageAndRun) {
    SKIP_WHERE_FILES_ARE_NOT_MAPPED();
    TempDir dir;
    for (const std::string& path : corpusAndWritten(dir)) {
        auto mapped = openStore(path, true), read = openStore(path, false);
        ASSERT_TRUE(mapped && read);
        // Page size from the file's own header where it has one; raw pages are
        // compared either way.
        Layout layout;
        const bool known = ok(detail::readHeader(*read, layout));
        const uint32_t ps = known ? read->pageSize() : 512;
        mapped->setPageSize(ps);
        read->setPageSize(ps);
        const PageStore::Pass pass(*mapped);
        const uint64_t pages = read->physicalPages();
        ASSERT_EQ(mapped->physicalPages(), pages);
        std::string joined;
        for (uint64_t p = 0; p < pages; ++p) {
            PageRef a, b;
            ASSERT_EQ(mapped->readPage(p, a), Status::Success) << path;
            ASSERT_EQ(read->readPage(p, b), Status::Success) << path;
            ASSERT_TRUE(a.mapped());
            ASSERT_EQ(*a, *b) << path << " page " << p;
            joined += *b;
        }
        // Runs of pages equal the pages one by one, on both paths; a run past the
        // end is Truncated on both.
        for (uint32_t count : {1u, 2u, 5u}) {
            for (uint64_t first = 0; first + count <= pages; first += 7) {
                std::string ra, rb;
                ASSERT_EQ(mapped->readPages(first, count, ra), Status::Success);
                ASSERT_EQ(read->readPages(first, count, rb), Status::Success);
                ASSERT_EQ(ra, rb) << path;
                ASSERT_EQ(ra, joined.substr(first * ps, count * ps)) << path;
            }
        }
        std::string none;
        EXPECT_EQ(mapped->readPages(pages - 1, 2, none), Status::Truncated);
        EXPECT_EQ(read->readPages(pages - 1, 2, none), Status::Truncated);
        EXPECT_EQ(read->readPages(pages, 1, none), Status::Truncated);
    }
}

TEST(PageReads, FilesOpenedEitherWayGiveTheSamePagesAndRecordsBeforeAndAfterAScan) {
    // One file as opened (pread, mapping untouched), one after a scan (mapping),
    // one never mapped: every logical page and every record alike, failures too.
    TempDir dir;
    int compared = 0;
    for (const std::string& path : corpusAndWritten(dir)) {
        Status sa, sb, sc;
        auto fresh = filetest::openFile(path, true, sa), scanned = filetest::openFile(path, true, sb), plain = filetest::openFile(path, false, sc);
        ASSERT_EQ(sa, sc) << path;
        ASSERT_EQ(sb, sc) << path;
        if (!ok(sa)) continue;
        std::vector<RecordAddress> addresses;
        const Status scan = scanned->forEachRecordView([&](RecordAddress a, std::string_view) {
            addresses.push_back(a);
            return true;
        });
        const uint64_t limit = fs::file_size(path) / fresh->info().pageSize + 2;
        for (uint32_t page = 0; page < limit; ++page) {
            std::string a, b, c;
            const Status ra = fresh->readLogicalPage(page, a), rb = scanned->readLogicalPage(page, b),
                         rc = plain->readLogicalPage(page, c);
            ASSERT_EQ(ra, rc) << path << " page " << page;
            ASSERT_EQ(rb, rc) << path << " page " << page;
            ASSERT_TRUE(a == c && b == c) << path << " page " << page;
        }
        if (!ok(scan)) continue;
        for (RecordAddress addr : addresses) {
            std::string a, c, scratch;
            std::string_view b;
            ASSERT_EQ(fresh->readRecord(addr, a), Status::Success) << path;
            ASSERT_EQ(scanned->readRecordView(addr, b, scratch), Status::Success) << path;
            ASSERT_EQ(plain->readRecord(addr, c), Status::Success) << path;
            ASSERT_TRUE(a == c && b == c) << path;
        }
        ++compared;
    }
    EXPECT_GT(compared, 2);
}

TEST(PageReads, TheCacheStaysBoundedAndLookupsAgreeWithTheWholeTable) {
    TempDir dir;
    // 512-byte pages: many more than the cache holds, in page tables of about a
    // hundred pages a group.
    const std::string path = writeFileOf(dir, "many.dat", 512, 40, 60000);
    for (bool map : {false, true}) {
        auto s = openStore(path, map);
        Layout layout;
        ASSERT_EQ(detail::readHeader(*s, layout), Status::Success);
        ASSERT_GT(s->physicalPages(), 4 * s->cacheLimit());
        std::vector<PageRef> keep;
        for (int round = 0; round < 2; ++round)
            for (uint64_t p = 0; p < s->physicalPages(); ++p) {
                PageRef r;
                ASSERT_EQ(s->readPage(p, r), Status::Success);
                ASSERT_LE(s->cachedPages(), s->cacheLimit());
                if (p % 1000 == 0) keep.push_back(r);  // a page held by a caller outlives its eviction
            }
        for (const PageRef& r : keep) EXPECT_EQ(r->size(), 512u);

        // Single entries looked up (through the few pairs held and the entry cache)
        // agree with the whole tables read group by group; more pages than the
        // entry cache holds, twice over, in groups more than the pairs held.
        const PageMap pages(*s, layout);
        std::vector<std::pair<uint32_t, detail::PageEntry>> whole;
        ASSERT_EQ(pages.forEach([&](uint32_t logical, const detail::PageEntry& e) {
            whole.emplace_back(logical, e);
            return true;
        }), Status::Success);
        ASSERT_GT(whole.size(), PageMap::kEntryCache);
        ASSERT_GT(pages.groups(), 4 * PageMap::kHeldPairs);
        for (int round = 0; round < 2; ++round)
            for (const auto& [logical, e] : whole) {
                detail::PageEntry got;
                ASSERT_EQ(pages.lookup(logical, got), Status::Success);
                ASSERT_EQ(got.physical, e.physical) << logical;
                ASSERT_EQ(got.type, e.type) << logical;
            }
    }
}

TEST(PageReads, AWalkAcrossTheFileTurnsToTheMapping) {
    SKIP_WHERE_FILES_ARE_NOT_MAPPED();
    // Interactive reads that go on past a few megabytes are a walk across the file:
    // the store takes later pages from the mapping instead of copying each.
    TempDir dir;
    const std::string path = writeFileOf(dir, "walk.dat", 4096, 3000, 4000);
    auto s = openStore(path, true);
    s->setPageSize(4096);
    ASSERT_GT(s->fileSize(), uint64_t{12} << 20);
    PageRef r;
    ASSERT_EQ(s->readPage(5, r), Status::Success);
    EXPECT_FALSE(r.mapped());
    for (uint64_t p = 0; p < s->physicalPages(); ++p) ASSERT_EQ(s->readPage(p, r), Status::Success);
    EXPECT_TRUE(s->viaMapping());
    ASSERT_EQ(s->readPage(5, r), Status::Success);
    EXPECT_TRUE(r.mapped());
}

TEST(PageReads, APassOverAStoreThatIsNotMappedReadsInLargeRuns) {
    TempDir dir;
    const std::string path = writeFileOf(dir, "runs.dat", 512, 40, 20000);
    auto single = openStore(path, false), runs = openStore(path, false);
    single->setPageSize(512);
    runs->setPageSize(512);
    const PageStore::Pass pass(*runs);
    const uint64_t pages = runs->physicalPages();
    for (uint64_t p = 0; p < pages; ++p) {
        PageRef a, b;
        ASSERT_EQ(single->readPage(p, a), Status::Success);
        ASSERT_EQ(runs->readPage(p, b), Status::Success);
        ASSERT_EQ(*a, *b) << "page " << p;
        ASSERT_LE(runs->cachedPages(), runs->cacheLimit());
    }
    EXPECT_GE(single->reads(), pages);
    EXPECT_LE(runs->reads(), pages / 64 + 2);  // runs of 128 pages here
}

#ifdef __linux__
namespace {
// Kilobytes of the mappings of path resident in this process (/proc/self/smaps).
uint64_t residentKbOfMappings(const std::string& path) {
    std::FILE* f = std::fopen("/proc/self/smaps", "r");
    if (!f) return 0;
    const std::string canonical = fs::canonical(path).string();
    uint64_t kb = 0;
    bool inFile = false;
    char line[4096];
    while (std::fgets(line, sizeof line, f)) {
        std::string l(line);
        if (!l.empty() && l.back() == '\n') l.pop_back();
        const bool header = l.find('-') != std::string::npos && l.find(':') != std::string::npos &&
                            l.find("kB") == std::string::npos && std::isxdigit(static_cast<unsigned char>(l[0]));
        if (header) inFile = l.size() >= canonical.size() && l.ends_with(" " + canonical);
        else if (inFile && l.rfind("Rss:", 0) == 0) kb += std::strtoull(l.c_str() + 4, nullptr, 10);
    }
    std::fclose(f);
    return kb;
}
}  // namespace

TEST(PageReads, SeeksAcrossAMappedFileBringLittleOfItsMappingIn) {
    SKIP_WHERE_FILES_ARE_NOT_MAPPED();
    // Single reads go by pread, so a lookup here and there across a large mapped file
    // leaves its mapping (nearly) untouched; reads through the mapping would fault in,
    // and keep resident, a large part of the file.
    TempDir dir;
    const std::string path = writeFileOf(dir, "seeks.dat", 4096, 3000, 6000);
    Status st;
    std::shared_ptr<const File> f = filetest::openFile(path, true, st);
    ASSERT_EQ(st, Status::Success);
    ASSERT_TRUE(f->mapped());
    Table t(f);
    for (uint32_t k = 0; k < 6000; k += 97) {
        std::string key(4, '\0');
        std::memcpy(key.data(), &k, 4);
        ASSERT_EQ(t.seek(SeekOp::Ge, key), Status::Success) << k;
    }
    EXPECT_LT(residentKbOfMappings(path), f->fileSize() / 1024 / 8);
}
#endif
