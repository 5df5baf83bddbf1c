// Benchmarks of the SQLite side over the benchmark companies (bench/run makes them,
// and beside each the native database btrexport --sqlite writes, DIR.db, and the
// CSV files btrexport --layout writes, DIR.csv/):
//   - key lookups through the virtual table (SELECT ... WHERE custID = ?), on the
//     large and the small company, and the same on the native table;
//   - SELECT sum(ARamount) FROM journal through the virtual table and natively;
//   - btrexport --ddf --sqlite of the large company (with the export's peak
//     anonymous memory), and sqlite3's own .import of the CSV files followed by
//     the same CREATE INDEX statements.
// BENCH_DATA names the folder of the companies, BENCH_BTREXPORT the tool and
// BENCH_EXTENSION the extension (without ".so").
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    if (!v) {
        std::fprintf(stderr, "sql_bench: %s is not set\n", name);
        std::abort();
    }
    return v;
}
std::string company(const char* size) { return env("BENCH_DATA") + "/" + size; }

struct Db {
    sqlite3* db = nullptr;
    explicit Db(const std::string& path) {
        const int flags = path == ":memory:" ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY;
        if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) std::abort();
    }
    ~Db() { sqlite3_close(db); }
    void exec(const std::string& sql) {
        char* err = nullptr;
        if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
            std::fprintf(stderr, "sql_bench: %s: %s\n", sql.c_str(), err ? err : "");
            std::abort();
        }
    }
    // The virtual tables of the company's three files, by their layouts.
    void attachCompany(const std::string& dir) {
        sqlite3_enable_load_extension(db, 1);
        char* err = nullptr;
        if (sqlite3_load_extension(db, env("BENCH_EXTENSION").c_str(), nullptr, &err) != SQLITE_OK) {
            std::fprintf(stderr, "sql_bench: %s\n", err ? err : "cannot load the extension");
            std::abort();
        }
        for (const char* t : {"customer", "journal"})
            exec(std::string("CREATE VIRTUAL TABLE ") + t + " USING btrieve(file='" + dir + "/" + t +
                 ".dat', layout='" + t + "')");
    }
};

struct Stmt {
    sqlite3_stmt* s = nullptr;
    Stmt(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) std::abort();
    }
    ~Stmt() { sqlite3_finalize(s); }
};

// 64 customer IDs spread over the key range, in random order: as many on either
// company, so that the two differ in the size of the file alone.
std::vector<std::string> someIds(sqlite3* db) {
    std::vector<std::string> all, ids;
    Stmt q(db, "SELECT custID FROM customer");
    while (sqlite3_step(q.s) == SQLITE_ROW)
        all.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(q.s, 0)));
    for (size_t i = 0; i < 64 && !all.empty(); ++i) ids.push_back(all[i * all.size() / 64]);
    std::shuffle(ids.begin(), ids.end(), std::mt19937(11));
    return ids;
}

void lookups(benchmark::State& state, sqlite3* db) {
    const auto ids = someIds(db);
    Stmt q(db, "SELECT custID, BillName, BillCity, Phone, ARbalance FROM customer WHERE custID = ?");
    size_t i = 0;
    for (auto _ : state) {
        const std::string& id = ids[i++ % ids.size()];
        sqlite3_bind_text(q.s, 1, id.data(), static_cast<int>(id.size()), SQLITE_STATIC);
        if (sqlite3_step(q.s) != SQLITE_ROW) std::abort();
        for (int c = 0; c < 5; ++c) benchmark::DoNotOptimize(sqlite3_column_text(q.s, c));
        sqlite3_reset(q.s);
    }
}

// The company through the virtual tables, or its native copy.
std::unique_ptr<Db> openCompany(const char* size, bool native) {
    if (native) return std::make_unique<Db>(company(size) + ".db");
    auto db = std::make_unique<Db>(":memory:");
    db->attachCompany(company(size));
    return db;
}

void BM_SqlLookup(benchmark::State& state, const char* size) { lookups(state, openCompany(size, false)->db); }
void BM_SqlLookupNative(benchmark::State& state, const char* size) { lookups(state, openCompany(size, true)->db); }

void scan(benchmark::State& state, sqlite3* db) {
    Stmt q(db, "SELECT sum(ARamount) FROM journal");
    for (auto _ : state) {
        if (sqlite3_step(q.s) != SQLITE_ROW) std::abort();
        benchmark::DoNotOptimize(sqlite3_column_double(q.s, 0));
        sqlite3_reset(q.s);
    }
}
void BM_VtabScan(benchmark::State& state, const char* size) { scan(state, openCompany(size, false)->db); }
void BM_NativeScan(benchmark::State& state, const char* size) { scan(state, openCompany(size, true)->db); }

// Runs a shell command; with anonMb, the child's largest resident anonymous
// memory, sampled every 10 ms. Returns the child's processor seconds (user and
// system), which a machine shared with other work changes less than the time the
// command takes.
double runCommand(const std::string& command, double* anonMb = nullptr) {
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    for (;;) {
        if (anonMb) {
            std::ifstream in("/proc/" + std::to_string(pid) + "/status");
            for (std::string line; std::getline(in, line);)
                if (line.rfind("RssAnon:", 0) == 0) *anonMb = std::max(*anonMb, std::stod(line.substr(8)) / 1024);
        }
        if (wait4(pid, &status, WNOHANG, &usage) == pid) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "sql_bench: %s failed\n", command.c_str());
        std::abort();
    }
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void BM_SqliteExport(benchmark::State& state, const char* size) {
    const std::string out = company(size) + "-bench.db";
    double anon = 0, cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::remove(out.c_str());
        state.ResumeTiming();
        cpu += runCommand(env("BENCH_BTREXPORT") + " --ddf " + company(size) + " --sqlite " + out + " 2>/dev/null",
                          &anon);
    }
    std::remove(out.c_str());
    state.counters["anon_rss_mb"] = anon;
    state.counters["child_cpu_s"] = cpu / static_cast<double>(state.iterations());
}

// sqlite3's .import of the three CSV files and the export's CREATE INDEX statements.
void BM_CsvImport(benchmark::State& state, const char* size) {
    const std::string out = company(size) + "-import.db", csv = company(size) + ".csv";
    std::ostringstream script;
    for (const char* t : {"customer", "journal", "permiss"})
        script << ".import --csv " << csv << "/" << t << ".csv " << t << "\n";
    script << "CREATE INDEX customer_key0 ON customer (custID);\n"
              "CREATE INDEX customer_key1 ON customer (Phone);\n"
              "CREATE INDEX customer_key2 ON customer (Fax);\n"
              "CREATE INDEX customer_key3 ON customer (BillName);\n"
              "CREATE INDEX customer_key4 ON customer (nindex);\n"
              "CREATE INDEX journal_key0 ON journal (nindex);\n"
              "CREATE INDEX permiss_key0 ON permiss (UserName);\n";
    const std::string scriptPath = company(size) + "-import.sql";
    std::ofstream(scriptPath) << script.str();
    double cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::remove(out.c_str());
        state.ResumeTiming();
        cpu += runCommand("sqlite3 " + out + " < " + scriptPath);
    }
    std::remove(out.c_str());
    state.counters["child_cpu_s"] = cpu / static_cast<double>(state.iterations());
}

}  // namespace

BENCHMARK_CAPTURE(BM_SqlLookup, small, "small")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_SqlLookup, large, "large")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_SqlLookupNative, large, "large")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_NativeScan, large, "large")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_VtabScan, large, "large")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CsvImport, large, "large")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_SqliteExport, large, "large")->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
