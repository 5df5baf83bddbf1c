// Files from the test-file writer read back by the reader: every page size the
// 6.x format allows, deleted slots, stale shadow pages, and page tables spread
// over many pairs.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "btrieve/file.h"
#include "btrieve/writer.h"
#include "test_file_util.h"
#include "key_segment.h"

using namespace btrieve;

namespace {

using testkeys::keySegment;

std::vector<std::string> makeRecords(uint32_t n, uint32_t length) {
    std::vector<std::string> out;
    for (uint32_t i = 0; i < n; ++i) {
        std::string r(length, ' ');
        const int32_t id = static_cast<int32_t>(i * 7919 % 100003);
        std::memcpy(&r[0], &id, 4);
        const std::string name = "name" + std::to_string(i % 13);
        std::memcpy(&r[4], name.c_str(), name.size() + 1);
        r[length - 1] = static_cast<char>(i);  // the last byte counts too
        out.push_back(r);
    }
    return out;
}

struct Case {
    uint32_t pageSize;
    uint32_t recordLength;
    uint32_t records;
    unsigned deleted;
    uint16_t version;
};

class WrittenFiles : public ::testing::TestWithParam<Case> {};

TEST_P(WrittenFiles, ReadBackExactlyTheLiveRecords) {
    const Case c = GetParam();
    filetest::TempDir dir;
    const std::string path = dir.file("w.dat");
    WriterOptions o;
    o.pageSize = c.pageSize;
    o.recordLength = c.recordLength;
    o.deletedRecords = c.deleted;
    o.staleShadows = true;
    o.version = c.version;
    o.keys = {{{keySegment(0, 4, DataType::Integer, 0)}},
              {{keySegment(4, 12, DataType::ZString, keyflag::Duplicates)}}};
    const auto records = makeRecords(c.records, c.recordLength);
    ASSERT_EQ(writeFile(path, o, records), Status::Success);

    std::unique_ptr<File> f;
    ASSERT_EQ(File::open(path, f), Status::Success);
    const FileInfo& i = f->info();
    EXPECT_EQ(i.family, Family::V6);
    EXPECT_EQ(i.version, c.version);
    EXPECT_EQ(i.pageSize, c.pageSize);
    EXPECT_EQ(i.recordLength, c.recordLength);
    EXPECT_EQ(i.recordCount, c.records);
    ASSERT_EQ(i.keys.size(), 2u);
    EXPECT_EQ(i.keys[0].segments.at(0).position, 0u);  // the slot's usage word is not counted
    EXPECT_EQ(i.keys[1].segments.at(0).position, 4u);
    EXPECT_EQ(i.keys[1].segments[0].type, DataType::ZString);
    EXPECT_TRUE(i.keys[1].allowsDuplicates());

    std::multiset<std::string> got;
    Status s = f->forEachRecord([&](RecordAddress a, const std::string& r) {
        got.insert(r);
        std::string again;
        EXPECT_EQ(f->readRecord(a, again), Status::Success);
        EXPECT_EQ(again, r);
        return true;
    });
    EXPECT_EQ(s, Status::Success);
    EXPECT_EQ(got, std::multiset<std::string>(records.begin(), records.end()));
    // A full scan reads each page about once.
    EXPECT_LE(f->pageReads(), filetest::fs::file_size(path) / c.pageSize + 8);

    // Stopping early is not an error.
    int n = 0;
    EXPECT_EQ(f->forEachRecord([&](RecordAddress, const std::string&) { return ++n < 3; }), Status::Success);
    EXPECT_EQ(n, std::min<int>(3, static_cast<int>(c.records)));
}

INSTANTIATE_TEST_SUITE_P(PageSizes, WrittenFiles,
                         ::testing::Values(Case{512, 200, 900, 20, 0x0600},    // many page-table pairs
                                           Case{1024, 100, 400, 7, 0x0600},
                                           Case{1536, 40, 300, 0, 0x0610},
                                           Case{2048, 64, 250, 3, 0x0600},
                                           Case{2560, 90, 60, 1, 0x0610},
                                           Case{3072, 30, 10, 0, 0x0600},
                                           Case{4096, 900, 50, 5, 0x0600},
                                           Case{4096, 16, 0, 0, 0x0600}),  // no records
                         [](const auto& info) {
                             return "ps" + std::to_string(info.param.pageSize) + "_n" +
                                    std::to_string(info.param.records);
                         });

}  // namespace
