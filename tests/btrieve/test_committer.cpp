// The committer: each version it commits reads back whole through a fresh open
// (scan, the file's own B-trees and the in-memory index), and the version before
// stays intact on disk until the new FCR is written.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <set>

#include "btrieve/committer.h"
#include "btrieve/file.h"
#include "btrieve/index.h"
#include "btrieve/keys.h"
#include "btrieve/table.h"
#include "btrieve/value.h"
#include "test_file_util.h"
#include "tests/data/company_files.h"
#include "tests/live/live_records.h"

using namespace btrieve;
using filetest::TempDir;

namespace {

std::string withField(std::string rec, const layouts::Layout& l, const char* field, const Value& v) {
    EXPECT_EQ(encodeField(*l.field(field), v, rec), Status::Success) << field;
    return rec;
}

std::string customer(int n, const std::string& name, const std::string& phone, double balance) {
    const auto& l = layouts::customer();
    std::string r(l.recordLength, '\0');
    r = withField(r, l, "custID", std::string("C") + std::to_string(1000 + n));
    r = withField(r, l, "BillName", name);
    r = withField(r, l, "Phone", phone);
    r = withField(r, l, "ARbalance", balance);
    return withField(r, l, "nindex", int64_t{n});
}

std::string invoice(int16_t nindex, int serial, double amount) {
    const auto& l = layouts::journal();
    std::string r(l.recordLength, '\0');
    r = withField(r, l, "nindex", int64_t{nindex});
    r = withField(r, l, "InvNumber", "INV-" + std::to_string(serial));
    r = withField(r, l, "ARamount", amount);
    return withField(r, l, "Date", Date{2003, 4, 1 + serial % 28});
}

// n invoices spread over customers nindex 0 .. customers - 1.
std::vector<std::string> invoices(int n, int customers) {
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) out.push_back(invoice(static_cast<int16_t>(i % customers), i, i * 1.25));
    return out;
}

std::vector<uint64_t> digests(const std::vector<std::string>& records) {
    std::vector<uint64_t> d;
    for (const auto& r : records) d.push_back(live::digest(r));
    return d;
}

std::string written(const TempDir& dir, const std::string& name, WriterOptions o,
                    const std::vector<std::string>& records) {
    const std::string path = dir.file(name);
    EXPECT_EQ(writeFile(path, o, records), Status::Success) << name;
    return path;
}

// A fresh open of path reads exactly expected: in slot order by a scan, and in
// each key's order (duplicates in slot order) through the file's own tree and
// through the in-memory index.
void expectReads(const std::string& path, const std::vector<std::string>& expected, const std::string& what) {
    std::unique_ptr<File> opened;
    ASSERT_EQ(File::open(path, opened), Status::Success) << what;
    std::shared_ptr<const File> f(std::move(opened));
    EXPECT_EQ(f->info().recordCount, expected.size()) << what;
    std::vector<std::string> scanned;
    ASSERT_EQ(f->forEachRecord([&](RecordAddress, const std::string& r) {
                  scanned.push_back(r);
                  return true;
              }),
              Status::Success)
        << what;
    EXPECT_EQ(digests(scanned), digests(expected)) << what << ": scan";
    for (const KeySpec& key : f->info().keys) {
        std::vector<std::string> want = expected;
        std::stable_sort(want.begin(), want.end(), [&](const std::string& a, const std::string& b) {
            return compareKeys(key, f->info(), extractKey(key, a), extractKey(key, b)) < 0;
        });
        for (bool fileTree : {true, false}) {
            Table t(f);
            if (!fileTree) t.setIndexFactory(makeMemoryIndex);
            ASSERT_EQ(t.setActiveKey(key.number), Status::Success);
            std::vector<std::string> got;
            Status s = t.moveFirst();
            for (; ok(s); s = t.moveNext()) got.push_back(t.currentRecord());
            EXPECT_EQ(s, expected.empty() ? s : Status::EndOfFile) << what;
            if (fileTree) {
                EXPECT_EQ(t.indexDescription(key.number), "file B-tree") << what << " key " << key.number;
            }
            EXPECT_EQ(digests(got), digests(want)) << what << " key " << key.number << (fileTree ? " tree" : " memory");
        }
    }
}

std::unique_ptr<Committer> openCommitter(const std::string& path, const CommitterOptions& options = {}) {
    std::unique_ptr<Committer> c;
    EXPECT_EQ(Committer::open(path, c, options), Status::Success) << path;
    return c;
}

