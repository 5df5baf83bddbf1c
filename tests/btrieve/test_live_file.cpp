// A file another program changes while it is open: written afresh and put in its
// place, committed to in place, cut short, grown. The table takes up each new
// version at its next move and goes on from the record it stood on.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <unistd.h>

#include "btrieve/committer.h"
#include "btrieve/file.h"
#include "btrieve/pages.h"
#include "btrieve/table.h"
#include "btrieve/writer.h"
#include "test_file_util.h"
#include "key_segment.h"

namespace {

using namespace btrieve;
using filetest::TempDir;

constexpr uint32_t kRecordLength = 32;

// A record: an 8-byte ID (the key, blank-padded) and a name.
std::string record(const std::string& id, const std::string& name) {
    std::string r(kRecordLength, '\0');
    r.replace(0, 8, (id + std::string(8, ' ')).substr(0, 8));
    r.replace(8, std::min<size_t>(name.size(), 24), name.substr(0, 24));
    return r;
}
std::string idOf(const std::string& rec) { return rec.substr(0, std::min(rec.find(' '), rec.size())); }
std::string nameOf(const std::string& rec) {
    const std::string n = rec.substr(8);
    return n.substr(0, n.find('\0'));
}

WriterOptions options() {
    WriterOptions o;
    o.recordLength = kRecordLength;
    o.pageSize = 512;
    o.keys.push_back(WriterKey{{testkeys::keySegment(0, 8, DataType::String)}});
    return o;
}

std::string idNumber(int i) {
    char id[16];
    std::snprintf(id, sizeof id, "C%03d", i);
    return id;
}

// Customers C001 ... Cn named "first".
std::vector<std::string> customers(int n, const std::string& name = "first") {
    std::vector<std::string> out;
    for (int i = 1; i <= n; ++i) out.push_back(record(idNumber(i), name));
    return out;
}

std::string written(const TempDir& dir, const std::string& name, const std::vector<std::string>& records) {
    const std::string path = dir.file(name);
    std::filesystem::remove(path);
    EXPECT_EQ(writeFile(path, options(), records), Status::Success);
    return path;
}

// A file looks at its path once every kPathLookMicroseconds at most: a change the
// usage counts do not show (another file at the path, a rewrite with the same
// counts) is seen once that time has passed.
void pastPathLook() {
    std::this_thread::sleep_for(std::chrono::microseconds(2 * File::kPathLookMicroseconds));
}

// Puts a new version in place of path the way a restore does: another file renamed over it.
void replace(const TempDir& dir, const std::string& path, const std::vector<std::string>& records) {
    const std::string next = written(dir, "next.dat", records);
    std::error_code ec;
#ifdef _WIN32
    // Windows refuses a rename over a file another program holds open: the restore
    // moves the open file aside first, then puts the new one in its place.
    std::filesystem::rename(path, path + ".old", ec);
    ASSERT_FALSE(ec) << ec.message();
#endif
    std::filesystem::rename(next, path, ec);
    ASSERT_FALSE(ec) << ec.message();
    pastPathLook();
}

// Writes a new version over the same file (same inode), as an engine's writes do.
void overwrite(const TempDir& dir, const std::string& path, const std::vector<std::string>& records) {
    const std::string bytes = filetest::readAll(written(dir, "next.dat", records));
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    f.close();
    pastPathLook();
}

std::shared_ptr<const File> opened(const std::string& path, bool map = true) {
    std::unique_ptr<File> f;
    OpenOptions o;
    o.mapFile = map;
    EXPECT_EQ(File::open(path, f, o), Status::Success);
    return std::shared_ptr<const File>(std::move(f));
}

std::string currentId(const Table& t) { return idOf(t.currentRecord()); }

TEST(LiveFile, AnUnchangedFileIsNeverReadAfresh) {
    TempDir dir;
    const std::string path = written(dir, "c.dat", customers(20));
    Table t(opened(path));
    ASSERT_EQ(t.moveFirst(), Status::Success);
    while (t.moveNext() == Status::Success) {}
    EXPECT_EQ(t.seek(SeekOp::Eq, "C007"), Status::Success);
    uint64_t n = 0;
    EXPECT_EQ(t.countRecords(n), Status::Success);
    EXPECT_EQ(n, 20u);
    EXPECT_EQ(t.generation(), 0u);
    bool changed = true;
    EXPECT_EQ(t.source()->checkChanged(changed), Status::Success);
    EXPECT_FALSE(changed);
}

// A restored backup: a different file (another inode) at the path, where the
// record on show was updated, its neighbour deleted and a customer added.
TEST(LiveFile, AFileReplacedByAnotherIsFollowedFromTheRecordOnShow) {
    for (bool map : {true, false}) {
        SCOPED_TRACE(map ? "mapped" : "pread");
        TempDir dir;
        const std::string path = written(dir, "c.dat", customers(10));
        Table t(opened(path, map));
        ASSERT_EQ(t.seek(SeekOp::Eq, "C002"), Status::Success);

        auto next = customers(10);
        next[1] = record("C002", "renamed");
        next.erase(next.begin() + 2);             // C03 gone
        next.push_back(record("C011", "new"));
        replace(dir, path, next);

        ASSERT_EQ(t.moveNext(), Status::Success);
        EXPECT_EQ(currentId(t), "C004");
        EXPECT_EQ(t.generation(), 1u);
        ASSERT_EQ(t.movePrevious(), Status::Success);
        EXPECT_EQ(currentId(t), "C002");
        EXPECT_EQ(nameOf(t.currentRecord()), "renamed");
        ASSERT_EQ(t.moveLast(), Status::Success);
        EXPECT_EQ(currentId(t), "C011");
        uint64_t n = 0;
        EXPECT_EQ(t.countRecords(n), Status::Success);
        EXPECT_EQ(n, 10u);
        EXPECT_EQ(t.generation(), 1u);
    }
}

TEST(LiveFile, ARecordDeletedWhileOnShowLeavesMovesGoingToItsNeighbours) {
    TempDir dir;
    const std::string path = written(dir, "c.dat", customers(6));
    Table t(opened(path));
    ASSERT_EQ(t.seek(SeekOp::Eq, "C003"), Status::Success);
    auto next = customers(6);
    next.erase(next.begin() + 2);
    overwrite(dir, path, next);

    // Its bytes stay on show until the next move.
    ASSERT_EQ(t.moveNext(), Status::Success);
    EXPECT_EQ(currentId(t), "C004");

    ASSERT_EQ(t.seek(SeekOp::Eq, "C004"), Status::Success);
    auto fewer = next;
    fewer.erase(fewer.begin() + 2);  // C04 goes too
    overwrite(dir, path, fewer);
    ASSERT_EQ(t.movePrevious(), Status::Success);
    EXPECT_EQ(currentId(t), "C002");

    // The last record deleted: ">" has nowhere to go and "<" still finds the one before.
    ASSERT_EQ(t.moveLast(), Status::Success);
    fewer.pop_back();
    overwrite(dir, path, fewer);
    EXPECT_EQ(t.moveNext(), Status::EndOfFile);
    ASSERT_EQ(t.movePrevious(), Status::Success);
    EXPECT_EQ(currentId(t), "C005");
}

// Grown in place (same inode, more pages than were mapped at open): the new
// records and pages are read, mapped or not.
TEST(LiveFile, AFileGrownInPlaceShowsItsNewRecords) {
    for (bool map : {true, false}) {
        SCOPED_TRACE(map ? "mapped" : "pread");
        TempDir dir;
        const std::string path = written(dir, "c.dat", customers(5));
        Table t(opened(path, map));
        ASSERT_EQ(t.moveFirst(), Status::Success);
        const auto before = std::filesystem::file_size(path);
        overwrite(dir, path, customers(300, "grown"));
        ASSERT_GT(std::filesystem::file_size(path), before);

        ASSERT_EQ(t.moveLast(), Status::Success);
        EXPECT_EQ(currentId(t), "C300");
        ASSERT_EQ(t.seek(SeekOp::Eq, "C150"), Status::Success);
        EXPECT_EQ(nameOf(t.currentRecord()), "grown");
        uint64_t n = 0;
        EXPECT_EQ(t.countRecords(n), Status::Success);
        EXPECT_EQ(n, 300u);
    }
}

// Cut short in place: the next move reports the cut (never a crash, never a record
// read from the lost pages), and keeps doing so.
TEST(LiveFile, AFileCutShortWhileOpenReportsTruncated) {
    for (bool map : {true, false}) {
        SCOPED_TRACE(map ? "mapped" : "pread");
        TempDir dir;
        const std::string path = written(dir, "c.dat", customers(300));
        Table t(opened(path, map));
        ASSERT_EQ(t.seek(SeekOp::Eq, "C100"), Status::Success);
        const std::string onShow = t.currentRecord();
        ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(std::filesystem::file_size(path) / 2)), 0);
        pastPathLook();

