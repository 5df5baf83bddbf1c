// btrexport's output: a buffered writer, and the rows of records taken in a given
// order (key order) written in that order while two threads format them.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "btrieve/file.h"
#include "btrieve/index_btree.h"
#include "btrieve/key_order.h"
#include "btrieve/parallel.h"
#include "btrieve/status.h"
#include "btrieve/value.h"
#include "tools/btrexport_csv.h"

namespace btrexport {

// Buffered writer over a stream (stdout unless given): output never collects in
// memory beyond one buffer.
class Out {
public:
    explicit Out(std::FILE* stream = stdout) : stream_(stream) {}
    ~Out() { flush(); }
    Out(const Out&) = delete;
    Out& operator=(const Out&) = delete;
    void put(std::string_view s) { buf_.append(s); maybeFlush(); }
    // A large block goes out as it is, after what is buffered.
    void write(std::string_view s) {
        flush();
        if (!s.empty() && std::fwrite(s.data(), 1, s.size(), stream_) != s.size()) failed_ = true;
    }
    csvout::Buffer& raw() { return buf_; }
    void maybeFlush() { if (buf_.size() >= kSize) flush(); }
    bool flush() {
        if (buf_.size() && std::fwrite(buf_.view().data(), 1, buf_.size(), stream_) != buf_.size()) failed_ = true;
        buf_.clear();
        return !failed_;
    }
    bool finish() { return flush() && std::fflush(stream_) == 0 && !failed_; }

private:
    static constexpr size_t kSize = 1 << 16;
    std::FILE* stream_;
    csvout::Buffer buf_;
    bool failed_ = false;
};

// The live records' addresses in the order of key, as the engine's index gives
// them: one pass keeps each record's key and address, and a stable sort puts the
// addresses in key order; records whose key is null are left out, and the records
// of one value follow their duplicate chain (insertion order).
inline btrieve::Status keyOrder(const btrieve::File& file, const btrieve::KeySpec& key,
                                std::vector<btrieve::RecordAddress>& order) {
    // Every page is read again right after, by address: the scan keeps them mapped.
    return btrieve::engineKeyOrder(file, key, order, nullptr, btrieve::PassedPages::Keep);
}

// Formats one record as one output line; a failure status stops the export after
// what was written of that line.
using Format = std::function<btrieve::Status(csvout::Buffer&, std::string_view, btrieve::Value&)>;

// Puts visits in page order, keeping the order of rows within a bucket of a few
// neighbouring pages: one counting pass over at most four buckets a visit (and
// at least 256), so that sorting a block costs about as much as the block.
// tmp and count are scratch.
inline void byPage(std::vector<std::pair<btrieve::RecordAddress, uint32_t>>& visits,
                   std::vector<std::pair<btrieve::RecordAddress, uint32_t>>& tmp, std::vector<uint32_t>& count) {
    uint64_t maxPage = 0;
    for (const auto& v : visits) maxPage = std::max<uint64_t>(maxPage, v.first >> 32);
    const uint64_t buckets = std::max<uint64_t>(4 * uint64_t{visits.size()}, 256);
    unsigned shift = 0;
    while ((maxPage >> shift) >= buckets) ++shift;
    count.assign((maxPage >> shift) + 2, 0);
    for (const auto& v : visits) ++count[((v.first >> 32) >> shift) + 1];
    for (size_t i = 1; i < count.size(); ++i) count[i] += count[i - 1];
    tmp.resize(visits.size());
    for (const auto& v : visits) tmp[count[(v.first >> 32) >> shift]++] = v;
    visits.swap(tmp);
}

// One block of the rows emitInOrder writes, made by one thread: the records are
// read in address order, which walks the file's pages in one direction instead
// of at random, and their rows are then put back in key order. Apart by whole
// cache lines, as both threads move their buffers' ends all the time.
struct alignas(128) OrderedBlock {
    static constexpr size_t kAhead = 12;  // records whose pages are being loaded meanwhile

    csvout::Buffer text, staging;
    btrieve::Status status = btrieve::Status::Success;
    std::string scratch;
    btrieve::Value value;
    std::vector<std::pair<btrieve::RecordAddress, uint32_t>> visits, sorted;  // address, row in block
    std::vector<uint32_t> buckets;
    std::vector<std::pair<size_t, size_t>> rows;                             // row's bytes in staging
    size_t made = 0;                                                          // rows in text

    // Rows [from, to) of order into text, in key order.
    void make(const btrieve::File& file, const std::vector<btrieve::RecordAddress>& order, const Format& format,
              size_t from, size_t to) {
        visits.clear();
        for (size_t i = from; i < to; ++i) visits.emplace_back(order[i], static_cast<uint32_t>(i - from));
        byPage(visits, sorted, buckets);
        staging.clear();
        rows.assign(to - from, {0, 0});
        for (size_t i = 0; i < std::min(kAhead, visits.size()); ++i) file.prefetchRecord(visits[i].first);
        for (size_t i = 0; i < visits.size(); ++i) {
            if (i + kAhead < visits.size()) file.prefetchRecord(visits[i + kAhead].first);
            std::string_view rec;
            const size_t at = staging.size();
            btrieve::Status st = file.readRecordView(visits[i].first, rec, scratch);
            if (btrieve::ok(st)) st = format(staging, rec, value);
            if (!btrieve::ok(st)) return makeRowByRow(file, order, format, from, to);  // rare: redo the block
            rows[visits[i].second] = {at, staging.size() - at};
        }
        text.clear();
        status = btrieve::Status::Success;
        made = to - from;
        for (const auto& [at, length] : rows) text.append(staging.view(at, length));
    }

