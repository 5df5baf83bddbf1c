#include "tools/btrexport_sqlite.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "btrieve/columns.h"
#include "btrieve/dictionary.h"
#include "btrieve/file.h"
#include "sql/schema.h"

namespace btrexport {
namespace {

using btrieve::Status;

struct Db {
    sqlite3* db = nullptr;
    ~Db() { sqlite3_close(db); }
    bool exec(const std::string& sql) { return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK; }
    std::string error() const { return sqlite3_errmsg(db); }
};

struct Statement {
    sqlite3_stmt* stmt = nullptr;
    ~Statement() { sqlite3_finalize(stmt); }
};

struct BindSink {
    sqlite3_stmt* stmt;
    int index;
    void null() { sqlite3_bind_null(stmt, index); }
    void integer(int64_t v) { sqlite3_bind_int64(stmt, index, v); }
    void real(double v) { sqlite3_bind_double(stmt, index, v); }
    // The cell's buffer lives until the row is stepped.
    void text(std::string_view s) { sqlite3_bind_text64(stmt, index, s.data(), s.size(), SQLITE_STATIC, SQLITE_UTF8); }
    void blob(std::string_view s) { sqlite3_bind_blob64(stmt, index, s.data(), s.size(), SQLITE_STATIC); }
};

// "table: records done of total" on one line of a terminal, every 4,096 records
// and at the end of each table.
class Progress {
public:
    Progress() : shown_(isatty(STDERR_FILENO) == 1) {}
    void show(const std::string& table, uint64_t done, uint64_t total, bool last = false) {
        if (!shown_ || (!last && done % 4096 != 0)) return;
        std::fprintf(stderr, "\r%s: %llu of %llu records%s", table.c_str(), static_cast<unsigned long long>(done),
                     static_cast<unsigned long long>(total), last ? "\n" : "");
        std::fflush(stderr);
    }

private:
    bool shown_;
};

// One table into the database, in a transaction of its own; the reason on failure.
bool exportTable(Db& db, const btrieve::Dictionary& dictionary, const btrieve::DictTable& table, Progress& progress,
                 std::string& why) {
    std::unique_ptr<btrieve::File> file;
    if (const Status st = dictionary.openFile(table, file); !btrieve::ok(st)) {
        why = btrieve::statusText(st);
        return false;
    }
    const auto readers = btrieve::makeColumnReaders(table, file->info());
    if (!db.exec("BEGIN")) {
        why = db.error();
        return false;
    }
    const std::string name = sqlschema::quoteIdentifier(table.name);
    std::string insert = "INSERT INTO " + name + " VALUES (";
    for (size_t i = 0; i < table.columns.size(); ++i) insert += i ? ",?" : "?";
    insert += ")";
    Statement stmt;
    bool done = db.exec("CREATE TABLE " + name + " " + sqlschema::columnList(table.columns, readers)) &&
                sqlite3_prepare_v2(db.db, insert.c_str(), -1, &stmt.stmt, nullptr) == SQLITE_OK;
    if (!done) why = db.error();
    std::vector<btrieve::Cell> cells(readers.size());
    const uint64_t total = file->info().recordCount;
    uint64_t rows = 0;
    Status st = Status::Success;
    if (done) {
        st = file->forEachRecordView([&](btrieve::RecordAddress, std::string_view record) {
            for (size_t i = 0; i < readers.size(); ++i) {
                readers[i].read(record, dictionary.codePage(), cells[i]);
                BindSink sink{stmt.stmt, static_cast<int>(i + 1)};
                sqlschema::putCell(cells[i], sink);
            }
            if (sqlite3_step(stmt.stmt) != SQLITE_DONE) return done = false;
            sqlite3_reset(stmt.stmt);
            progress.show(table.name, ++rows, total);
            return true;
        });
        if (!done) why = db.error();
        // Bytes read from a file that shrank meanwhile may be zeros.
        if (btrieve::ok(st)) st = file->checkUnchanged();
        if (!btrieve::ok(st)) {
            done = false;
            why = btrieve::statusText(st) + " after " + std::to_string(rows) + " of " + std::to_string(total) +
                  " records";
        }
    }
    for (const std::string& sql : sqlschema::createIndexes(table.name, table.keys, table.columns)) {
        if (!done) break;
        if (!(done = db.exec(sql))) why = db.error();
    }
    if (done && !(done = db.exec("COMMIT"))) why = db.error();
    if (!done) {
        sqlite3_finalize(stmt.stmt);
        stmt.stmt = nullptr;
        db.exec("ROLLBACK");
    }
    progress.show(table.name, rows, total, true);
    return done;
}

}  // namespace

int exportSqlite(const btrieve::Dictionary& dictionary, const std::string& out) {
    // Made here, only if nothing is there: an existing database is never overwritten.
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "btrexport: %s: %s\n", out.c_str(),
                     errno == EEXIST ? "exists already; give the name of a new file" : std::strerror(errno));
        return 1;
    }
    ::close(fd);
    Db db;
    if (sqlite3_open_v2(out.c_str(), &db.db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
        // A new file that nobody else reads: a rollback journal in memory is enough
        // to take back a table that fails midway.
        !db.exec("PRAGMA journal_mode=MEMORY; PRAGMA synchronous=OFF; PRAGMA cache_size=-16384")) {
        std::fprintf(stderr, "btrexport: %s: %s\n", out.c_str(), db.db ? db.error().c_str() : "cannot open");
        return 1;
    }
    Progress progress;
    int status = 0;
    for (const auto& table : dictionary.tables()) {
        // A table whose file is not here is the dictionary's business; a file that
        // is here but cannot be read is a failure of the export.
        if (!table.readable()) {
            std::fprintf(stderr, "btrexport: table %s left out: %s\n", table.name.c_str(), table.problem.c_str());
            if (!table.path.empty()) status = 1;
            continue;
        }
        std::string why;
        if (!exportTable(db, dictionary, table, progress, why)) {
            std::fprintf(stderr, "btrexport: %s (table %s): %s; the table is left out\n", table.path.c_str(),
                         table.name.c_str(), why.c_str());
            status = 1;
        }
    }
    if (sqlite3_close(db.db) != SQLITE_OK) {
        std::fprintf(stderr, "btrexport: %s: %s\n", out.c_str(), db.error().c_str());
        status = 1;
    }
    db.db = nullptr;
    return status;
}

}  // namespace btrexport