        for (int i = 0; i < 2; ++i) {
            const Status st = t.moveLast();
            EXPECT_TRUE(st == Status::Truncated || st == Status::Corrupt) << statusText(st);
        }
        EXPECT_EQ(t.currentRecord(), onShow);
        uint64_t n = 0;
        EXPECT_NE(t.countRecords(n), Status::Success);
    }
}

TEST(LiveFile, AFileRemovedFromThePathReportsNotFoundAndComesBackWhenRestored) {
    TempDir dir;
    const std::string path = written(dir, "c.dat", customers(5));
    Table t(opened(path));
    ASSERT_EQ(t.moveFirst(), Status::Success);
    std::filesystem::rename(path, dir.file("away.dat"));
    pastPathLook();
    EXPECT_EQ(t.moveNext(), Status::FileNotFound);
    EXPECT_EQ(currentId(t), "C001");
    std::filesystem::rename(dir.file("away.dat"), path);
    pastPathLook();
    ASSERT_EQ(t.moveNext(), Status::Success);
    EXPECT_EQ(currentId(t), "C002");
}

// A commit changes the current control record copy's usage count; a change of the
// other copy's count, or of the first page-table pair's, counts too.
TEST(LiveFile, ACommitMarkIsSeenInEitherControlRecordCopyOrPageTable) {
    TempDir dir;
    const std::string original = filetest::readAll(written(dir, "c.dat", customers(5)));
    for (size_t at : {size_t{0x04}, size_t{512 + 0x04}, size_t{2 * 512 + 4}, size_t{3 * 512 + 4}}) {
        SCOPED_TRACE(at);
        const std::string path = dir.put("m.dat", original);
        auto file = opened(path);
        bool changed = true;
        ASSERT_EQ(file->checkChanged(changed), Status::Success);
        EXPECT_FALSE(changed);
        std::string bytes = original;
        bytes[at] = static_cast<char>(bytes[at] + 1);
        std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
        f.seekp(static_cast<std::streamoff>(at));
        f.put(bytes[at]);
        f.close();
        ASSERT_EQ(file->checkCommitted(changed), Status::Success);
        EXPECT_TRUE(changed);
        pastPathLook();
        ASSERT_EQ(file->checkChanged(changed), Status::Success);
        EXPECT_TRUE(changed);
    }
}