TEST(Committer, CustomerInsertsUpdatesAndDeletesReadAfreshInKeyOrder) {
    TempDir dir;
    std::vector<std::string> start;
    for (int i = 0; i < 40; ++i)
        start.push_back(customer(i, "Name " + std::to_string(i % 7), "555-01" + std::to_string(i % 5), i * 10.5));
    WriterOptions o = testdata::optionsFor(layouts::customer());
    o.deletedRecords = 3;
    o.seed = 5;
    const std::string path = written(dir, "customer.dat", o, start);
    auto c = openCommitter(path);
    ASSERT_TRUE(c);
    EXPECT_EQ(digests(c->records()), digests(start));
    const uint32_t before = c->usage();

    c->insert(customer(100, "Name 3", "555-0100", 1.0));  // joins a BillName chain
    c->insert(customer(101, "Aaron", "555-0199", 2.0));
    ASSERT_EQ(c->update(5, customer(5, "Zed", "555-0101", 50.0)), Status::Success);  // keys move
    ASSERT_EQ(c->erase(12), Status::Success);
    ASSERT_EQ(c->erase(c->records().size() - 1), Status::Success);
    CommitSummary sum;
    ASSERT_EQ(c->commit(&sum), Status::Success);
    EXPECT_EQ(sum.usage, before + 1);
    EXPECT_EQ(c->usage(), before + 1);
    expectReads(path, c->records(), "first commit");

    // A balance alone changes one data page: no key, so no index page.
    ASSERT_EQ(c->update(0, customer(0, "Name 0", "555-010", 99.25)), Status::Success);
    ASSERT_EQ(c->commit(&sum), Status::Success);
    EXPECT_EQ(sum.pagesWritten, 1u);
    expectReads(path, c->records(), "balance update");

    // Every record gone, then one back.
    while (!c->records().empty()) ASSERT_EQ(c->erase(0), Status::Success);
    ASSERT_EQ(c->commit(), Status::Success);
    expectReads(path, c->records(), "emptied");
    c->insert(customer(7, "Back", "555-0107", 7.0));
    ASSERT_EQ(c->commit(), Status::Success);
    expectReads(path, c->records(), "one back");
}

TEST(Committer, JournalChainsAndTreesFollowRandomCommitsInBoundedSpace) {
    TempDir dir;
    const std::vector<std::string> start = invoices(300, 20);
    WriterOptions o = testdata::optionsFor(layouts::journal(), true);
    o.deletedRecords = 4;
    const std::string path = written(dir, "journal.dat", o, start);
    auto c = openCommitter(path);
    ASSERT_TRUE(c);
    std::mt19937 rng(7);
    int serial = 1000;
    uint32_t mostPages = 0;
    for (int commit = 0; commit < 60; ++commit) {
        for (int change = 0; change < 1 + commit % 4; ++change) {
            const size_t n = c->records().size();
            const int op = static_cast<int>(rng() % 3);
            const auto nindex = static_cast<int16_t>(rng() % 25);
            if (op == 0 || n < 50) c->insert(invoice(nindex, serial++, 5.0));
            else if (op == 1) ASSERT_EQ(c->update(rng() % n, invoice(nindex, serial++, 6.0)), Status::Success);
            else ASSERT_EQ(c->erase(rng() % n), Status::Success);
        }
        CommitSummary sum;
        ASSERT_EQ(c->commit(&sum), Status::Success) << commit;
        mostPages = std::max(mostPages, sum.physicalPages);
        expectReads(path, c->records(), "commit " + std::to_string(commit));
        if (HasFatalFailure() || HasFailure()) return;
    }
    // Pages the versions before used are reused: the file stays near twice the
    // live pages, not one copy per commit.
    EXPECT_LT(mostPages, 80u);
}

// The new version's pages go only where the version before had none: put back the
// old FCR and page tables over the committed file, and the old version reads whole.
TEST(Committer, TheVersionBeforeStaysIntactUnderTheNewOne) {
    TempDir dir;
    const std::vector<std::string> start = invoices(200, 9);
    const std::string path = written(dir, "journal.dat", testdata::optionsFor(layouts::journal(), true), start);
    auto c = openCommitter(path);
    ASSERT_TRUE(c);
    for (int round = 0; round < 5; ++round) {
        const std::string old = filetest::readAll(path);
        const std::vector<std::string> oldRecords = c->records();
        for (int i = 0; i < 20; ++i) c->insert(invoice(static_cast<int16_t>(i), 5000 + round * 100 + i, 1));
        ASSERT_EQ(c->erase(3 + round), Status::Success);
        ASSERT_EQ(c->update(50, invoice(4, 9000 + round, 2)), Status::Success);
        ASSERT_EQ(c->commit(), Status::Success);

        std::string hybrid = filetest::readAll(path);
        ASSERT_GE(hybrid.size(), old.size());
        const size_t ps = 4096;
        for (size_t p = 0; p * ps < old.size(); ++p)
            if (p < 2 || (p - 2) % (ps / 4) < 2) hybrid.replace(p * ps, ps, old, p * ps, ps);
        expectReads(dir.put("hybrid.dat", hybrid), oldRecords, "round " + std::to_string(round));
        expectReads(path, c->records(), "new, round " + std::to_string(round));
    }
}

