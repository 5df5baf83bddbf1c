// The sorted in-memory key index. Memory: one key's bytes and one address per
// live record; the key bytes of all entries share one buffer.
#include <algorithm>
#include <vector>

#include "btrieve/index.h"
#include "btrieve/keys.h"

namespace btrieve {
namespace {

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
        const Status st = source_->forEachRecord([&](RecordAddress addr, const std::string& rec) {
            raw.push_back({addr, keys.size()});
            keys += extractKey(key_, rec);
            return true;
        });
        if (!ok(st)) return st;
        const FileInfo& info = source_->info();
        std::stable_sort(raw.begin(), raw.end(), [&](const Raw& a, const Raw& b) {
            return compareKeys(key_, info, std::string_view(keys).substr(a.keyOffset, keyLength_),
                               std::string_view(keys).substr(b.keyOffset, keyLength_)) < 0;
        });
        // Lay the keys out again in sorted order so that entry i's key is at i * length.
        keys_.reserve(keys.size());
        addresses_.reserve(raw.size());
        for (const Raw& r : raw) {
            keys_.append(keys, r.keyOffset, keyLength_);
            addresses_.push_back(r.address);
        }
        return Status::Success;
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
