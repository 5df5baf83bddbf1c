// live_writer: commits random changes to a company's customer.dat and journal.dat
// while readers read them, each record sealed (live_records.h), and logs what each
// commit added and removed.
//
//   live_writer DIR LOG --prepare
//       seals every record of both files in one commit each; run once, before any
//       reader starts
//   live_writer DIR LOG [--seconds S] [--commits N] [--seed X]
//       commits until S seconds (default 3) or N commits have passed, one to four
//       inserts, updates or deletes each; prints its counts
//
// Exit 0 on success; 1 when a commit fails other than by a repeated unique key
// (which drops that commit's changes, as an engine refuses a duplicate).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "btrieve/committer.h"
#include "btrieve/value.h"
#include "tests/live/live_records.h"

using btrieve::Status;

namespace {

struct Counts {
    uint64_t commits = 0, refused = 0, inserts = 0, updates = 0, deletes = 0, pages = 0;
};

class LiveFile {
public:
    LiveFile(const std::string& dir, const char* name) : name_(name), sealed_(live::sealedFile(name)) {
        path_ = dir + "/" + name;
    }
    Status open() { return btrieve::Committer::open(path_, c_); }
    const std::string& path() const { return path_; }
    btrieve::Committer& committer() { return *c_; }
    const layouts::Layout& layout() const { return sealed_.layout; }

    // Sealed copy of record as the next version of it.
    std::string sealed(std::string record, uint64_t& serial) {
        live::sealRecord(record, sealed_.seal, ++serial);
        return record;
    }
    void set(std::string& record, const char* field, const btrieve::Value& v) {
        if (btrieve::encodeField(*sealed_.layout.field(field), v, record) != Status::Success) {
            std::fprintf(stderr, "live_writer: cannot set %s\n", field);
            std::exit(1);
        }
    }

