// The sorted in-memory key index. Memory: one key's bytes, one address and one
// 32-bit position per record in the index; the key bytes of all entries share one
// buffer.
//
// It holds what the engine's own index holds, in the engine's order: records whose
// key is null (isNullKey) are left out, and the records of one value follow their
// linked-duplicate chain (insertion order). Where the records carry chain pointers
// (at the key's duplicate offset in the slot, a pointer to the previous and one to
// the next record of the value, FF FF FF FF at the ends), the records of one value
// are put in chain order lazily: the first time an address of that value is asked
// for, so that building costs no slot reads. A value whose records do not form
// exactly one whole chain keeps physical order, as do files without chains; the
// description says so.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "btrieve/file.h"
#include "btrieve/index.h"
#include "btrieve/key_order.h"
#include "btrieve/keys.h"

namespace btrieve {
namespace {

// The file whose records of key carry duplicate chains, or null.
const File* chainedFile(const RecordSource& source, const KeySpec& key) {
    const auto* file = dynamic_cast<const File*>(&source);
    return file && hasDuplicateChains(*file, key) ? file : nullptr;
}

class MemoryIndex;

class MemoryCursor : public IndexCursor {
public:
    MemoryCursor(const MemoryIndex& index, size_t pos) : index_(index), pos_(pos) {}
    std::unique_ptr<IndexCursor> clone() const override {
        return std::make_unique<MemoryCursor>(index_, pos_);
    }
    std::string_view key() const override;
    RecordAddress address() const override;
    Status next() override;
    Status previous() override;

private:
    const MemoryIndex& index_;
    size_t pos_;
};

class MemoryIndex : public KeyIndex {
public:
    MemoryIndex(std::shared_ptr<const RecordSource> source, KeySpec key)
        : source_(std::move(source)), key_(std::move(key)), keyLength_(key_.totalLength()) {}

    Status build() {
        // Keys in physical order, keyLength_ bytes each back to back (appendKey pads
        // short records); the scan hands out views into the file's pages, so no
        // record is copied.
        std::vector<RecordAddress> raw;
        std::string keys;
        const auto* file = dynamic_cast<const File*>(source_.get());
        if (file) {
            const Status st = collectKeys(*file, key_, keys, raw);
            if (!ok(st)) return st;
        } else {
            const Status st = source_->forEachRecord([&](RecordAddress a, const std::string& r) {
                raw.push_back(a);
                appendKey(key_, r, keys);
                return true;
            });
            if (!ok(st)) return st;
        }
        // The engine's index leaves out records whose key is null.
        leftOut_ = dropNullKeys(key_, keys, raw);
        // Keys and addresses stay where the scan put them; entry i is physical
        // record order_[i] (no second copy laid out in key order).
        order_ = stableKeyOrder(key_, source_->info(), keys, raw.size());
        keys_ = std::move(keys);
        addresses_ = std::move(raw);
        // Duplicates stand in physical order for now; each value is put in chain
        // order the first time one of its addresses is asked for.
        chained_ = chainedFile(*source_, key_);
        if (chained_ && !order_.empty()) {
            settled_ = std::make_unique<std::atomic<uint64_t>[]>((order_.size() + 63) / 64);
            for (size_t w = 0; w < (order_.size() + 63) / 64; ++w) settled_[w].store(0, std::memory_order_relaxed);
        }
        return Status::Success;
    }

    // Puts the records of the value at entry i (the run of equal keys around it) in
    // the order of their duplicate chain, once; a value whose records do not form
    // exactly one whole chain, or whose slots cannot be read, keeps physical order.
    void settle(size_t i) const {
        std::lock_guard lock(settleMutex_);
        if (isSettled(i)) return;
        const FileInfo& info = source_->info();
        size_t begin = i, end = i + 1;
        while (begin > 0 && compareKeys(key_, info, keyAt(begin - 1), keyAt(i)) == 0) --begin;
        while (end < size() && compareKeys(key_, info, keyAt(end), keyAt(i)) == 0) ++end;
        if (end - begin > 1) orderByChain(begin, end);
        for (size_t k = begin; k < end; ++k)
            settled_[k / 64].fetch_or(uint64_t{1} << (k % 64), std::memory_order_release);
    }

    bool isSettled(size_t i) const {
        return (settled_[i / 64].load(std::memory_order_acquire) >> (i % 64)) & 1u;
    }

    void orderByChain(size_t begin, size_t end) const {
        const size_t n = end - begin;
        std::vector<RecordAddress> members(n);
        for (size_t k = 0; k < n; ++k) members[k] = addresses_[order_[begin + k]];
        const std::vector<RecordAddress> physical = members;
        if (!btrieve::orderByChain(*chained_, key_, members)) {
            unchained_.store(true, std::memory_order_relaxed);
            return;
        }
        if (members == physical) return;
        std::vector<uint32_t> ordered(n);
        for (size_t k = 0; k < n; ++k)
            ordered[k] = order_[begin + static_cast<size_t>(std::find(physical.begin(), physical.end(), members[k]) -
                                                            physical.begin())];
        // The first value out of physical order brings the chain-ordered copy of
        // order_ into being; values settled before it kept physical order, so the
        // copy agrees with what readers were given for them.
        uint32_t* copy = chainOrderOwner_.get();
        if (!copy) {
            chainOrderOwner_.reset(new uint32_t[order_.size()]);
            copy = chainOrderOwner_.get();
            std::copy(order_.begin(), order_.end(), copy);
            chainOrder_.store(copy, std::memory_order_release);
        }
        std::copy(ordered.begin(), ordered.end(), copy + begin);
    }

