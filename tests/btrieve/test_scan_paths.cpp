// The two ways pages come in (a read-only mapping, or pread through the cache) and
// the two scan visitors give the same records; a file cut short while it is open
// gives Truncated, never a crash, on either path.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "btrieve/file.h"
#include "btrieve/key_order.h"
#include "btrieve/keys.h"
#include "btrieve/writer.h"
#include "test_file_util.h"

using namespace btrieve;
using filetest::corpusDir;
using filetest::TempDir;
namespace fs = std::filesystem;

namespace {

struct Scan {
    Status status = Status::Success;
    std::vector<RecordAddress> addresses;
    std::vector<std::string> records;
};

Scan scanCopies(const File& f) {
    Scan s;
    s.status = f.forEachRecord([&](RecordAddress a, const std::string& r) {
        s.addresses.push_back(a);
        s.records.push_back(r);
        return true;
    });
    return s;
}

Scan scanViews(const File& f) {
    Scan s;
    s.status = f.forEachRecordView([&](RecordAddress a, std::string_view r) {
        s.addresses.push_back(a);
        s.records.emplace_back(r);
        return true;
    });
    return s;
}

// 6.x file of n 40-byte records with a unique u32 key; 512-byte pages, so that
// n = 2000 spreads over some two hundred pages.
std::string writeNumbered(const TempDir& dir, const std::string& name, uint32_t n, bool variable = false) {
    return filetest::writeNumberedFile(dir, name, 512, 40, n, 7, variable);
}

}  // namespace

TEST(ScanPaths, MappedAndPreadFilesReadTheSameRecordsEveryWay) {
    SKIP_WHERE_FILES_ARE_NOT_MAPPED();
    // Every corpus file (pre-6 encrypted and plain, 6.x, 8.x and 9.x, compressed and
    // variable) plus a written file with tails.
    TempDir dir;
    std::vector<std::string> paths = {writeNumbered(dir, "tails.dat", 900, true)};
    if (fs::is_directory(corpusDir()))
        for (const auto& e : fs::recursive_directory_iterator(corpusDir()))
            if (e.is_regular_file()) paths.push_back(e.path().string());
    int compared = 0;
    for (const std::string& path : paths) {
        Status openMapped, openRead;
        auto mapped = filetest::openFile(path, true, openMapped);
        auto read = filetest::openFile(path, false, openRead);
        ASSERT_EQ(openMapped, openRead) << path;
        if (!ok(openMapped)) continue;
        EXPECT_TRUE(mapped->mapped()) << path;
        EXPECT_FALSE(read->mapped()) << path;
        const Scan a = scanCopies(*read), b = scanCopies(*mapped), c = scanViews(*mapped), d = scanViews(*read);
        EXPECT_EQ(a.status, b.status) << path;
        EXPECT_EQ(a.status, c.status) << path;
        EXPECT_EQ(a.status, d.status) << path;
        EXPECT_EQ(a.addresses, b.addresses) << path;
        EXPECT_EQ(a.addresses, c.addresses) << path;
        EXPECT_TRUE(a.records == b.records && a.records == c.records && a.records == d.records) << path;
        // By address, after the scan (mapped reads then use the page directory), in
        // reverse so that pages come back out of order.
        std::string copy, scratch, slotA, slotB;
        for (size_t i = a.addresses.size(); i-- > 0;) {
            std::string_view view;
            mapped->prefetchRecord(a.addresses[i]);
            ASSERT_EQ(mapped->readRecordView(a.addresses[i], view, scratch), Status::Success) << path;
            ASSERT_EQ(read->readRecord(a.addresses[i], copy), Status::Success) << path;
            ASSERT_EQ(view, copy) << path;
            ASSERT_EQ(copy, a.records[i]) << path;
            ASSERT_EQ(mapped->readSlot(a.addresses[i], slotA), read->readSlot(a.addresses[i], slotB));
            ASSERT_EQ(slotA, slotB) << path;
        }
        // Addresses that hold no record fail alike.
        for (RecordAddress bad : {File::makeAddress(0, 6), File::makeAddress(1, 7), File::makeAddress(99999, 6)}) {
            std::string_view view;
            EXPECT_EQ(mapped->readRecordView(bad, view, scratch), read->readRecord(bad, copy)) << path;
        }
        // Stopping early stops both visitors at the same record.
        size_t seen = 0;
        EXPECT_EQ(mapped->forEachRecordView([&](RecordAddress, std::string_view) { return ++seen < 3; }),
                  Status::Success);
        EXPECT_EQ(seen, std::min<size_t>(3, a.addresses.size())) << path;
        ++compared;
    }
    EXPECT_GT(compared, 1);
}

TEST(ScanPaths, AFileCutShortWhileOpenGivesTruncated) {
    TempDir dir;
    for (bool map : {true, false}) {
        // Cut before the scan, to a whole number of pages and in mid-page.
        for (off_t keep : {off_t(512 * 12), off_t(512 * 12 + 100)}) {
            const std::string path = writeNumbered(dir, "cut" + std::to_string(map) + std::to_string(keep), 2000);
            Status st;
            auto f = filetest::openFile(path, map, st);
            ASSERT_EQ(st, Status::Success);
            const Scan whole = scanCopies(*f);  // the page directory is made here
            ASSERT_EQ(whole.status, Status::Success);
            ASSERT_EQ(::truncate(path.c_str(), keep), 0);
            EXPECT_EQ(scanCopies(*f).status, Status::Truncated) << map << " " << keep;
            EXPECT_EQ(scanViews(*f).status, Status::Truncated) << map << " " << keep;
            EXPECT_EQ(f->checkUnchanged(), Status::Truncated);
            std::string copy, scratch;
            std::string_view view;
            EXPECT_EQ(f->readRecord(whole.addresses.back(), copy), Status::Truncated);
            EXPECT_EQ(f->readRecordView(whole.addresses.back(), view, scratch), Status::Truncated);
        }
        // Cut in the middle of a scan: the mapped pages past the new end fault and
        // read as zeros; the scan reports Truncated.
        const std::string path = writeNumbered(dir, "mid" + std::to_string(map), 2000);
        Status st;
        auto f = filetest::openFile(path, map, st);
        ASSERT_EQ(st, Status::Success);
        size_t visited = 0;
        st = f->forEachRecordView([&](RecordAddress, std::string_view) {
            if (visited++ == 0) {
                EXPECT_EQ(::truncate(path.c_str(), 512 * 8), 0);
            }
            return true;
        });
        EXPECT_EQ(st, Status::Truncated) << map;
        EXPECT_LT(visited, 2000u);
        std::string copy;
        EXPECT_EQ(f->readRecord(File::makeAddress(100, 6), copy), Status::Truncated);
    }
}

TEST(ScanPaths, ReadsByAddressAfterAScanTouchFewPages) {
    // The page directory replaces page-table lookups, but a page still counts.
    TempDir dir;
    const std::string path = writeNumbered(dir, "few.dat", 2000);
    Status st;
    auto f = filetest::openFile(path, true, st);
    ASSERT_EQ(st, Status::Success);
    const Scan s = scanViews(*f);
    ASSERT_EQ(s.status, Status::Success);
    const uint64_t before = f->pageReads();
    std::string copy;
    for (int i = 0; i < 10; ++i) ASSERT_EQ(f->readRecord(s.addresses[1000], copy), Status::Success);
    EXPECT_LE(f->pageReads() - before, 1u);
}