TEST(Committer, ACommitCutShortLeavesTheVersionBeforeAndTheNextCommitGoesOn) {
    TempDir dir;
    std::vector<std::string> start;
    for (int i = 0; i < 30; ++i) start.push_back(customer(i, "N" + std::to_string(i), "555", i));
    const std::string path = written(dir, "customer.dat", testdata::optionsFor(layouts::customer()), start);
    for (CommitStep step : {CommitStep::Pages, CommitStep::PageTables}) {
        auto c = openCommitter(path, CommitterOptions{.sync = true});
        ASSERT_TRUE(c);
        const std::vector<std::string> before = c->records();
        const uint32_t usage = c->usage();
        c->insert(customer(500, "Lost", "555", 1));
        ASSERT_EQ(c->erase(0), Status::Success);
        ASSERT_EQ(c->commit(nullptr, [&](CommitStep s) { return s == step; }), Status::Success);
        EXPECT_EQ(c->commit(), Status::InvalidOperation);  // open afresh to go on
        if (step == CommitStep::Pages) expectReads(path, before, "stopped after the pages");

        auto again = openCommitter(path);
        ASSERT_TRUE(again);
        EXPECT_EQ(again->usage(), usage);
        EXPECT_EQ(digests(again->records()), digests(before));
        again->insert(customer(600 + static_cast<int>(step), "Kept", "555", 2));
        ASSERT_EQ(again->commit(), Status::Success);
        EXPECT_EQ(again->usage(), usage + 1);
        expectReads(path, again->records(), "after the cut");
    }
}

TEST(Committer, GrowsPastPageTablePairsWithSmallPages) {
    TempDir dir;
    WriterOptions o;
    o.pageSize = 512;
    o.recordLength = 100;
    const KeySegment id{.position = 0, .length = 4, .type = DataType::Integer};
    const KeySegment group{.flags = keyflag::Duplicates, .position = 4, .length = 2, .type = DataType::Integer};
    o.keys = {{{id}}, {{group}}};
    auto record = [](int32_t n) {
        std::string r(100, 'x');
        std::memcpy(r.data(), &n, 4);
        const int16_t g = static_cast<int16_t>(n % 13);
        std::memcpy(r.data() + 4, &g, 2);
        return r;
    };
    std::vector<std::string> start;
    for (int i = 0; i < 10; ++i) start.push_back(record(i));
    const std::string path = written(dir, "small.dat", o, start);
    auto c = openCommitter(path);
    ASSERT_TRUE(c);
    int next = 10;
    CommitSummary sum;
    // A 512-byte page table maps 126 pages; 4 records a page: 1200 records need
    // more than two pairs.
    for (int commit = 0; commit < 12; ++commit) {
        for (int i = 0; i < 100; ++i) c->insert(record(next++));
        ASSERT_EQ(c->erase(static_cast<size_t>(commit * 7)), Status::Success);
        ASSERT_EQ(c->commit(&sum), Status::Success);
        expectReads(path, c->records(), "commit " + std::to_string(commit));
        if (HasFailure()) return;
    }
    EXPECT_GT(sum.physicalPages, 2u + 2 * 128u);
}

TEST(Committer, RefusesWhatItCannotCommitAndKeepsTheFile) {
    TempDir dir;
    std::vector<std::string> start = {customer(1, "A", "1", 1), customer(2, "B", "2", 2)};
    const std::string path = written(dir, "customer.dat", testdata::optionsFor(layouts::customer()), start);
    auto c = openCommitter(path);
    ASSERT_TRUE(c);
    const uint32_t usage = c->usage();
    const std::string bytes = filetest::readAll(path);

    c->insert(customer(1, "Again", "3", 3));  // custID is unique
    EXPECT_EQ(c->commit(), Status::InvalidOperation);
    EXPECT_EQ(digests(c->records()), digests(start));  // the change is dropped
    EXPECT_EQ(c->usage(), usage);
    EXPECT_EQ(filetest::readAll(path), bytes);
    c->insert(std::string(10, 'x'));  // the wrong length
    EXPECT_EQ(c->commit(), Status::InvalidOperation);
    EXPECT_EQ(c->update(2, customer(3, "C", "3", 3)), Status::InvalidRecordAddress);
    EXPECT_EQ(c->erase(2), Status::InvalidRecordAddress);
    EXPECT_EQ(filetest::readAll(path), bytes);
    c->insert(customer(3, "C", "3", 3));
    EXPECT_EQ(c->commit(), Status::Success);  // and it goes on

    std::unique_ptr<Committer> none;
    EXPECT_EQ(Committer::open(dir.file("missing.dat"), none), Status::FileNotFound);
    EXPECT_EQ(Committer::open(dir.put("text.dat", std::string(8192, 'a')), none), Status::NotBtrieveFile);
    EXPECT_FALSE(none);
}

// A commit cut short after its page tables: the copies it wrote carry a usage count
// above the current FCR's, so a reader must keep to the copies of the current
// version. Taking the newer copies pairs the old FCR's roots and record count with
// the new version's pages.
TEST(Committer, AReaderKeepsToThePageTablesOfTheCurrentFcr) {
    TempDir dir;
    const std::vector<std::string> start = invoices(200, 9);
    const std::string path = written(dir, "journal.dat", testdata::optionsFor(layouts::journal(), true), start);
    auto c = openCommitter(path);
    ASSERT_TRUE(c);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(c->erase(0), Status::Success);
    ASSERT_EQ(c->commit(nullptr, [](CommitStep s) { return s == CommitStep::PageTables; }), Status::Success);
    expectReads(path, start, "cut after the page tables");
}

}  // namespace
