// live_reader: reads a company's customer.dat and journal.dat through the engine
// while live_writer commits to them, and checks every record it is given.
//
//   live_reader DIR LOG STOPFILE [--seed X] [--follow]
//
// Until STOPFILE exists it loops over moves, seeks, finds and field reads: on two
// tables kept open for the whole run (the window's way), one mapped and one read
// by pread, and on fresh opens, mapped and not. Each record read must carry a good
// seal (live_records.h), must be one some commit added (the writer's LOG), and
// must have been current at some moment of the action that read it (always on a
// fresh open; on the kept tables with --follow). No action may take ten seconds.
// Once STOPFILE exists (the writer has stopped), a fresh open of each file must
// read exactly the log's last version, by a scan and by every key; with --follow
// the kept tables must too. Prints its counts; exit 0 when nothing failed, 1
// otherwise.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "btrieve/criteria.h"
#include "btrieve/file.h"
#include "btrieve/table.h"
#include "btrieve/value.h"
#include "tests/live/live_records.h"

using namespace btrieve;

namespace {

struct Tally {
    uint64_t operations = 0, records = 0, opens = 0, badSeals = 0, unsealed = 0, unknown = 0, failed = 0;
    uint64_t staleFresh = 0, staleKept = 0;  // records read outside their lifetime
    uint64_t longest = 0;                     // ns, the longest action
    std::map<std::string, uint64_t> statuses;  // statuses other than success and the ends
    std::vector<std::string> failures;         // the first few, described

    void fail(const std::string& what) {
        ++failed;
        if (failures.size() < 8) failures.push_back(what);
    }
};

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

class FileReader {
public:
    FileReader(const std::string& dir, const char* name, Tally& tally)
        : name_(name), path_(dir + "/" + name), sealed_(live::sealedFile(name)), tally_(tally) {
        const char* texts[] = {"ARbalance > 500", "nindex = 7"};
        const bool customer = &sealed_.layout == &layouts::customer();
        Criteria::parse(texts[customer ? 0 : 1], sealed_.layout.fields, criteria_);
    }

    // Opens the tables kept for the whole run, one reading through the mapping and
    // one by pread (as on a network share); false when the file cannot be opened.
    bool openKept() {
        for (size_t i = 0; i < 2; ++i) {
            std::unique_ptr<File> f;
            OpenOptions o;
            o.mapFile = i == 0;
            const Status s = File::open(path_, f, o);
            if (!ok(s)) {
                std::fprintf(stderr, "live_reader: %s: %s\n", path_.c_str(), statusText(s).c_str());
                return false;
            }
            kept_[i] = std::make_unique<Table>(std::shared_ptr<const File>(std::move(f)));
        }
        return true;
    }

    // One user action on the kept table, or a whole session on a fresh open, timed:
    // one that takes longer than kHang counts as a hang.
    void step(std::mt19937_64& rng) {
        ++tally_.operations;
        const uint64_t start = live::monotonicNs();
        act(rng);
        const uint64_t took = live::monotonicNs() - start;
        tally_.longest = std::max(tally_.longest, took);
        if (took > kHang) tally_.fail(name_ + ": an action took " + std::to_string(took / 1000000) + " ms");
    }

private:
    static constexpr uint64_t kHang = 10'000'000'000ull;  // ns

    void act(std::mt19937_64& rng) {
        const int op = static_cast<int>(rng() % 12);
        if (op == 11) {
            fresh(rng);
            return;
        }
        begin(false);
        Table& t = *kept_[rng() % 2];
        switch (op % 6) {
        case 0: moves(t, t.moveFirst(), rng, true); break;
        case 1: moves(t, t.moveLast(), rng, false); break;
        case 2: moves(t, seek(t, rng), rng, true, "seek"); break;
        case 3: {
            Status s = t.findFirst(criteria_);
            for (int i = 0; i < 5 && look(t, s, "find"); ++i) s = t.findNext(criteria_);
            break;
        }
        case 4: note(t.setActiveKey(static_cast<int>(rng() % sealed_.layout.keys.size())), "key change"); break;
        default: moves(t, t.moveNext(), rng, true); break;
        }
    }

public:
    // The file as the writer left it: a fresh open reads exactly the log's last
    // version, and with follow so does the kept table.
    void finalCheck(const live::VersionLog& log, bool follow) {
        const auto& want = liveSet(log);
        std::unique_ptr<File> opened;
        if (Status s = File::open(path_, opened); !ok(s)) {
            tally_.fail(name_ + ": the final open: " + statusText(s));
            return;
        }
        std::shared_ptr<const File> f(std::move(opened));
        std::map<uint64_t, int> scanned;
        const Status s = f->forEachRecord([&](RecordAddress, const std::string& r) {
            check(r);
            ++scanned[live::digest(r)];
            return true;
        });
        if (!ok(s) || scanned != want)
            tally_.fail(name_ + ": the final scan (" + statusText(s) + ") read " + std::to_string(count(scanned)) +
                        " records, not the last version's " + std::to_string(count(want)));
        for (size_t k = 0; k < sealed_.layout.keys.size(); ++k) {
            Table t(f);
            if (walk(t, static_cast<int>(k)) != want)
                tally_.fail(name_ + ": the final walk by key " + std::to_string(k) + " differs from the last version");
        }
        for (size_t i = 0; i < 2; ++i) {
            const char* how = i == 0 ? "mapped" : "read by pread";
            begin(false);
            const bool current = walk(*kept_[i], 0) == want;
            std::printf("live_reader: %s: the kept table %s took up %llu new versions\n", name_.c_str(), how,
                        static_cast<unsigned long long>(kept_[i]->generation()));
            if (!current) {
                if (follow) tally_.fail(name_ + ": the table kept open " + how + " does not show the last version");
                else std::printf("live_reader: %s: the table kept open %s shows an older version\n", name_.c_str(), how);
            }
        }
    }

