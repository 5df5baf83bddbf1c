// Benchmarks of the engine at the scale of a company that has run for years.
// Each goal is measured beside a baseline from the same run: one sequential read()
// pass over the file from the page cache. bench/run turns the JSON of a run into
// "ratio NAME VALUE" lines.
//
// Companies are written by mkcompany into bench/data (see bench/run):
//   small: 10,000 customers, 100,000 journal rows
//   large: 100,000 customers, 1,000,000 journal rows
//
// `engine_bench --cold open|detail DIR` measures a cold start instead: it drops the
// company's files from the system's cache, takes one step (open the three files and
// show the first customer; or the first "Show Detail" of the customer with 20 open
// invoices), and prints how many MB of the file the step brought into memory
// (customer.dat; journal.dat), counted with mincore over a fresh mapping. bench/run
// runs each step in a process of its own.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "btrieve/criteria.h"
#include "btrieve/file.h"
#include "btrieve/table.h"
#include "btrieve/value.h"
#include "data/layouts.h"
#include "tools/btrexport_emit.h"

namespace {

std::string dataDir() {
    const char* d = std::getenv("BENCH_DATA");
    return d ? d : "bench/data";
}
std::string company(const char* size) { return dataDir() + "/" + size; }

double peakRssMb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_maxrss) / 1024.0;
}

// Resident anonymous memory now (heap and the like, in MiB), from /proc/self/status.
// The peak RSS above also counts pages of the mapped company files, which are the
// system's page cache and not a copy; this is what the process itself holds.
double anonRssMb() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return 0;
    char line[256];
    double kb = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "RssAnon: %lf", &kb) == 1) break;
    std::fclose(f);
    return kb / 1024.0;
}

// The largest anonymous resident size seen at the sampling points of a benchmark.
struct AnonPeak {
    double mb = 0;
    void sample() { mb = std::max(mb, anonRssMb()); }
    void report(benchmark::State& state) {
        sample();
        state.counters["peak_rss_mb"] = peakRssMb();
        state.counters["anon_rss_mb"] = mb;
    }
};

void sequentialRead(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) std::abort();
    std::vector<char> buf(1 << 20);
    ssize_t n;
    size_t total = 0;
    while ((n = ::read(fd, buf.data(), buf.size())) > 0) total += static_cast<size_t>(n);
    ::close(fd);
    benchmark::DoNotOptimize(total);
}

std::shared_ptr<btrieve::File> openFile(const std::string& path) {
    std::unique_ptr<btrieve::File> f;
    btrieve::OpenOptions options;
    options.ownerName = "MyHolder";
    if (btrieve::File::open(path, f, options) != btrieve::Status::Success) std::abort();
    return std::shared_ptr<btrieve::File>(std::move(f));
}

const btrieve::FieldDef& field(const layouts::Layout& l, const std::string& name) {
    for (const auto& f : l.fields)
        if (f.name == name) return f;
    std::abort();
}

// The thirteen fields the window reads to show a customer.
void showCustomer(const btrieve::Table& t) {
    static const char* names[] = {"custID", "BillName", "BillAddr1", "BillAddr2", "BillCity",
                                  "BillState", "BillZip", "Phone", "Fax", "Email",
                                  "contact", "nindex", "ARbalance"};
    const auto& l = layouts::customer();
    for (const char* n : names) {
        btrieve::Value v;
        btrieve::decodeField(field(l, n), t.currentRecord(), v);
        benchmark::DoNotOptimize(v);
    }
}

