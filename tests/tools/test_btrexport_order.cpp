// btrexport's key order on a file large enough that the rows go out in several
// blocks from both threads, each block read in address order and put back: the
// lines must be the records in a stable sort by key.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "btrieve/file.h"
#include "btrieve/writer.h"
#include "tests/btrieve/key_segment.h"
#include "tests/support/run_shell.h"

namespace fs = std::filesystem;

namespace {

std::string hexLine(const std::string& r) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (unsigned char c : r) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s + "\n";
}

}  // namespace

TEST(BtrexportOrder, ManyBlocksComeOutInStableKeyOrder) {
    const fs::path dir = fs::temp_directory_path() / ("btrexport-order-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string path = (dir / "many.dat").string();

    // 150,000 records of 16 bytes: a serial, then a signed 16-bit key with many
    // duplicates (negative ones too), so that equal keys span blocks.
    btrieve::WriterOptions o;
    o.recordLength = 16;
    o.deletedRecords = 50;
    o.keys.push_back({{testkeys::keySegment(4, 2, btrieve::DataType::Integer, btrieve::keyflag::Duplicates)}});
    std::mt19937 rng(9);
    std::vector<std::string> recs;
    for (uint32_t i = 0; i < 150000; ++i) {
        std::string r(16, static_cast<char>('a' + i % 26));
        std::memcpy(r.data(), &i, 4);
        const int16_t key = static_cast<int16_t>(static_cast<int>(rng() % 3000) - 1500);
        std::memcpy(r.data() + 4, &key, 2);
        recs.push_back(r);
    }
    ASSERT_EQ(btrieve::writeFile(path, o, recs), btrieve::Status::Success);

    // Expected: physical order as the reader gives it, stably sorted by key.
    std::unique_ptr<btrieve::File> f;
    ASSERT_EQ(btrieve::File::open(path, f), btrieve::Status::Success);
    std::vector<std::string> physical;
    ASSERT_EQ(f->forEachRecord([&](btrieve::RecordAddress, const std::string& r) {
        physical.push_back(r);
        return true;
    }), btrieve::Status::Success);
    ASSERT_EQ(physical.size(), recs.size());
    std::stable_sort(physical.begin(), physical.end(), [](const std::string& a, const std::string& b) {
        int16_t x, y;
        std::memcpy(&x, a.data() + 4, 2);
        std::memcpy(&y, b.data() + 4, 2);
        return x < y;
    });
    std::string expected;
    for (const auto& r : physical) expected += hexLine(r);

    const std::string out = (dir / "out").string();
    const std::string cmd = std::string(BTREXPORT_PATH) + " --raw '" + path + "' > '" + out + "'";
    const int status = testsupport::runShell(cmd);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::ifstream in(out, std::ios::binary);
    const std::string got((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected) << "key order differs";
    std::error_code ec;
    fs::remove_all(dir, ec);
}
