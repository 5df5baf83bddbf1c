// The ordered writer behind btrexport's key order: rows come out in the order
// given whichever thread made them, and a row that fails ends the output right
// before it, in whatever block and thread it falls.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "btrieve/file.h"
#include "btrieve/writer.h"
#include "tools/btrexport_emit.h"

namespace fs = std::filesystem;
using btrieve::RecordAddress;
using btrieve::Status;

namespace {

class BtrexportEmit : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("btrexport-emit-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        const std::string path = (dir_ / "rows.dat").string();
        // 30,000 records of 12 bytes: a serial number and filler. No key: the
        // order is the test's own.
        btrieve::WriterOptions o;
        o.recordLength = 12;
        o.deletedRecords = 20;
        std::vector<std::string> recs;
        for (uint32_t i = 0; i < 30000; ++i) {
            std::string r(12, 'x');
            std::memcpy(r.data(), &i, 4);
            recs.push_back(r);
        }
        ASSERT_EQ(btrieve::writeFile(path, o, recs), Status::Success);
        ASSERT_EQ(btrieve::File::open(path, file_), Status::Success);
        ASSERT_EQ(file_->forEachRecordView([&](RecordAddress a, std::string_view) {
            addresses_.push_back(a);
            return true;
        }), Status::Success);
        ASSERT_EQ(addresses_.size(), recs.size());
    }
    void TearDown() override {
        file_.reset();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    static uint32_t serial(std::string_view rec) {
        uint32_t v = 0;
        std::memcpy(&v, rec.data(), 4);
        return v;
    }

    // Emits order through a format writing each record's serial as a line,
    // failing on failAt and taking its time over slowAt; returns what reached
    // the stream.
    std::string emit(const std::vector<RecordAddress>& order, uint32_t failAt, Status& st,
                     uint32_t slowAt = UINT32_MAX) {
        size_t rows = 0;
        return emit(order, failAt, st, rows, slowAt);
    }
    // rows: the rows the emit says it wrote.
    std::string emit(const std::vector<RecordAddress>& order, uint32_t failAt, Status& st, size_t& rows,
                     uint32_t slowAt = UINT32_MAX) {
        std::FILE* stream = std::tmpfile();
        EXPECT_NE(stream, nullptr);
        {
            btrexport::Out out(stream);
            st = btrexport::emitInOrder(*file_, order, out, [&](csvout::Buffer& b, std::string_view rec,
                                                                btrieve::Value&) {
                const uint32_t s = serial(rec);
                if (s == failAt) return Status::Corrupt;
                if (s == slowAt) std::this_thread::sleep_for(std::chrono::milliseconds(50));
                b.append(std::to_string(s) + "\n");
                return Status::Success;
            }, &rows);
            EXPECT_TRUE(out.finish());
        }
        std::string got;
        std::rewind(stream);
        char buf[65536];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, stream)) > 0;) got.append(buf, n);
        std::fclose(stream);
        return got;
    }

    std::string linesOf(const std::vector<RecordAddress>& order, size_t count) const {
        std::string s;
        std::string scratch;
        for (size_t i = 0; i < count; ++i) {
            std::string_view rec;
            EXPECT_EQ(file_->readRecordView(order[i], rec, scratch), Status::Success);
            s += std::to_string(serial(rec)) + "\n";
        }
        return s;
    }

    fs::path dir_;
    std::unique_ptr<btrieve::File> file_;
    std::vector<RecordAddress> addresses_;
};

}  // namespace

TEST_F(BtrexportEmit, RowsComeOutInTheOrderGiven) {
    // Shuffled addresses, so that every block is read far from the order it is
    // written in; also an order shorter than a block, and none at all. The first
    // row is slow to make, so that later blocks are done before the first.
    std::vector<RecordAddress> order = addresses_;
    std::mt19937 rng(4);
    std::shuffle(order.begin(), order.end(), rng);
    std::string scratch;
    std::string_view first;
    ASSERT_EQ(file_->readRecordView(order[0], first, scratch), Status::Success);
    for (size_t count : {order.size(), size_t{5000}, size_t{3}, size_t{0}}) {
        const std::vector<RecordAddress> part(order.begin(), order.begin() + static_cast<long>(count));
        Status st = Status::IoError;
        EXPECT_TRUE(emit(part, UINT32_MAX, st, serial(first)) == linesOf(part, count)) << count;
        EXPECT_EQ(st, Status::Success);
    }
}

TEST_F(BtrexportEmit, AFailingRowEndsTheOutputRightBeforeIt) {
    std::vector<RecordAddress> order = addresses_;
    std::reverse(order.begin(), order.end());
    // Rows early in the first block, in later blocks of either thread, and the
    // very last one.
    for (size_t at : {size_t{0}, size_t{17}, size_t{4096}, size_t{9000}, size_t{13000}, order.size() - 1}) {
        std::string scratch;
        std::string_view rec;
        ASSERT_EQ(file_->readRecordView(order[at], rec, scratch), Status::Success);
        Status st = Status::Success;
        size_t rows = 0;
        EXPECT_TRUE(emit(order, serial(rec), st, rows) == linesOf(order, at)) << at;
        EXPECT_EQ(st, Status::Corrupt) << at;
        EXPECT_EQ(rows, at);
    }
}