// The open-invoice walk of "Show Detail" for the customer whose nindex is given.
int detailWalk(btrieve::Table& journal, int nindex) {
    std::string text = "nindex = " + std::to_string(nindex) +
                       " AND Journalid = 3 AND Quote = 0  AND ARamount <> AmountReceived";
    btrieve::Criteria c;
    if (btrieve::Criteria::parse(text, layouts::journal().fields, c) != btrieve::Status::Success)
        std::abort();
    int rows = 0;
    const auto& l = layouts::journal();
    for (auto s = journal.findFirst(c); s == btrieve::Status::Success; s = journal.findNext(c)) {
        for (const char* n : {"Date", "InvNumber", "ARamount", "AmountReceived"}) {
            btrieve::Value v;
            btrieve::decodeField(field(l, n), journal.currentRecord(), v);
            benchmark::DoNotOptimize(v);
        }
        ++rows;
    }
    return rows;
}

// nindex of the customer to whom mkcompany gives exactly 20 open invoices: the one
// with custID "AARDVARK", taken to 16 bits as the journal stores it.
int twentyInvoiceCustomer(const std::string& dir) {
    auto cust = openFile(dir + "/customer.dat");
    btrieve::Table t(cust);
    std::string key = "AARDVARK";
    key.resize(21, '\0');
    if (t.seek(btrieve::SeekOp::Eq, key) != btrieve::Status::Success) std::abort();
    btrieve::Value v;
    btrieve::decodeField(field(layouts::customer(), "nindex"), t.currentRecord(), v);
    return static_cast<int16_t>(std::get<int64_t>(v));
}

void BM_SeqRead_Customer(benchmark::State& state, const char* size) {
    std::string p = company(size) + "/customer.dat";
    sequentialRead(p);
    for (auto _ : state) sequentialRead(p);
    state.counters["peak_rss_mb"] = peakRssMb();
}
void BM_SeqRead_Journal(benchmark::State& state, const char* size) {
    std::string p = company(size) + "/journal.dat";
    sequentialRead(p);
    for (auto _ : state) sequentialRead(p);
    state.counters["peak_rss_mb"] = peakRssMb();
}

// Open the three files and show the first customer. fileIndex false: with the
// walk of the file's own index switched off (the sorted in-memory index).
void openFirst(benchmark::State& state, const char* size, bool fileIndex) {
    std::string dir = company(size);
    AnonPeak anon;
    for (auto _ : state) {
        auto permiss = openFile(dir + "/permiss.dat");
        auto cust = openFile(dir + "/customer.dat");
        auto jrnl = openFile(dir + "/journal.dat");
        auto t = std::make_unique<btrieve::Table>(cust);
        if (!fileIndex) t->setIndexFactory(btrieve::makeMemoryIndex);
        if (t->moveNext() != btrieve::Status::Success) std::abort();
        showCustomer(*t);
        state.PauseTiming();
        anon.sample();
        // Closing is not what the user waits for.
        t.reset(), permiss.reset(), cust.reset(), jrnl.reset();
        state.ResumeTiming();
    }
    anon.report(state);
}
void BM_OpenFirst(benchmark::State& state, const char* size) { openFirst(state, size, true); }
void BM_OpenFirstFallback(benchmark::State& state, const char* size) {
    openFirst(state, size, false);
}

// One lookup keystroke, warm: seek "<=" by custID, the move after it, 13 field reads.
void BM_Lookup(benchmark::State& state, const char* size) {
    auto cust = openFile(company(size) + "/customer.dat");
    btrieve::Table t(cust);
    t.moveFirst();
    // A spread of typed prefixes over the key range.
    std::vector<std::string> ids;
    for (int i = 0; i < 64 && t.hasCurrent(); ++i) {
        btrieve::Value v;
        btrieve::decodeField(field(layouts::customer(), "custID"), t.currentRecord(), v);
        ids.push_back(std::get<std::string>(v).substr(0, 3));
        for (int k = 0; k < 97; ++k) t.moveNext();
    }
    size_t i = 0;
    for (auto _ : state) {
        std::string key = ids[i++ % ids.size()];
        key.resize(21, '\0');
        t.seek(btrieve::SeekOp::Le, key);
        t.moveNext();
        if (t.hasCurrent()) showCustomer(t);
    }
    AnonPeak().report(state);
}

