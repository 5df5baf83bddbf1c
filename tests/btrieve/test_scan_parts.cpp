// A whole-file scan split into runs read in threads of their own gives the records
// of a scan in one piece, in the same order; a fault or a stop in any run ends it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "btrieve/file.h"
#include "btrieve/index.h"
#include "btrieve/table.h"
#include "btrieve/writer.h"
#include "test_file_util.h"
#include "key_segment.h"

using namespace btrieve;
using filetest::TempDir;

namespace {

// Small pages, so that a file of some ten thousand pages stays small: enough
// pages for the scan to split.
constexpr uint32_t kPageSize = 512;
constexpr uint32_t kRecords = 140000;

std::string writeBig(const TempDir& dir) {
    WriterOptions o;
    o.pageSize = kPageSize;
    o.recordLength = 32;
    // Many duplicates, in chains.
    o.keys.push_back({{testkeys::keySegment(4, 2, DataType::UnsignedBinary, keyflag::Duplicates)}});
    std::vector<std::string> recs;
    recs.reserve(kRecords);
    for (uint32_t i = 0; i < kRecords; ++i) {
        std::string r(32, static_cast<char>('a' + i % 26));
        std::memcpy(r.data(), &i, 4);
        const uint16_t k = static_cast<uint16_t>((i * 7919u) % 5000u);
        std::memcpy(r.data() + 4, &k, 2);
        recs.push_back(r);
    }
    const std::string path = dir.file("big.dat");
    EXPECT_EQ(writeFile(path, o, recs), Status::Success);
    return path;
}

std::unique_ptr<File> open(const std::string& path) {
    std::unique_ptr<File> f;
    EXPECT_EQ(File::open(path, f), Status::Success) << path;
    return f;
}

struct Runs {
    Status status = Status::Success;
    std::vector<std::vector<std::pair<RecordAddress, std::string>>> parts;
};

Runs scanInParts(const File& f, unsigned parts) {
    Runs r;
    r.parts.resize(parts);
    r.status = f.forEachRecordViewInParts(parts, [&](unsigned part, RecordAddress a, std::string_view rec) {
        r.parts.at(part).emplace_back(a, std::string(rec));
        return true;
    });
    return r;
}

}  // namespace

TEST(ScanParts, RunsJoinedInOrderAreTheWholeScan) {
    SKIP_WHERE_FILES_ARE_NOT_MAPPED();
    TempDir dir;
    const std::string path = writeBig(dir);
    auto f = open(path);
    ASSERT_TRUE(f);
    ASSERT_TRUE(f->mapped());
    std::vector<std::pair<RecordAddress, std::string>> whole;
    ASSERT_EQ(f->forEachRecordView([&](RecordAddress a, std::string_view rec) {
        whole.emplace_back(a, std::string(rec));
        return true;
    }), Status::Success);
    ASSERT_EQ(whole.size(), kRecords);
    for (unsigned parts : {2u, 3u}) {
        const Runs r = scanInParts(*f, parts);
        ASSERT_EQ(r.status, Status::Success);
        std::vector<std::pair<RecordAddress, std::string>> joined;
        // Runs are at least a few thousand pages: the file has enough for two.
        EXPECT_FALSE(r.parts[0].empty() || r.parts[1].empty()) << parts << " runs";
        for (const auto& p : r.parts) joined.insert(joined.end(), p.begin(), p.end());
        EXPECT_TRUE(joined == whole) << parts << " runs";
    }
    // Pages read in the runs' threads count as much as pages read in one: a fresh
    // open scanned in two runs reads as many pages as one scanned whole.
    auto countOf = [&](unsigned parts) {
        auto g = open(path);
        const uint64_t before = g->pageReads();
        if (parts == 1)
            EXPECT_EQ(g->forEachRecordView([](RecordAddress, std::string_view) { return true; }), Status::Success);
        else
            EXPECT_EQ(scanInParts(*g, parts).status, Status::Success);
        return g->pageReads() - before;
    };
    const uint64_t alone = countOf(1);
    EXPECT_GT(alone, std::filesystem::file_size(path) / kPageSize / 2);  // about every page, data pages the most
    EXPECT_EQ(countOf(2), alone);
    // The in-memory index built from the runs orders like a stable sort of the
    // whole scan, duplicates in their chains' (here: insertion) order.
    Table t(std::shared_ptr<const File>(std::move(f)));
    t.setIndexFactory(makeMemoryIndex);
    uint64_t n = 0;
    uint16_t lastKey = 0;
    uint32_t lastId = 0;
    for (Status s = t.moveFirst(); s == Status::Success; s = t.moveNext(), ++n) {
        uint16_t k;
        uint32_t id;
        std::memcpy(&k, t.currentRecord().data() + 4, 2);
        std::memcpy(&id, t.currentRecord().data(), 4);
        if (n > 0) {
            ASSERT_LE(lastKey, k);
            if (k == lastKey) {
                ASSERT_LT(lastId, id);
            }
        }
        lastKey = k, lastId = id;
    }
    EXPECT_EQ(n, kRecords);
}