    // The same rows in key order, one by one: the way that stops exactly at a
    // failing row, after writing what came before it.
    void makeRowByRow(const btrieve::File& file, const std::vector<btrieve::RecordAddress>& order,
                      const Format& format, size_t from, size_t to) {
        text.clear();
        status = btrieve::Status::Success;
        made = 0;
        for (size_t i = from; i < to && btrieve::ok(status); ++i) {
            std::string_view rec;
            status = file.readRecordView(order[i], rec, scratch);
            if (btrieve::ok(status)) status = format(text, rec, value);
            if (btrieve::ok(status)) ++made;
        }
    }
};

// The records at order's addresses, in that order: blocks of rows (OrderedBlock)
// formatted in two threads at once and written in order. A block's rows stay in
// the processor's caches from formatting to writing; each thread takes the next
// block as soon as it has written its last, so neither waits for the other except
// for its turn to write.
// rowsWritten, when given, gets the number of rows written (all of them, or those
// before the failing row).
inline btrieve::Status emitInOrder(const btrieve::File& file, const std::vector<btrieve::RecordAddress>& order,
                                   Out& out, const Format& format, size_t* rowsWritten = nullptr) {
    constexpr size_t kBlock = 4096;
    const size_t n = order.size();
    const size_t blocks = (n + kBlock - 1) / kBlock;
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex mutex;
    std::condition_variable turn;
    size_t written = 0;                                 // blocks written, or passed over after a failure
    btrieve::Status result = btrieve::Status::Success;  // the first failing row's status
    OrderedBlock parts[2];
    if (rowsWritten) *rowsWritten = 0;
    btrieve::runParts(blocks > 1 ? 2 : 1, [&](unsigned part) {
        OrderedBlock& p = parts[part];
        // Blocks are taken in increasing order and a thread takes its next only
        // after its last is written, so the block before any being waited for
        // is always being made or written: no thread waits for ever.
        for (size_t b; (b = next.fetch_add(1)) < blocks;) {
            if (!failed.load(std::memory_order_relaxed))
                p.make(file, order, format, b * kBlock, std::min(n, (b + 1) * kBlock));
            std::unique_lock lock(mutex);
            turn.wait(lock, [&] { return written == b; });
            if (btrieve::ok(result) && !failed.load(std::memory_order_relaxed)) {
                out.write(p.text.view());
                if (rowsWritten) *rowsWritten += p.made;
                if (!btrieve::ok(p.status)) {
                    result = p.status;
                    failed.store(true, std::memory_order_relaxed);
                }
            }
            written = b + 1;
            turn.notify_all();
        }
    });
    return result;
}

// Where the file's own tree of key disagrees with order (the records sorted by the
// key), says so on stderr and settles the order. A tree that lists every record
// once, each under its own key, only sorts otherwise: its order is the file's, and
// the key's collation (a damaged collating table, say) is what is wrong. Any other
// tree is what is wrong, and the sorted order stands.
inline void followIndex(const btrieve::File& file, const btrieve::KeySpec& key,
                        std::vector<btrieve::RecordAddress>& order) {
    const std::string why = btrieve::treeDisagreement(file, key, order);
    if (why.empty()) return;
    std::vector<btrieve::RecordAddress> listed;
    if (!btrieve::treeListing(file, key, order, listed).empty()) {
        std::fprintf(stderr, "btrexport: %s: key %d: read without the file's index, which disagrees with the records (%s)\n",
                     file.path().c_str(), key.number, why.c_str());
        return;
    }
    const bool acs = std::any_of(key.segments.begin(), key.segments.end(),
                                 [](const btrieve::KeySegment& s) { return s.flags & btrieve::keyflag::Acs; });
    std::fprintf(stderr,
                 "btrexport: %s: key %d: the file's index holds every record once but in another order than %s (%s); "
                 "read in the index's order\n",
                 file.path().c_str(), key.number,
                 acs ? "the key's alternate collating sequence gives, so that table may be damaged" : "the key's type gives",
                 why.c_str());
    order.swap(listed);
}

// Writes every live record in the order of key (or physical order for a file without
// keys when no key was asked for).
inline btrieve::Status exportRecords(const btrieve::File& file, int key, bool keyGiven, Out& out, const Format& format,
                                     size_t* rows = nullptr) {
    const btrieve::FileInfo& info = file.info();
    btrieve::Status st = btrieve::Status::InvalidKeyNumber;
    size_t written = 0;
    if (info.keys.empty() && !keyGiven) {
        csvout::Buffer& b = out.raw();
        btrieve::Value value;
        btrieve::Status rowStatus = btrieve::Status::Success;
        st = file.forEachRecordView([&](btrieve::RecordAddress, std::string_view rec) {
            rowStatus = format(b, rec, value);
            written += btrieve::ok(rowStatus);
            out.maybeFlush();
            return btrieve::ok(rowStatus);
        });
        if (btrieve::ok(st)) st = rowStatus;
    } else {
        for (const auto& k : info.keys) {
            if (k.number != key) continue;
            std::vector<btrieve::RecordAddress> order;
            st = keyOrder(file, k, order);
            if (btrieve::ok(st)) followIndex(file, k, order);
            if (btrieve::ok(st)) st = emitInOrder(file, order, out, format, &written);
            break;
        }
    }
    if (rows) *rows = written;
    // Bytes read from a file that shrank meanwhile may be zeros: not a good export.
    if (btrieve::ok(st)) st = file.checkUnchanged();
    return st;
}

}  // namespace btrexport
