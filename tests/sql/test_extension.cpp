// The extension loaded into SQLite by a C++ program, on every system the engine is
// built for (Windows too, where there is no Python to run the fuller SQL tests):
// a mkcompany company attached, a key lookup and a range answered through the key,
// rows in key order without a sort, the same rows as btrexport --sqlite exported,
// and writes refused.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/run_shell.h"

namespace fs = std::filesystem;

namespace {

class Extension : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new fs::path(fs::temp_directory_path() / ("sql-extension-" + std::to_string(::getpid())));
        fs::remove_all(*dir_);
        fs::create_directories(*dir_);
        ASSERT_EQ(testsupport::runShell(std::string(MKCOMPANY_PATH) + " " + company() +
                                        " --customers 120 --journal-rows 600 --seed 3 >/dev/null"), 0);
        ASSERT_EQ(testsupport::runShell(std::string(BTREXPORT_PATH) + " --ddf " + company() + " --sqlite " +
                                        native() + " 2>/dev/null"), 0);
    }
    static void TearDownTestSuite() {
        fs::remove_all(*dir_);
        delete dir_;
    }
    static std::string company() { return (*dir_ / "co").string(); }
    static std::string native() { return (*dir_ / "native.db").string(); }

    void SetUp() override {
        ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
        sqlite3_enable_load_extension(db_, 1);
        char* err = nullptr;
        ASSERT_EQ(sqlite3_load_extension(db_, BTRIEVE_EXTENSION_PATH, nullptr, &err), SQLITE_OK) << (err ? err : "");
        ASSERT_EQ(rows("SELECT btrieve_attach('" + company() + "')"), std::vector<std::string>{"6"});
        ASSERT_TRUE(rows("ATTACH '" + native() + "' AS n").empty());
    }
    void TearDown() override { sqlite3_close(db_); }

    // Each row's columns joined by '|'; a failed statement gives one row "error: ...".
    std::vector<std::string> rows(const std::string& sql) {
        std::vector<std::string> out;
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
            return {std::string("error: ") + sqlite3_errmsg(db_)};
        int r;
        while ((r = sqlite3_step(st)) == SQLITE_ROW) {
            std::string row;
            for (int c = 0; c < sqlite3_column_count(st); ++c) {
                const auto* text = sqlite3_column_text(st, c);
                row += (c ? "|" : "") + std::string(text ? reinterpret_cast<const char*>(text) : "NULL");
            }
            out.push_back(row);
        }
        if (r != SQLITE_DONE) out.push_back(std::string("error: ") + sqlite3_errmsg(db_));
        sqlite3_finalize(st);
        return out;
    }
    std::string plan(const std::string& sql) {
        std::string all;
        for (const std::string& row : rows("EXPLAIN QUERY PLAN " + sql)) all += row + "\n";
        return all;
    }

    sqlite3* db_ = nullptr;
    static inline fs::path* dir_ = nullptr;
};

TEST_F(Extension, AnswersAsTheExportedCopyDoes) {
    for (const char* sql : {"SELECT * FROM %customer ORDER BY custID",
                            "SELECT custID, BillName FROM %customer WHERE custID >= 'M' AND custID < 'P'",
                            "SELECT count(*), round(sum(ARamount), 2) FROM %journal WHERE nindex BETWEEN 10 AND 40",
                            "SELECT Journalid, count(*), round(sum(AmountReceived), 2) FROM %journal GROUP BY Journalid"}) {
        std::string virtualSql = sql, nativeSql = sql;
        virtualSql.erase(virtualSql.find('%'), 1);
        nativeSql.replace(nativeSql.find('%'), 1, "n.");
        const auto expected = rows(nativeSql);
        EXPECT_FALSE(expected.empty()) << nativeSql;
        EXPECT_EQ(rows(virtualSql), expected) << virtualSql;
    }
    const std::string someId = rows("SELECT custID FROM n.customer LIMIT 1 OFFSET 50").at(0);
    EXPECT_EQ(rows("SELECT count(*) FROM customer WHERE custID = '" + someId + "'"), std::vector<std::string>{"1"});
    EXPECT_NE(plan("SELECT * FROM customer WHERE custID = 'A'").find("INDEX 0:0"), std::string::npos);
    EXPECT_EQ(plan("SELECT * FROM customer ORDER BY nindex DESC").find("TEMP B-TREE"), std::string::npos);
}

TEST_F(Extension, RefusesToWrite) {
    for (const char* sql : {"INSERT INTO customer(custID) VALUES ('X')", "DELETE FROM journal"}) {
        const auto r = rows(sql);
        ASSERT_EQ(r.size(), 1u) << sql;
        EXPECT_NE(r[0].find("read-only"), std::string::npos) << r[0];
    }
    EXPECT_EQ(rows("SELECT count(*) FROM customer"), std::vector<std::string>{"120"});
}

}  // namespace