TEST(ScanParts, AFaultLateInTheFileFailsTheScanAndAStopEndsIt) {
    TempDir dir;
    const std::string path = writeBig(dir);
    // Data pages three quarters into the file lose their page type: the page
    // table still calls them data pages, so the scan must refuse them.
    std::string bytes = filetest::readAll(path);
    const size_t pages = bytes.size() / kPageSize;
    size_t damaged = 0;
    for (size_t p = pages * 3 / 4; p < pages * 3 / 4 + 40 && p < pages; ++p)
        if (bytes[p * kPageSize + 1] == 'D') {
            bytes[p * kPageSize + 1] = 'E';
            ++damaged;
        }
    ASSERT_GT(damaged, 0u);
    const std::string bad = dir.file("bad.dat");
    filetest::writeAll(bad, bytes);
    auto f = open(bad);
    ASSERT_TRUE(f);
    const Status whole = f->forEachRecordView([](RecordAddress, std::string_view) { return true; });
    EXPECT_EQ(whole, Status::Corrupt);
    EXPECT_EQ(scanInParts(*f, 2).status, whole);

    // A visitor that stops in the second run ends the scan, with success, short of
    // the end. (Runs go in threads of their own only over a mapping.)
    SKIP_WHERE_FILES_ARE_NOT_MAPPED();
    auto good = open(path);
    std::atomic<uint64_t> visits{0};
    std::atomic<bool> stop{false};
    const Status st = good->forEachRecordViewInParts(2, [&](unsigned part, RecordAddress, std::string_view) {
        ++visits;
        if (part == 1) stop = true;
        return !(part == 1);
    });
    EXPECT_EQ(st, Status::Success);
    EXPECT_TRUE(stop.load());
    EXPECT_LT(visits.load(), kRecords);
}

TEST(ScanParts, ReadsByManyThreadsAtOnceCountAsInOne) {
    SKIP_WHERE_FILES_ARE_NOT_MAPPED();
    // Each thread holds a tally of its own while it lives, and threads beyond
    // the tallies share one: more threads than tallies, in two waves so that
    // tallies pass to new threads, count every page read exactly once.
    TempDir dir;
    const std::string path = writeBig(dir);
    std::vector<RecordAddress> firstOnPage;
    {
        auto f = open(path);
        ASSERT_EQ(f->forEachRecordView([&](RecordAddress a, std::string_view) {
            if (firstOnPage.empty() || File::addressPage(firstOnPage.back()) != File::addressPage(a))
                firstOnPage.push_back(a);
            return true;
        }), Status::Success);
    }
    ASSERT_GT(firstOnPage.size(), 5000u);
    constexpr unsigned kThreads = 40;
    auto readAll = [&](const File& f, unsigned threads, unsigned wave) {
        std::vector<std::thread> pool;
        std::atomic<int> failures{0};
        for (unsigned t = 0; t < threads; ++t)
            pool.emplace_back([&, t] {
                std::string scratch;
                for (size_t i = t; i < firstOnPage.size(); i += threads)
                    if (i % 2 == wave) {
                        std::string_view rec;
                        if (f.readRecordView(firstOnPage[i], rec, scratch) != Status::Success) ++failures;
                    }
            });
        for (auto& th : pool) th.join();
        EXPECT_EQ(failures.load(), 0);
    };
    auto countOf = [&](unsigned threads) {
        auto f = open(path);
        EXPECT_EQ(f->forEachRecordView([](RecordAddress, std::string_view) { return true; }), Status::Success);
        const uint64_t before = f->pageReads();
        readAll(*f, threads, 0);
        readAll(*f, threads, 1);
        return f->pageReads() - before;
    };
    const uint64_t alone = countOf(1);
    EXPECT_GE(alone, firstOnPage.size());
    EXPECT_EQ(countOf(kThreads), alone);
}
