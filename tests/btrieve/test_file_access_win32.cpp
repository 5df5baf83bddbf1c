// The file-access layer on Windows (Windows builds only): a company file opened
// while its writer holds it, written and deleted while it is open; names beyond
// ASCII; either slash; what is not a file; a file on a network share.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "btrieve/committer.h"
#include "btrieve/file.h"
#include "btrieve/file_access.h"
#include "btrieve/writer.h"
#include "test_file_util.h"
#include "tests/support/run_shell.h"

namespace {

using namespace btrieve;
using filetest::TempDir;

using testsupport::wide;

// Records of 16 bytes keyed on their first 8.
WriterOptions options() {
    WriterOptions o;
    o.recordLength = 16;
    o.pageSize = 512;
    o.keys.push_back({{testkeys::keySegment(0, 8, DataType::String)}});
    return o;
}

std::vector<std::string> records(int n, char fill) {
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) {
        char id[9];
        std::snprintf(id, sizeof id, "K%07d", i);
        out.push_back(std::string(id) + std::string(8, fill));
    }
    return out;
}

std::unique_ptr<File> openOk(const std::string& path) {
    std::unique_ptr<File> f;
    EXPECT_EQ(File::open(path, f), Status::Success) << path;
    return f;
}

// The way a Btrieve engine holds its file: reading and writing, sharing reading
// and writing with others but not deletion.
HANDLE openAsWriter(const std::string& path) {
    return ::CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(Win32FileAccess, AFileHeldByItsWriterOpensAndItsCommitsAreSeen) {
    TempDir dir;
    const std::string path = dir.file("customer.dat");
    ASSERT_EQ(writeFile(path, options(), records(20, 'a')), Status::Success);
    HANDLE writer = openAsWriter(path);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    auto f = openOk(path);  // while the writer holds it
    ASSERT_TRUE(f);
    // The writer opens again while the reader holds it: the reader shares writing.
    HANDLE second = openAsWriter(path);
    EXPECT_NE(second, INVALID_HANDLE_VALUE) << "the reader's handle keeps a writer out";
    if (second != INVALID_HANDLE_VALUE) ::CloseHandle(second);
    ::CloseHandle(writer);

    // A commit in place while the file is open: seen at the next look.
    std::unique_ptr<Committer> c;
    ASSERT_EQ(Committer::open(path, c), Status::Success);
    ASSERT_EQ(c->update(0, records(1, 'z')[0]), Status::Success);
    ASSERT_EQ(c->commit(), Status::Success);
    bool changed = false;
    ASSERT_EQ(f->checkCommitted(changed), Status::Success);
    EXPECT_TRUE(changed);
}

TEST(Win32FileAccess, AFileOpenForReadingMayBeMovedAsideReplacedAndDeleted) {
    TempDir dir;
    const std::string path = dir.file("customer.dat"), next = dir.file("next.dat");
    ASSERT_EQ(writeFile(path, options(), records(5, 'a')), Status::Success);
    ASSERT_EQ(writeFile(next, options(), records(9, 'b')), Status::Success);
    auto f = openOk(path);
    ASSERT_TRUE(f);
    detail::FileFacts before, after;
    ASSERT_EQ(detail::lookAtPath(path, before), Status::Success);
    // A restore: the open file moved aside (the reader shares deletion), another put
    // in its place. Windows itself refuses a rename over a file that is open.
    const std::string aside = dir.file("customer.old");
    ASSERT_TRUE(::MoveFileExW(wide(path).c_str(), wide(aside).c_str(), 0)) << "error " << ::GetLastError();
    ASSERT_TRUE(::MoveFileExW(wide(next).c_str(), wide(path).c_str(), 0)) << "error " << ::GetLastError();
    ASSERT_EQ(detail::lookAtPath(path, after), Status::Success);
    EXPECT_FALSE(before == after) << "the file put in place looks like the one replaced";
    EXPECT_EQ(openOk(path)->info().recordCount, 9u);
    EXPECT_EQ(f->info().recordCount, 5u);  // the open file reads on
    // Deleted while open: the name goes at once or when the last handle closes.
    EXPECT_TRUE(::DeleteFileW(wide(aside).c_str())) << "error " << ::GetLastError();
    EXPECT_EQ(f->info().recordCount, 5u);
}

TEST(Win32FileAccess, NamesBeyondAsciiAndEitherSlash) {
    TempDir dir;
    const std::string folder = dir.file("B\xC3\xBCro \xC3\x86r\xC3\xB8 \xE6\x97\xA5\xE6\x9C\xAC");  // Büro Ærø 日本
    ASSERT_TRUE(::CreateDirectoryW(wide(folder).c_str(), nullptr));
    const std::string path = folder + "\\kunde-\xC3\xA9t\xC3\xA9.dat";
    ASSERT_EQ(writeFile(path, options(), records(3, 'c')), Status::Success);
    EXPECT_TRUE(detail::pathTaken(path));
    EXPECT_EQ(writeFile(path, options(), records(1, 'd')), Status::InvalidOperation);  // never overwritten
    auto f = openOk(path);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->info().recordCount, 3u);
    std::string forward = path;
    std::replace(forward.begin(), forward.end(), '\\', '/');
    detail::FileFacts a, b;
    ASSERT_EQ(detail::lookAtPath(path, a), Status::Success);
    ASSERT_EQ(detail::lookAtPath(forward, b), Status::Success);
    EXPECT_EQ(a, b);
    EXPECT_NE(a.inode, 0u);
    EXPECT_EQ(openOk(forward)->info().recordCount, 3u);
    bool changed = true;
    ASSERT_EQ(f->checkChanged(changed), Status::Success);
    EXPECT_FALSE(changed);
}

TEST(Win32FileAccess, WhatIsNotAFileIsRefused) {
    TempDir dir;
    std::unique_ptr<File> f;
    EXPECT_EQ(File::open(dir.file(""), f), Status::IsDirectory);
    EXPECT_EQ(File::open("NUL", f), Status::IsDevice);
    EXPECT_EQ(File::open(dir.file("missing.dat"), f), Status::FileNotFound);
    EXPECT_EQ(File::open(dir.file("missing\\customer.dat"), f), Status::FileNotFound);
    EXPECT_EQ(File::open(std::string("bad \xFF name.dat"), f), Status::FileNotFound);  // not UTF-8
}

// \\server\share\... : the script maps a share onto a folder where Wine allows it
// (BTRIEVE_TEST_SHARE names the share).
TEST(Win32FileAccess, AFileOnAShareIsReadByReadFileAlone) {
    const char* share = std::getenv("BTRIEVE_TEST_SHARE");
    if (!share || !*share) GTEST_SKIP() << "no network share to test with (BTRIEVE_TEST_SHARE is not set)";
    const std::string path = std::string(share) + "\\share-" + std::to_string(::GetCurrentProcessId()) + ".dat";
    ASSERT_EQ(writeFile(path, options(), records(40, 'e')), Status::Success) << path;
    {
        auto f = openOk(path);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->readMethod(), "pread (network filesystem)");
        const filetest::ReadResult r = filetest::readFile(path);
        EXPECT_EQ(r.scan, Status::Success);
        EXPECT_EQ(r.records.size(), 40u);
    }
    ::DeleteFileW(wide(path).c_str());
}

}  // namespace