TEST(LiveFile, APre6ControlRecordWrittenInPlaceIsSeen) {
    REQUIRE_CORPUS("mbbsemu/MBBSEMU.DAT");
    TempDir dir;
    const std::string path = dir.put("old.dat", filetest::readAll(filetest::corpus("mbbsemu/MBBSEMU.DAT")));
    auto file = opened(path);
    bool changed = true;
    ASSERT_EQ(file->checkChanged(changed), Status::Success);
    EXPECT_FALSE(changed);
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(0x04);
    f.put('\x09');  // the update counter
    f.close();
    ASSERT_EQ(file->checkCommitted(changed), Status::Success);
    EXPECT_TRUE(changed);
}

// A commit that stopped after writing its page tables (the writing program ended
// before its control record): its tables carry a usage count above the current
// control record's, and a reader, kept open or fresh, keeps to the version before.
TEST(LiveFile, ACommitCutShortAfterItsPageTablesLeavesTheVersionBefore) {
    TempDir dir;
    const std::string path = written(dir, "c.dat", customers(200));
    Table kept(opened(path));
    ASSERT_EQ(kept.moveFirst(), Status::Success);
    std::unique_ptr<Committer> c;
    ASSERT_EQ(Committer::open(path, c), Status::Success);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(c->erase(0), Status::Success);
    c->insert(record("C999", "never committed"));
    ASSERT_EQ(c->commit(nullptr, [](CommitStep s) { return s == CommitStep::PageTables; }), Status::Success);
    pastPathLook();

    Table fresh(opened(path));
    for (Table* t : {&kept, &fresh}) {
        uint64_t n = 0;
        EXPECT_EQ(t->countRecords(n), Status::Success);
        EXPECT_EQ(n, 200u);
        ASSERT_EQ(t->moveLast(), Status::Success);
        EXPECT_EQ(currentId(*t), "C200");
        EXPECT_EQ(t->seek(SeekOp::Eq, "C001"), Status::Success);
    }
}