    // Records read that no commit added, or read when no version held them: on a
    // fresh open, or (with follow) on the table kept open.
    void checkSeen(const live::VersionLog& log, bool follow) {
        static const std::map<uint64_t, live::Lifetime> none;
        const auto it = log.ever.find(name_);
        const auto& lives = it == log.ever.end() ? none : it->second;
        for (const auto& [d, seen] : seen_) {
            const auto found = lives.find(d);
            if (found == lives.end()) {
                ++tally_.unknown;
                tally_.fail(name_ + ": read a record of no committed version, digest " + live::hex16(d));
                continue;
            }
            const live::Lifetime& l = found->second;
            if (seen.fresh.outside(l)) {
                ++tally_.staleFresh;
                tally_.fail(name_ + ": a fresh open read a record outside its lifetime, digest " + live::hex16(d));
            }
            if (seen.kept.outside(l)) {
                ++tally_.staleKept;
                if (follow) tally_.fail(name_ + ": the kept table read a record outside its lifetime, digest " +
                                        live::hex16(d));
            }
        }
    }

private:
    static size_t count(const std::map<uint64_t, int>& m) {
        size_t n = 0;
        for (const auto& [d, c] : m) n += static_cast<size_t>(c);
        return n;
    }
    const std::map<uint64_t, int>& liveSet(const live::VersionLog& log) const {
        static const std::map<uint64_t, int> none;
        const auto it = log.live.find(name_);
        return it == log.live.end() ? none : it->second;
    }

    // The records in key order from the first, as digests counted.
    std::map<uint64_t, int> walk(Table& t, int key) {
        std::map<uint64_t, int> got;
        if (!ok(note(t.setActiveKey(key), "key change"))) return got;
        for (Status s = t.moveFirst(); look(t, s); s = t.moveNext()) ++got[live::digest(t.currentRecord())];
        return got;
    }

    Status seek(Table& t, std::mt19937_64& rng) {
        std::string value;
        if (&sealed_.layout == &layouts::customer()) {
            note(t.setActiveKey(0), "key change");
            value = "LIVE" + std::to_string(rng() % 1000);
        } else {
            note(t.setActiveKey(0), "key change");
            const auto n = static_cast<int16_t>(rng() % 300);
            value.assign(reinterpret_cast<const char*>(&n), 2);
        }
        return t.seek(rng() % 2 ? SeekOp::Ge : SeekOp::Le, value);
    }

    // The record of a first call (a move unless said), then up to 19 moves on.
    void moves(Table& t, Status s, std::mt19937_64& rng, bool forward, const char* first = "move") {
        const int n = static_cast<int>(rng() % 20);
        for (int i = 0; i < n && look(t, s, i == 0 ? first : "move"); ++i) s = forward ? t.moveNext() : t.movePrevious();
    }

    // A session on a fresh open: first, a few moves, a seek and a find.
    void fresh(std::mt19937_64& rng) {
        begin(true);
        std::unique_ptr<File> opened;
        OpenOptions o;
        o.mapFile = rng() % 2 == 0;
        ++tally_.opens;
        if (!ok(note(File::open(path_, opened, o), "open"))) return;
        Table t(std::shared_ptr<const File>(std::move(opened)));
        note(t.setActiveKey(static_cast<int>(rng() % sealed_.layout.keys.size())), "key change");
        moves(t, t.moveFirst(), rng, true);
        moves(t, seek(t, rng), rng, false, "seek");
        look(t, t.findFirst(criteria_), "find");
    }

