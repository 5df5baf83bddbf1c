// Helpers for the file-reader tests: where the real sample files live, scratch
// copies in a temporary folder (the samples themselves are read-only and read in
// place), byte patches, and reading every record of a file.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "btrieve/file.h"
#include "btrieve/writer.h"
#include "key_segment.h"

namespace filetest {

namespace fs = std::filesystem;

inline std::string corpusDir() { return CORPUS_DIR; }

inline std::string corpus(const std::string& rel) { return corpusDir() + "/" + rel; }

// Skips the calling test on Windows, where company files are read without a memory
// mapping (a view would keep their writer from shortening them and a restore from
// replacing them): the test is about the mapping.
#ifdef _WIN32
#define SKIP_WHERE_FILES_ARE_NOT_MAPPED() \
    GTEST_SKIP() << "company files are never mapped on Windows: this tests the mapping"
#else
#define SKIP_WHERE_FILES_ARE_NOT_MAPPED() (void)0
#endif

// Skips the calling test when a sample file is missing, saying which.
#define REQUIRE_CORPUS(rel)                                                             \
    do {                                                                               \
        if (!std::filesystem::exists(::filetest::corpus(rel)))                         \
            GTEST_SKIP() << "sample file missing: " << ::filetest::corpus(rel);       \
    } while (0)

inline std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeAll(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A fresh folder under the system temporary directory, removed with its contents.
class TempDir {
public:
    TempDir() {
        std::random_device rd;
        path_ = fs::temp_directory_path() / ("btrfile-" + std::to_string(rd()) + std::to_string(rd()));
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name) const { return (path_ / name).string(); }
    // Writes bytes to a new file in the folder and returns its path.
    std::string put(const std::string& name, const std::string& bytes) const {
        writeAll(file(name), bytes);
        return file(name);
    }

private:
    fs::path path_;
};

inline void putU16(std::string& b, size_t at, uint16_t v) {
    b.at(at) = static_cast<char>(v & 0xFF);
    b.at(at + 1) = static_cast<char>(v >> 8);
}
inline void putU32(std::string& b, size_t at, uint32_t v) {
    putU16(b, at, static_cast<uint16_t>(v));
    putU16(b, at + 2, static_cast<uint16_t>(v >> 16));
}
// High word first, as Btrieve stores counts and pre-6 pointers.
inline void putSwapped32(std::string& b, size_t at, uint32_t v) {
    putU16(b, at, static_cast<uint16_t>(v >> 16));
    putU16(b, at + 2, static_cast<uint16_t>(v));
}
inline uint16_t getU16(const std::string& b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b.at(at)) | static_cast<uint8_t>(b.at(at + 1)) << 8);
}

struct ReadResult {
    btrieve::Status open = btrieve::Status::Success;
    btrieve::Status scan = btrieve::Status::Success;
    std::vector<btrieve::RecordAddress> addresses;
    std::vector<std::string> records;
    uint64_t pageReads = 0;
};

// Opens path and reads every record; the statuses say how far it got.
inline ReadResult readFile(const std::string& path) {
    ReadResult r;
    std::unique_ptr<btrieve::File> f;
    r.open = btrieve::File::open(path, f);
    if (!btrieve::ok(r.open)) return r;
    r.scan = f->forEachRecord([&](btrieve::RecordAddress a, const std::string& rec) {
        r.addresses.push_back(a);
        r.records.push_back(rec);
        return true;
    });
    r.pageReads = f->pageReads();
    return r;
}

// Writes a 6.x file of n records of length bytes (every third one up to 299 bytes
// longer when variable) whose first four bytes are a unique u32 key and whose other
// bytes are a letter; deleted records leave that many free slots behind.
inline std::string writeNumberedFile(const TempDir& dir, const std::string& name, uint32_t pageSize,
                                     uint32_t length, uint32_t n, uint32_t deleted, bool variable = false) {
    btrieve::WriterOptions o;
    o.pageSize = pageSize;
    o.recordLength = length;
    o.variable = variable;
    o.deletedRecords = deleted;
    o.keys.push_back({{testkeys::keySegment(0, 4, btrieve::DataType::UnsignedBinary)}});
    std::vector<std::string> recs;
    for (uint32_t i = 0; i < n; ++i) {
        std::string r(variable && i % 3 == 0 ? length + i % 300 : length, static_cast<char>('a' + i % 26));
        std::memcpy(r.data(), &i, 4);
        recs.push_back(r);
    }
    const std::string path = dir.file(name);
    EXPECT_EQ(btrieve::writeFile(path, o, recs), btrieve::Status::Success);
    return path;
}

// Opens path, mapped or read with pread alone; st gets the open's status.
inline std::unique_ptr<btrieve::File> openFile(const std::string& path, bool map, btrieve::Status& st) {
    std::unique_ptr<btrieve::File> f;
    btrieve::OpenOptions o;
    o.mapFile = map;
    st = btrieve::File::open(path, f, o);
    return f;
}

}  // namespace filetest