    // The changes of one commit, as log lines.
    void add(uint64_t d) { pending_ += "+ " + live::hex16(d) + "\n"; }
    void remove(uint64_t d) { pending_ += "- " + live::hex16(d) + "\n"; }
    void insert(std::string rec) {
        add(live::digest(rec));
        c_->insert(std::move(rec));
    }
    void update(size_t i, std::string rec) {
        remove(live::digest(c_->records()[i]));
        add(live::digest(rec));
        c_->update(i, std::move(rec));
    }
    void erase(size_t i) {
        remove(live::digest(c_->records()[i]));
        c_->erase(i);
    }
    // Commits and logs; false on a failure other than a refused duplicate.
    bool commit(FILE* log, Counts& counts) {
        btrieve::CommitSummary sum;
        const uint64_t start = live::monotonicNs();
        const Status s = c_->commit(&sum);
        const uint64_t end = live::monotonicNs();
        if (s == Status::InvalidOperation) {  // a repeated unique key: dropped
            ++counts.refused;
            pending_.clear();
            return true;
        }
        if (s != Status::Success) {
            std::fprintf(stderr, "live_writer: commit to %s failed: %s\n", path_.c_str(),
                         btrieve::statusText(s).c_str());
            return false;
        }
        std::fprintf(log, "commit %s %u %llu %llu\n%s", name_, sum.usage, static_cast<unsigned long long>(start),
                     static_cast<unsigned long long>(end), pending_.c_str());
        std::fflush(log);
        pending_.clear();
        ++counts.commits;
        counts.pages += sum.pagesWritten;
        return true;
    }

private:
    const char* name_;
    live::SealedFile sealed_;
    std::string path_;
    std::unique_ptr<btrieve::Committer> c_;
    std::string pending_;
};

// One random change to the customers: a balance, a name or a phone (keys with
// duplicates), a new customer, or one gone.
void changeCustomers(LiveFile& f, std::mt19937_64& rng, uint64_t& serial, Counts& counts) {
    const auto& recs = f.committer().records();
    const int op = static_cast<int>(rng() % 10);
    if (op < 2 || recs.size() < 20) {
        std::string r(f.layout().recordLength, '\0');
        f.set(r, "custID", "LIVE" + std::to_string(serial + 1));
        f.set(r, "BillName", "Live Customer " + std::to_string(rng() % 50));
        f.set(r, "Phone", "555-" + std::to_string(rng() % 100));
        f.set(r, "ARbalance", static_cast<double>(rng() % 100000) / 100);
        f.set(r, "nindex", static_cast<int64_t>(200000 + serial % 1000000000));  // unique, as the key is
        f.insert(f.sealed(r, serial));
        ++counts.inserts;
    } else if (op < 3) {
        f.erase(rng() % recs.size());
        ++counts.deletes;
    } else {
        const size_t i = rng() % recs.size();
        std::string r = recs[i];
        f.set(r, "ARbalance", static_cast<double>(rng() % 100000) / 100);
        if (op == 3) f.set(r, "BillName", "Renamed " + std::to_string(rng() % 40));
        if (op == 4) f.set(r, "Phone", "555-" + std::to_string(rng() % 100));
        f.update(i, f.sealed(r, serial));
        ++counts.updates;
    }
}

// One random change to the journal: a new invoice for a customer (duplicates of
// nindex), a payment or a new amount, or a row gone.
void changeJournal(LiveFile& f, std::mt19937_64& rng, uint64_t& serial, Counts& counts) {
    const auto& recs = f.committer().records();
    const int op = static_cast<int>(rng() % 10);
    if (op < 3 || recs.size() < 50) {
        std::string r(f.layout().recordLength, '\0');
        f.set(r, "nindex", static_cast<int64_t>(rng() % 300));
        f.set(r, "Journalid", int64_t{3});
        f.set(r, "InvNumber", "L" + std::to_string(serial + 1));
        f.set(r, "ARamount", static_cast<double>(rng() % 50000) / 100);
        f.set(r, "Date", btrieve::Date{2026, 1 + static_cast<int>(rng() % 12), 1 + static_cast<int>(rng() % 28)});
        f.insert(f.sealed(r, serial));
        ++counts.inserts;
    } else if (op < 5) {
        f.erase(rng() % recs.size());
        ++counts.deletes;
    } else {
        const size_t i = rng() % recs.size();
        std::string r = recs[i];
        f.set(r, "AmountReceived", static_cast<double>(rng() % 50000) / 100);
        if (op == 5) f.set(r, "nindex", static_cast<int64_t>(rng() % 300));
        f.update(i, f.sealed(r, serial));
        ++counts.updates;
    }
}

int usage() {
    std::fprintf(stderr, "usage: live_writer DIR LOG (--prepare | [--seconds S] [--commits N] [--seed X])\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    const std::string dir = argv[1];
    bool prepare = false;
    double seconds = 3;
    uint64_t maxCommits = UINT64_MAX, seed = 1;
    for (int i = 3; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--prepare") prepare = true;
        else if (a == "--seconds" && i + 1 < argc) seconds = std::atof(argv[++i]);
        else if (a == "--commits" && i + 1 < argc) maxCommits = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "--seed" && i + 1 < argc) seed = std::strtoull(argv[++i], nullptr, 10);
        else return usage();
    }
    FILE* log = std::fopen(argv[2], "a");
    if (!log) {
        std::fprintf(stderr, "live_writer: cannot open log %s: %s\n", argv[2], std::strerror(errno));
        return 1;
    }
    LiveFile files[2] = {LiveFile(dir, live::kCustomerFile), LiveFile(dir, live::kJournalFile)};
    for (auto& f : files)
        if (Status s = f.open(); s != Status::Success) {
            std::fprintf(stderr, "live_writer: %s: %s\n", f.path().c_str(), btrieve::statusText(s).c_str());
            return 1;
        }
    // Serials go on from where the last run left them: seed-dependent and far apart.
    uint64_t serial = seed * 1000000000ull;
    Counts counts;
    if (prepare) {
        for (auto& f : files) {
            const size_t n = f.committer().records().size();
            for (size_t i = 0; i < n; ++i) {
                std::string r = f.sealed(f.committer().records()[i], serial);
                f.add(live::digest(r));
                f.committer().update(i, std::move(r));
            }
            if (!f.commit(log, counts) || counts.refused) return 1;
        }
        std::printf("live_writer: sealed %zu customers and %zu journal rows\n", files[0].committer().records().size(),
                    files[1].committer().records().size());
        return 0;
    }

    std::mt19937_64 rng(seed);
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    while (counts.commits + counts.refused < maxCommits && elapsed() < seconds) {
        LiveFile& f = files[rng() % 5 < 2 ? 0 : 1];
        const int changes = 1 + static_cast<int>(rng() % 4);
        for (int c = 0; c < changes; ++c) {
            if (&f == &files[0]) changeCustomers(f, rng, serial, counts);
            else changeJournal(f, rng, serial, counts);
        }
        if (!f.commit(log, counts)) return 1;
    }
    std::fclose(log);
    std::printf("live_writer: %llu commits (%llu refused), %llu inserts, %llu updates, %llu deletes, "
                "%llu pages written, %.1f s\n",
                static_cast<unsigned long long>(counts.commits), static_cast<unsigned long long>(counts.refused),
                static_cast<unsigned long long>(counts.inserts), static_cast<unsigned long long>(counts.updates),
                static_cast<unsigned long long>(counts.deletes), static_cast<unsigned long long>(counts.pages),
                elapsed());
    return 0;
}