    // Checks the record a move gave; false when the move gave none.
    bool look(Table& t, Status s, const char* call = "move") {
        if (!ok(note(s, call)) || !t.hasCurrent()) return false;
        const std::string& r = t.currentRecord();
        check(r);
        // Field reads, as the window's display does.
        Value v;
        for (const char* name : {"ARbalance", "BillName", "ARamount", "InvNumber", "Date"})
            if (const FieldDef* fd = sealed_.layout.field(name)) decodeField(*fd, r, v);
        return true;
    }

    // Reads from here on count as of a fresh open's session or of the kept table's
    // action beginning now.
    void begin(bool fresh) {
        began_ = live::monotonicNs();
        fresh_ = fresh;
    }

    void check(const std::string& r) {
        ++tally_.records;
        switch (live::checkSeal(r, sealed_.seal)) {
        case live::SealCheck::Good: {
            Seen& seen = seen_[live::digest(r)];
            (fresh_ ? seen.fresh : seen.kept).add(began_, live::monotonicNs());
            break;
        }
        case live::SealCheck::Bad:
            ++tally_.badSeals;
            tally_.fail(name_ + ": a record whose seal does not match its bytes");
            break;
        case live::SealCheck::Missing:
            ++tally_.unsealed;
            tally_.fail(name_ + ": a record without a seal");
            break;
        }
    }

    // Counts a status other than success and the ends, by file, table and call.
    Status note(Status s, const char* call) {
        if (s != Status::Success && s != Status::EndOfFile && s != Status::KeyNotFound)
            ++tally_.statuses[name_ + (fresh_ ? ", fresh open, " : ", kept table, ") + call + ": " + statusText(s)];
        return s;
    }

    std::string name_, path_;
    live::SealedFile sealed_;
    Tally& tally_;
    Criteria criteria_;
    std::unique_ptr<Table> kept_[2];  // mapped, by pread
    // When each record was read: the latest start and the earliest end of the
    // actions that gave it. It was current at some moment of each of them when
    // its lifetime began before the earliest end and ended after the latest start.
    struct Window {
        uint64_t latestStart = 0, earliestEnd = UINT64_MAX;
        void add(uint64_t start, uint64_t end) {
            latestStart = std::max(latestStart, start);
            earliestEnd = std::min(earliestEnd, end);
        }
        bool outside(const live::Lifetime& l) const {
            return earliestEnd != UINT64_MAX && (l.from > earliestEnd || l.to <= latestStart);
        }
    };
    struct Seen {
        Window fresh, kept;
    };
    std::unordered_map<uint64_t, Seen> seen_;
    uint64_t began_ = 0;
    bool fresh_ = false;
};

int usage() {
    std::fprintf(stderr, "usage: live_reader DIR LOG STOPFILE [--seed X] [--follow]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return usage();
    const std::string dir = argv[1], logPath = argv[2], stop = argv[3];
    uint64_t seed = 1;
    bool follow = false;
    for (int i = 4; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seed" && i + 1 < argc) seed = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "--follow") follow = true;
        else return usage();
    }
    Tally tally;
    FileReader files[2] = {FileReader(dir, live::kCustomerFile, tally), FileReader(dir, live::kJournalFile, tally)};
    for (auto& f : files)
        if (!f.openKept()) return 1;
    std::mt19937_64 rng(seed);
    while (!exists(stop))
        for (int i = 0; i < 50; ++i) files[rng() % 2].step(rng);

    live::VersionLog log;
    std::string why;
    if (!log.read(logPath, why)) {
        std::fprintf(stderr, "live_reader: %s\n", why.c_str());
        return 1;
    }
    for (auto& f : files) {
        f.finalCheck(log, follow);
        f.checkSeen(log, follow);
    }
    uint64_t errors = 0;
    for (const auto& [text, n] : tally.statuses) errors += n;
    std::printf("live_reader: %llu operations, %llu records read, %llu fresh opens, %llu error statuses, "
                "%llu bad seals, %llu unsealed, %llu of no version, %llu stale on fresh opens, "
                "%llu stale on the kept table, %llu failures\n",
                static_cast<unsigned long long>(tally.operations), static_cast<unsigned long long>(tally.records),
                static_cast<unsigned long long>(tally.opens), static_cast<unsigned long long>(errors),
                static_cast<unsigned long long>(tally.badSeals), static_cast<unsigned long long>(tally.unsealed),
                static_cast<unsigned long long>(tally.unknown), static_cast<unsigned long long>(tally.staleFresh),
                static_cast<unsigned long long>(tally.staleKept), static_cast<unsigned long long>(tally.failed));
    std::printf("live_reader: the longest action took %.1f ms\n", static_cast<double>(tally.longest) / 1e6);
    for (const auto& [text, n] : tally.statuses)
        std::printf("live_reader:   %s: %llu\n", text.c_str(), static_cast<unsigned long long>(n));
    for (const auto& f : tally.failures) std::printf("live_reader: FAILED: %s\n", f.c_str());
    return tally.failed == 0 ? 0 : 1;
}
