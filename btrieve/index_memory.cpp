// The sorted in-memory key index. Memory: one key's bytes and one address per
// live record; the key bytes of all entries share one buffer.
//
// Duplicates keep insertion order, the order of the file's own index. Where the
// records carry linked-duplicate pointers (pre-6 and 6.x files, plain records:
// at the key's duplicate offset in the slot, a ws pointer to the previous and
// one to the next record of the value, FF FF FF FF at the ends), the records of
// one value are put in the order of their chain. A value whose records do not
// form exactly one whole chain keeps physical order, as do files without chains.
#include <algorithm>
#include <unordered_map>
#include <vector>

#include "btrieve/bytes.h"
#include "btrieve/file.h"
#include "btrieve/index.h"
#include "btrieve/key_order.h"
#include "btrieve/keys.h"

namespace btrieve {
namespace {

constexpr uint32_t kNoPointer = 0xFFFFFFFFu;

// The file whose records of key carry duplicate chains, or null.
const File* chainedFile(const RecordSource& source, const KeySpec& key) {
    const auto* file = dynamic_cast<const File*>(&source);
    if (!file) return nullptr;
    const FileInfo& info = file->info();
    if (info.family == Family::V8 || info.compressed || !key.allowsDuplicates() ||
        (key.flags() & keyflag::RepeatingDuplicates) || key.duplicateOffset == 0 ||
        key.duplicateOffset + 8u > info.physicalRecordLength)
        return nullptr;
    return file;
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
        struct Raw {
            RecordAddress address;
            size_t keyOffset;
        };
        std::vector<Raw> raw;
        std::string keys;
        // Chain pointers (previous, next) per record in physical order, read from
        // the slot while its page is at hand.
        const File* chained = chainedFile(*source_, key_);
        std::vector<std::pair<uint32_t, uint32_t>> links;
        std::string slot;
        auto visit = [&](RecordAddress addr, std::string_view rec) {
            raw.push_back({addr, keys.size()});
            keys += extractKey(key_, rec);
            if (chained) {
                const bool read = ok(chained->readSlot(addr, slot));
                detail::ByteReader r(slot);
                const uint32_t prev = r.swapped32(key_.duplicateOffset);
                const uint32_t next = r.swapped32(key_.duplicateOffset + 4u);
                if (read && r.ok()) links.emplace_back(prev, next);
                else chained = nullptr;  // keep physical order
            }
            return true;
        };
        // A file hands out views into its pages, so the scan copies no record.
        const auto* file = dynamic_cast<const File*>(source_.get());
        const Status st = file ? file->forEachRecordView(visit)
                               : source_->forEachRecord([&](RecordAddress a, const std::string& r) {
                                     return visit(a, r);
                                 });
        if (!ok(st)) return st;
        const FileInfo& info = source_->info();
        auto keyOf = [&](const Raw& r) { return std::string_view(keys).substr(r.keyOffset, keyLength_); };
        // Every key is keyLength_ bytes (extractKey pads short records), back to back.
        std::vector<uint32_t> order = stableKeyOrder(key_, info, keys, raw.size());
        if (chained) orderByChains(*chained, raw, links, order, keyOf);
        // Lay the keys out again in sorted order so that entry i's key is at i * length.
        keys_.reserve(keys.size());
        addresses_.reserve(raw.size());
        for (uint32_t i : order) {
            keys_.append(keys, raw[i].keyOffset, keyLength_);
            addresses_.push_back(raw[i].address);
        }
        return Status::Success;
    }

    // Puts the records of each value (a run of equal keys in order) in the order
    // of their duplicate chain, when they form exactly one whole chain.
    template <typename Raw, typename KeyOf>
    void orderByChains(const File& file, const std::vector<Raw>& raw,
                       const std::vector<std::pair<uint32_t, uint32_t>>& links, std::vector<uint32_t>& order,
                       KeyOf keyOf) const {
        const FileInfo& info = file.info();
        std::unordered_map<RecordAddress, uint32_t> member;  // address -> physical index, one run
        std::vector<uint32_t> chain;
        for (size_t begin = 0, end = 0; begin < order.size(); begin = end) {
            end = begin + 1;
            while (end < order.size() && compareKeys(key_, info, keyOf(raw[order[begin]]), keyOf(raw[order[end]])) == 0)
                ++end;
            if (end - begin < 2) continue;
            // Usually the chain runs in physical order already.
            bool inOrder = links[order[begin]].first == kNoPointer && links[order[end - 1]].second == kNoPointer;
            for (size_t i = begin; inOrder && i + 1 < end; ++i)
                inOrder = links[order[i]].second != kNoPointer &&
                          file.addressFromPointer(links[order[i]].second) == raw[order[i + 1]].address;
            if (inOrder) continue;
            member.clear();
            uint32_t head = kNoPointer;
            size_t heads = 0;
            for (size_t i = begin; i < end; ++i) {
                member.emplace(raw[order[i]].address, order[i]);
                if (links[order[i]].first == kNoPointer) head = order[i], ++heads;
            }
            if (heads != 1) continue;
            chain.clear();
            for (uint32_t at = head; chain.size() <= end - begin;) {
                chain.push_back(at);
                const uint32_t next = links[at].second;
                if (next == kNoPointer) break;
                auto it = member.find(file.addressFromPointer(next));
                if (it == member.end() || links[it->second].first == kNoPointer ||
                    file.addressFromPointer(links[it->second].first) != raw[at].address)
                    break;
                at = it->second;
            }
            if (chain.size() != end - begin || links[chain.back()].second != kNoPointer) continue;
            std::copy(chain.begin(), chain.end(), order.begin() + static_cast<std::ptrdiff_t>(begin));
        }
    }

    const KeySpec& key() const override { return key_; }
    size_t size() const { return addresses_.size(); }
    std::string_view keyAt(size_t i) const {
        return std::string_view(keys_).substr(i * keyLength_, keyLength_);
    }
    RecordAddress addressAt(size_t i) const { return addresses_[i]; }

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
    std::string keys_;                     // entry i's key at i * keyLength_
    std::vector<RecordAddress> addresses_;
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