// One "Show Detail" walk, warm.
void BM_DetailWarm(benchmark::State& state, const char* size) {
    auto jrnl = openFile(company(size) + "/journal.dat");
    btrieve::Table t(jrnl);
    int nindex = twentyInvoiceCustomer(company(size));
    detailWalk(t, nindex);
    int rows = 0;
    for (auto _ : state) rows = detailWalk(t, nindex);
    state.counters["rows"] = rows;
    AnonPeak().report(state);
}

// The same walk the first time after open.
void detailFirst(benchmark::State& state, const char* size, bool fileIndex) {
    std::string p = company(size) + "/journal.dat";
    int nindex = twentyInvoiceCustomer(company(size));
    int rows = 0;
    AnonPeak anon;
    for (auto _ : state) {
        auto jrnl = openFile(p);
        auto t = std::make_unique<btrieve::Table>(jrnl);
        if (!fileIndex) t->setIndexFactory(btrieve::makeMemoryIndex);
        rows = detailWalk(*t, nindex);
        state.PauseTiming();
        anon.sample();
        t.reset(), jrnl.reset();  // closing is not what the user waits for
        state.ResumeTiming();
    }
    state.counters["rows"] = rows;
    anon.report(state);
}
void BM_DetailFirst(benchmark::State& state, const char* size) { detailFirst(state, size, true); }
void BM_DetailFirstFallback(benchmark::State& state, const char* size) {
    detailFirst(state, size, false);
}

// "$" from the first to the last customer: FindNext "ARbalance > 0" until the end.
void BM_BalanceScan(benchmark::State& state, const char* size) {
    std::string p = company(size) + "/customer.dat";
    btrieve::Criteria c;
    btrieve::Criteria::parse("ARbalance > 0", layouts::customer().fields, c);
    AnonPeak anon;
    for (auto _ : state) {
        auto cust = openFile(p);
        btrieve::Table t(cust);
        t.moveNext();
        int hits = 0;
        while (t.findNext(c) == btrieve::Status::Success) ++hits;
        benchmark::DoNotOptimize(hits);
        state.PauseTiming();
        anon.sample();
        state.ResumeTiming();
    }
    anon.report(state);
}

// The scan under the in-memory index: open, then every live record's key bytes
// (key 0) through the copy-free visitor.
void BM_KeyScan(benchmark::State& state, const char* file) {
    std::string p = company("large") + "/" + file;
    AnonPeak anon;
    for (auto _ : state) {
        auto f = openFile(p);
        const btrieve::KeySpec& key = f->info().keys.at(0);
        uint64_t sum = 0;
        f->forEachRecordView([&](btrieve::RecordAddress, std::string_view rec) {
            sum += static_cast<uint8_t>(rec[key.segments[0].position]);
            return true;
        });
        benchmark::DoNotOptimize(sum);
    }
    anon.report(state);
}

// btrexport --layout journal of the large journal to /dev/null.
void BM_Export(benchmark::State& state, const char* size) {
    const char* tool = std::getenv("BENCH_BTREXPORT");
    if (!tool) std::abort();
    std::string cmd = std::string(tool) + " --layout journal " + company(size) +
                      "/journal.dat > /dev/null";
    for (auto _ : state)
        if (std::system(cmd.c_str()) != 0) std::abort();
}

// The export's parts on their own, to show where its time goes.
//
// The key order: open, then the export's own pass keeping each record's key and
// address, and its sort.
std::vector<btrieve::RecordAddress> journalKeyOrder(const btrieve::File& f) {
    std::vector<btrieve::RecordAddress> order;
    if (btrexport::keyOrder(f, f.info().keys.at(0), order) != btrieve::Status::Success) std::abort();
    return order;
}
void BM_ExportOrder(benchmark::State& state, const char* size) {
    std::string p = company(size) + "/journal.dat";
    for (auto _ : state) {
        auto f = openFile(p);
        benchmark::DoNotOptimize(journalKeyOrder(*f).size());
        state.PauseTiming();
        f.reset();
        state.ResumeTiming();
    }
}