// A file opened by a relative path is looked at, and opened afresh, where the path
// pointed at open, after the process has changed its current folder.
TEST(LiveFile, AFileOpenedByARelativePathIsFollowedAfterTheCurrentFolderChanges) {
    TempDir dir;
    const std::string path = written(dir, "c.dat", customers(5));
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::path(path).parent_path());
    Table t(opened("c.dat"));
    std::filesystem::current_path(before);
    ASSERT_EQ(t.moveFirst(), Status::Success);
    replace(dir, path, customers(7));
    ASSERT_EQ(t.moveLast(), Status::Success);
    EXPECT_EQ(currentId(t), "C007");
}

// A source that never holds still: every call is undone and tried again a bounded
// number of times, then Conflict, standing where it stood.
class RestlessSource : public RecordSource {
public:
    explicit RestlessSource(std::shared_ptr<const File> file) : file_(std::move(file)) {}
    const FileInfo& info() const override { return file_->info(); }
    Status forEachRecord(const std::function<bool(RecordAddress, const std::string&)>& visit) const override {
        return file_->forEachRecord(visit);
    }
    Status readRecord(RecordAddress addr, std::string& out) const override { return file_->readRecord(addr, out); }
    Status checkChanged(bool& changed) const override {
        ++checks;
        changed = restless;
        return Status::Success;
    }
    Status reopen(std::shared_ptr<const RecordSource>& out) const override {
        ++reopens;
        out = std::make_shared<RestlessSource>(*this);
        return Status::Success;
    }
    static inline int checks = 0, reopens = 0;
    static inline bool restless = false;

private:
    std::shared_ptr<const File> file_;
};

TEST(LiveFile, ReadsThatNeverHoldStillEndInConflictWhereTheTableStood) {
    TempDir dir;
    const std::string path = written(dir, "c.dat", customers(10));
    Table t(std::make_shared<RestlessSource>(opened(path)));
    RestlessSource::restless = false;
    ASSERT_EQ(t.seek(SeekOp::Eq, "C004"), Status::Success);
    RestlessSource::restless = true;
    RestlessSource::checks = RestlessSource::reopens = 0;
    EXPECT_EQ(t.moveNext(), Status::Conflict);
    EXPECT_GE(RestlessSource::reopens, 5);
    EXPECT_LE(RestlessSource::reopens, 20);
    EXPECT_EQ(currentId(t), "C004");
    RestlessSource::restless = false;
    ASSERT_EQ(t.moveNext(), Status::Success);
    EXPECT_EQ(currentId(t), "C005");
}

TEST(LiveFile, NetworkFilesystemsAreReadWithPread) {
    EXPECT_TRUE(detail::networkFilesystem(0x6969));       // NFS
    EXPECT_TRUE(detail::networkFilesystem(0xFF534D42));   // CIFS
    EXPECT_TRUE(detail::networkFilesystem(0xFE534D42));   // SMB2
    EXPECT_TRUE(detail::networkFilesystem(0x517B));       // SMB
    EXPECT_FALSE(detail::networkFilesystem(0xEF53));      // ext4
    EXPECT_FALSE(detail::networkFilesystem(0x01021994));  // tmpfs

    TempDir dir;
    const std::string path = written(dir, "c.dat", customers(3));
    EXPECT_EQ(static_cast<const File&>(*opened(path, false)).readMethod(), "pread (asked for)");
    ::setenv("BTRIEVE_READS", "pread", 1);
    auto forced = opened(path);
    ::unsetenv("BTRIEVE_READS");
    EXPECT_EQ(forced->readMethod(), "pread (asked for)");
    EXPECT_FALSE(forced->mapped());
#ifdef _WIN32
    EXPECT_EQ(opened(path)->readMethod(), "pread (the file cannot be mapped)");  // never mapped there
#else
    EXPECT_EQ(opened(path)->readMethod(), "mapping and pread");
#endif
}

}  // namespace
