// Helpers for the file-reader tests: where the real sample files live, scratch
// copies in a temporary folder (the samples themselves are read-only and read in
// place), byte patches, and reading every record of a file.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "btrieve/file.h"

namespace filetest {

namespace fs = std::filesystem;

inline std::string corpusDir() {
#ifdef CORPUS_DIR
    return CORPUS_DIR;
#else
    return "../shared/btrieve/corpus";
#endif
}

inline std::string corpus(const std::string& rel) { return corpusDir() + "/" + rel; }

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

}  // namespace filetest