    std::string description() const override {
        std::string d = "in-memory";
        if (leftOut_ > 0) d += ", " + std::to_string(leftOut_) + " null key(s) left out";
        if (key_.allowsDuplicates() && !chained_) d += ", duplicates in record order (no chain pointers)";
        else if (unchained_.load(std::memory_order_relaxed)) d += ", some duplicates in record order (broken chains)";
        return d;
    }
    uint64_t leftOut() const { return leftOut_; }

    const KeySpec& key() const override { return key_; }
    size_t size() const { return order_.size(); }
    std::string_view keyAt(size_t i) const {
        return std::string_view(keys_).substr(static_cast<size_t>(order_[i]) * keyLength_, keyLength_);
    }
    RecordAddress addressAt(size_t i) const {
        if (!chained_) return addresses_[order_[i]];
        if (!isSettled(i)) settle(i);
        const uint32_t* chain = chainOrder_.load(std::memory_order_acquire);
        return addresses_[chain ? chain[i] : order_[i]];
    }

    Status first(std::unique_ptr<IndexCursor>& out) const override { return at(0, out); }
    Status last(std::unique_ptr<IndexCursor>& out) const override {
        return size() == 0 ? Status::EndOfFile : at(size() - 1, out);
    }
    Status lowerBound(std::string_view value, size_t segments,
                      std::unique_ptr<IndexCursor>& out) const override {
        return at(bound(value, segments, false), out);
    }
    Status upperBound(std::string_view value, size_t segments,
                      std::unique_ptr<IndexCursor>& out) const override {
        return at(bound(value, segments, true), out);
    }

private:
    Status at(size_t i, std::unique_ptr<IndexCursor>& out) const {
        if (i >= size()) return Status::EndOfFile;
        out = std::make_unique<MemoryCursor>(*this, i);
        return Status::Success;
    }

    // Index of the first entry ordering at or after (strictly after when `after`)
    // value under the first `segments` segments.
    size_t bound(std::string_view value, size_t segments, bool after) const {
        const KeySpec prefix = leadingSegments(key_, segments);
        const size_t len = prefix.totalLength();
        const FileInfo& info = source_->info();
        size_t lo = 0, hi = size();
        while (lo < hi) {
            const size_t mid = lo + (hi - lo) / 2;
            const int c = compareKeys(prefix, info, keyAt(mid).substr(0, len), value);
            if (c < 0 || (after && c == 0))
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    }

    std::shared_ptr<const RecordSource> source_;
    KeySpec key_;
    size_t keyLength_;
    std::string keys_;                     // physical record p's key at p * keyLength_
    std::vector<RecordAddress> addresses_;  // physical record p's address
    std::vector<uint32_t> order_;           // entry i: physical record order_[i]
    // order_ with each settled value in chain order, made when the first value turns
    // out of physical order (until then order_ serves); written only under
    // settleMutex_, for a value no reader has been given an address of yet.
    mutable std::unique_ptr<uint32_t[]> chainOrderOwner_;
    mutable std::atomic<const uint32_t*> chainOrder_{nullptr};
    const File* chained_ = nullptr;  // the source, when its records carry duplicate chains
    uint64_t leftOut_ = 0;           // records left out: their key is null
    mutable std::atomic<bool> unchained_{false};  // a value kept physical order: its chain did not check out
    mutable std::mutex settleMutex_;
    std::unique_ptr<std::atomic<uint64_t>[]> settled_;  // one bit per entry: in chain order
};

std::string_view MemoryCursor::key() const { return index_.keyAt(pos_); }
RecordAddress MemoryCursor::address() const { return index_.addressAt(pos_); }
Status MemoryCursor::next() {
    if (pos_ + 1 >= index_.size()) return Status::EndOfFile;
    ++pos_;
    return Status::Success;
}
Status MemoryCursor::previous() {
    if (pos_ == 0) return Status::EndOfFile;
    --pos_;
    return Status::Success;
}

}  // namespace

Status makeMemoryIndex(std::shared_ptr<const RecordSource> source, const KeySpec& key,
                       std::unique_ptr<KeyIndex>& out) {
    if (!source) return Status::FileNotOpen;
    auto index = std::make_unique<MemoryIndex>(std::move(source), key);
    const Status st = index->build();
    if (!ok(st)) return st;
    out = std::move(index);
    return Status::Success;
}

}  // namespace btrieve