// Every record read in that order by the export's own gather, each row one byte
// made from a word of every 32 bytes of the record: reading without formatting.
void BM_ExportGather(benchmark::State& state, const char* size) {
    auto f = openFile(company(size) + "/journal.dat");
    const auto order = journalKeyOrder(*f);
    std::FILE* null = std::fopen("/dev/null", "w");
    if (!null) std::abort();
    for (auto _ : state) {
        btrexport::Out out(null);
        const auto st = btrexport::emitInOrder(*f, order, out, [](csvout::Buffer& b, std::string_view rec, btrieve::Value&) {
            uint64_t sum = 0;
            for (size_t at = 0; at + 8 <= rec.size(); at += 32) {
                uint64_t w;
                std::memcpy(&w, rec.data() + at, 8);
                sum += w;
            }
            b.push_back(static_cast<char>(sum));
            return btrieve::Status::Success;
        });
        if (st != btrieve::Status::Success || !out.finish()) std::abort();
    }
    std::fclose(null);
}

// The export's formatting alone: journal rows made by the export's row writer in
// two threads, as many as the journal has records, from 4,096 records each thread
// keeps in its caches, so that no time goes to reading the file.
void BM_ExportFormat(benchmark::State& state, const char* size) {
    auto f = openFile(company(size) + "/journal.dat");
    const uint64_t records = f->info().recordCount;
    std::vector<std::string> sample;
    f->forEachRecordView([&](btrieve::RecordAddress, std::string_view rec) {
        sample.emplace_back(rec);
        return sample.size() < 4096;
    });
    if (sample.empty()) std::abort();
    const csvout::RowWriter rows(layouts::journal().fields);
    auto part = [&](uint64_t count, size_t& bytes) {
        csvout::Buffer out;
        btrieve::Value scratch;
        for (uint64_t i = 0; i < count; ++i) {
            if (rows.append(out, sample[i % sample.size()], scratch) != btrieve::Status::Success) std::abort();
            if (out.size() >= (1u << 16)) bytes += out.size(), out.clear();
        }
        bytes += out.size();
    };
    for (auto _ : state) {
        size_t bytes[2] = {0, 0};
        std::thread other([&] { part(records - records / 2, bytes[1]); });
        part(records / 2, bytes[0]);
        other.join();
        benchmark::DoNotOptimize(bytes);
    }
}

// What the machine itself gives for the gather: as many reads of a record's length
// as the journal has records, at random slots of random pages of a plain read-only
// mapping of the file, in two threads, each read prefetched eight reads ahead. No
// engine code: the cost of random reads from the page cache alone.
void BM_RandomRead(benchmark::State& state, const char* size) {
    const std::string p = company(size) + "/journal.dat";
    auto f = openFile(p);
    const uint64_t records = f->info().recordCount;
    const uint32_t length = f->info().physicalRecordLength, pageSize = f->info().pageSize;
    f.reset();
    const int fd = ::open(p.c_str(), O_RDONLY);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || length == 0 || length > pageSize) std::abort();
    const size_t bytes = static_cast<size_t>(st.st_size), pages = bytes / pageSize;
    const auto* map = static_cast<const char*>(::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd, 0));
    if (map == MAP_FAILED) std::abort();
    std::mt19937_64 random(11);
    std::vector<size_t> offsets(records);
    for (auto& o : offsets) o = (random() % pages) * pageSize + random() % (pageSize / length) * length;
    uint64_t touch = 0;
    for (size_t page = 0; page < pages; ++page) touch += static_cast<uint8_t>(map[page * pageSize]);
    benchmark::DoNotOptimize(touch);
    auto part = [&](size_t from, size_t to, uint64_t& sum) {
        constexpr size_t kAhead = 8;
        for (size_t i = from; i < to; ++i) {
            if (i + kAhead < to)
                for (uint32_t at = 0; at < length; at += 64) __builtin_prefetch(map + offsets[i + kAhead] + at);
            for (uint32_t at = 0; at + 8 <= length; at += 32) {
                uint64_t w;
                std::memcpy(&w, map + offsets[i] + at, 8);
                sum += w;
            }
        }
    };
    for (auto _ : state) {
        uint64_t sums[2] = {0, 0};
        std::thread other([&] { part(offsets.size() / 2, offsets.size(), sums[1]); });
        part(0, offsets.size() / 2, sums[0]);
        other.join();
        benchmark::DoNotOptimize(sums);
    }
    ::munmap(const_cast<char*>(map), bytes);
    ::close(fd);
}

}  // namespace

// Each baseline runs just before what is measured against it.
BENCHMARK_CAPTURE(BM_SeqRead_Customer, large, "large")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenFirst, large, "large")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenFirstFallback, large, "large")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BalanceScan, large, "large")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_KeyScan, customer, "customer.dat")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SeqRead_Journal, large, "large")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DetailFirst, large, "large")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DetailFirstFallback, large, "large")->Unit(benchmark::kMillisecond);
// The large company written as 8.0 files (mkcompany --format 8), walked through
// their own trees, over a sequential read of the same 8.0 files.
BENCHMARK_CAPTURE(BM_SeqRead_Customer, large_v8, "large-v8")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenFirst, large_v8, "large-v8")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SeqRead_Journal, large_v8, "large-v8")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DetailFirst, large_v8, "large-v8")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Export, large, "large")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ExportOrder, large, "large")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ExportGather, large, "large")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ExportFormat, large, "large")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RandomRead, journal, "large")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_KeyScan, journal, "journal.dat")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Lookup, small, "small")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Lookup, large, "large")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DetailWarm, small, "small")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DetailWarm, large, "large")->Unit(benchmark::kMicrosecond);

namespace {

void dropFromCache(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) std::abort();
#ifdef POSIX_FADV_DONTNEED
    ::fsync(fd);  // pages not yet written back would stay
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
#endif
    ::close(fd);
}

// MB of the file now in the system's cache.
double residentMb(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_size == 0) std::abort();
    const size_t bytes = static_cast<size_t>(st.st_size);
    void* map = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) std::abort();
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    size_t resident = 0;
#ifdef __linux__
    std::vector<unsigned char> in((bytes + page - 1) / page);
    if (::mincore(map, bytes, in.data()) != 0) std::abort();
    for (unsigned char c : in) resident += c & 1;
#else
    std::fprintf(stderr, "resident pages are counted on Linux only\n");
#endif
    ::munmap(map, bytes);
    ::close(fd);
    return static_cast<double>(resident * page) / (1 << 20);
}

int coldMain(const std::string& step, const std::string& dir) {
    std::string measured;
    if (step == "open") {
        for (const char* f : {"permiss.dat", "customer.dat", "journal.dat"}) dropFromCache(dir + "/" + f);
        auto permiss = openFile(dir + "/permiss.dat");
        auto cust = openFile(dir + "/customer.dat");
        auto jrnl = openFile(dir + "/journal.dat");
        btrieve::Table t(cust);
        if (t.moveNext() != btrieve::Status::Success) std::abort();
        showCustomer(t);
        measured = dir + "/customer.dat";
    } else if (step == "detail") {
        const int nindex = twentyInvoiceCustomer(dir);
        measured = dir + "/journal.dat";
        dropFromCache(measured);
        auto jrnl = openFile(measured);
        btrieve::Table t(jrnl);
        if (detailWalk(t, nindex) != 20) std::abort();
    } else {
        std::fprintf(stderr, "usage: engine_bench --cold open|detail DIR\n");
        return 2;
    }
    std::printf("%.3f\n", residentMb(measured));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--cold") return coldMain(argv[2], argv[3]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
