// The key index over the file's own B-tree pages, with a fallback to the sorted
// in-memory index.
//
// Index page, pre-6 and 6.x (12-byte header):
//   0x00 4  own page number: pre-6 ws physical page; 6.x logical page in page-table
//           layout [bits 16-23][type 0x80 + key number][bits 0-7][bits 8-15]
//   0x04 2  write counter (pre-6: without the 0x8000 bit of data pages)
//   0x06 2  number of entries n; 12 + n * entry size fits the page
//   0x08 4  right-most child (layout of 0x00), FF FF FF FF in a leaf
//   0x0C    n entries of the key descriptor's entry size, in key order:
//           0    4  left child (FF FF FF FF in a leaf): its keys order before this entry
//           4    k  key bytes: the segments as they stand in the record, concatenated
//           4+k  4  ws record pointer (pre-6: absolute file offset; 6.x: logical page *
//                   page size + slot offset); with linked duplicates 8 bytes: the first
//                   and the last record of the value's chain
//
// Index page, 8.0 and 9.0 (14-byte header) and 9.5 (16 bytes: a zero u16 at 0x06
// moves the rest 2 bytes on):
//   0x00 4  own logical page number (plain u32)
//   0x04 2  0x8000 + key number
//   0x06 2  counter (9.5: at 0x08)
//   0x08 2  number of entries n (9.5: 0x0A)
//   0x0A 4  right-most child, plain u32 logical page, FF FF FF FF in a leaf (9.5: 0x0C)
//   0x0E    entries as above (9.5: 0x10), with plain u32 children and record pointers
//           (logical page << s) | slot index, s = max(4, bit width of slots per page)
//   A real B-tree: inner entries are full entries, not repeated in the leaves. The
//   in-order walk is: child 0, entry 0, child 1, ..., entry n-1, right-most child.
//
// Linked duplicates: each record of a chain holds, at the key's duplicate offset in
// its slot, a pointer (as in the entries) to the previous and one to the next record
// of the value (FF FF FF FF at the ends), in insertion order.
//
// Null keys: a record whose key is null (keys.h, isNullKey) has no entry; an entry
// holding a null key is a disagreement like any other.
//
// What is checked before the tree is believed: every page names itself and its key,
// holds no more entries than fit, has children of its key's type (all or none),
// keeps its keys strictly increasing and inside the range its parent gives it; the
// path is at most kMaxDepth deep and never meets a page twice; every record reached
// is a live slot of a data page whose key equals its entry's under the key's
// collation (not always byte for byte: under a case-folding ACS an engine keeps
// the entry's bytes when a record's key changes case); chains link both ways, are
// no longer than the record count and end at the entry's last record; an empty root
// stands only over an empty file (or one whose records all have a null key); a walk
// from one end to the other reaches as many records as the header counts (at most
// as many on a key that leaves null keys out).
#include "btrieve/index_btree.h"

#include <algorithm>
#include <cstdlib>
#include <list>
#include <mutex>
#include <vector>

#include "btrieve/bytes.h"
#include "btrieve/file.h"
#include "btrieve/formats.h"
#include "btrieve/key_order.h"
#include "btrieve/keys.h"

namespace btrieve {
namespace {

using detail::ByteReader;

constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr size_t kMaxDepth = 32;
constexpr size_t kNodeCache = 32;

// Outcome of one step through the tree: Fault means the tree does not check out.
enum class Step { Ok, End, Fault };

using detail::FormatFamily;
using detail::IndexOwner;
using detail::PageNumbers;

struct Node {
    uint32_t page = 0;
    uint32_t header = 12;
    std::string bytes;
    uint32_t count = 0;
    bool leaf = true;
    uint32_t entrySize = 0;
    uint32_t keyLength = 0;
    std::vector<uint32_t> children;  // inner nodes: count + 1, the last is the right-most
    std::vector<RecordAddress> first, last;

    std::string_view key(uint32_t i) const {
        return std::string_view(bytes).substr(header + static_cast<size_t>(i) * entrySize + 4, keyLength);
    }
};
using NodeRef = std::shared_ptr<const Node>;

// The records of one duplicate value in chain order, with their own key bytes.
struct Chain {
    RecordAddress first = 0;  // identifies the chain in the cache
    std::vector<RecordAddress> addresses;
    std::string keys;         // keyLength bytes per record
    uint32_t keyLength = 0;
    std::string_view key(size_t i) const { return std::string_view(keys).substr(i * keyLength, keyLength); }
};
using ChainRef = std::shared_ptr<const Chain>;
constexpr size_t kChainCache = 8;

// The few most recently used items, found by one field of theirs (a node by its
// page, a chain by its first record). The caller holds the index's lock.
template <class T, auto KeyField, size_t Capacity>
class RecentlyUsed {
public:
    using Ref = std::shared_ptr<const T>;
    // The item whose field equals k, now the most recent; null when none.
    template <class K>
    Ref find(const K& k) {
        for (auto it = items_.begin(); it != items_.end(); ++it)
            if ((**it).*KeyField == k) {
                items_.splice(items_.begin(), items_, it);
                return items_.front();
            }
        return nullptr;
    }
    void add(Ref item) {
        items_.push_front(std::move(item));
        if (items_.size() > Capacity) items_.pop_back();
    }

private:
    std::list<Ref> items_;  // front = most recent
};

// The in-memory index under a label that says why the file's tree is not used.
class LabelledIndex : public KeyIndex {
public:
    LabelledIndex(std::unique_ptr<KeyIndex> inner, std::string why)
        : inner_(std::move(inner)), why_(std::move(why)) {}
    const KeySpec& key() const override { return inner_->key(); }
    Status first(std::unique_ptr<IndexCursor>& out) const override { return inner_->first(out); }
    Status last(std::unique_ptr<IndexCursor>& out) const override { return inner_->last(out); }
    Status lowerBound(std::string_view v, size_t n, std::unique_ptr<IndexCursor>& out) const override {
        return inner_->lowerBound(v, n, out);
    }
    Status upperBound(std::string_view v, size_t n, std::unique_ptr<IndexCursor>& out) const override {
        return inner_->upperBound(v, n, out);
    }
    // The inner index's own remarks (null keys left out, ...) follow the reason.
    std::string description() const override {
        return "in-memory (" + why_ + ")" + inner_->description().substr(std::string_view("in-memory").size());
    }

private:
    std::unique_ptr<KeyIndex> inner_;
    std::string why_;
};

class TreeCursor;

class TreeIndex : public KeyIndex {
public:
    TreeIndex(std::shared_ptr<const RecordSource> source, const File& file, KeySpec key)
        : source_(std::move(source)), file_(file), info_(file.info()), key_(std::move(key)),
          keyLength_(key_.totalLength()), dups_(key_.allowsDuplicates()), nullable_(hasNullValue(key_)),
          format_(*file.info().format) {
        recordOffset_ = format_.usageWordSize;
    }

    // Reads the root; Fault when it does not check out.
    Step init(std::string& why) const;
    // Pages are then believed whatever the order of their entries: for a walk that
    // asks what the tree lists, not whether it sorts under the key's collation.
    void ignoreEntryOrder() { entryOrderChecked_ = false; }

    const KeySpec& key() const override { return key_; }
    Status first(std::unique_ptr<IndexCursor>& out) const override { return end(false, out); }
    Status last(std::unique_ptr<IndexCursor>& out) const override { return end(true, out); }
    Status lowerBound(std::string_view value, size_t segments,
                      std::unique_ptr<IndexCursor>& out) const override {
        return bound(value, segments, false, out);
    }
    Status upperBound(std::string_view value, size_t segments,
                      std::unique_ptr<IndexCursor>& out) const override {
        return bound(value, segments, true, out);
    }
    std::string description() const override {
        std::lock_guard lock(mutex_);
        return broken_ ? "in-memory (" + why_ + ")" : "file B-tree";
    }

    // The decoded and checked page of the tree.
    Step node(uint32_t page, NodeRef& out, std::string& why) const;
    // A record an entry or chain names: its own key bytes and chain neighbours.
    Step record(RecordAddress addr, std::string& key, RecordAddress& prev, RecordAddress& next,
                std::string& why) const;
    // The whole checked duplicate chain of entry i of n. A chain is checked before
    // any of its records is handed out, so that a fallback never happens inside
    // one value, where the two indexes might order the records differently.
    Step chain(const Node& n, uint32_t i, ChainRef& out, std::string& why) const;

    // From the first fault on, every cursor continues on the in-memory index.
    void breakDown(const std::string& why) const {
        std::lock_guard lock(mutex_);
        if (!broken_) {
            broken_ = true;
            why_ = "fell back: " + why;
        }
    }
    bool broken() const {
        std::lock_guard lock(mutex_);
        return broken_;
    }
    Status memory(const KeyIndex*& out) const;

    const FileInfo& info() const { return info_; }
    uint32_t root() const { return key_.rootPage; }
    bool duplicates() const { return dups_; }
    // Whether the key leaves records with a null key out, so that the tree may
    // hold fewer records than the file.
    bool nullable() const { return nullable_; }
    // A full walk that reached `walked` records: whether that is what the file holds.
    bool walkComplete(uint64_t walked) const {
        return nullable_ ? walked <= info_.recordCount : walked == info_.recordCount;
    }

private:
    Status end(bool toLast, std::unique_ptr<IndexCursor>& out) const;
    Status bound(std::string_view value, size_t segments, bool after,
                 std::unique_ptr<IndexCursor>& out) const;
    Status fallback(const std::string& why, const std::function<Status(const KeyIndex&)>& op) const {
        breakDown(why);
        const KeyIndex* mem = nullptr;
        if (Status st = memory(mem); !ok(st)) return st;
        return op(*mem);
    }
    uint32_t childPointer(ByteReader& r, uint64_t at, bool& bad) const;

    std::shared_ptr<const RecordSource> source_;
    const File& file_;
    const FileInfo& info_;
    KeySpec key_;
    uint32_t keyLength_;
    bool dups_;
    bool nullable_;
    const FormatFamily& format_;
    uint32_t recordOffset_ = 0;
    bool entryOrderChecked_ = true;

    mutable std::mutex mutex_;
    mutable RecentlyUsed<Node, &Node::page, kNodeCache> nodes_;
    mutable RecentlyUsed<Chain, &Chain::first, kChainCache> chains_;
    mutable bool broken_ = false;
    mutable std::string why_;
    mutable bool memoryMade_ = false;
    mutable Status memoryStatus_ = Status::Success;
    mutable std::unique_ptr<KeyIndex> memory_;
};

class TreeCursor : public IndexCursor {
public:
    explicit TreeCursor(const TreeIndex& index) : index_(&index) {}
    TreeCursor(const TreeCursor& o) { *this = o; }
    TreeCursor& operator=(const TreeCursor& o) {
        if (this == &o) return *this;
        index_ = o.index_;
        path_ = o.path_;
        addr_ = o.addr_;
        key_ = o.key_;
        group_ = o.group_;
        member_ = o.member_;
        walk_ = o.walk_;
        walked_ = o.walked_;
        mem_ = o.mem_ ? o.mem_->clone() : nullptr;
        return *this;
    }
    TreeCursor(TreeCursor&&) = default;
    TreeCursor& operator=(TreeCursor&&) = default;

    std::unique_ptr<IndexCursor> clone() const override { return std::make_unique<TreeCursor>(*this); }
    std::string_view key() const override { return mem_ ? mem_->key() : std::string_view(key_); }
    RecordAddress address() const override { return mem_ ? mem_->address() : addr_; }
    Status next() override { return move(true); }
    Status previous() override { return move(false); }

    // Positioning from nothing; walk: +1 from the first entry, -1 from the last.
    Step toFirst(std::string& why) {
        walk_ = 1;
        walked_ = 1;
        return leftmost(index_->root(), why);
    }
    Step toLast(std::string& why) {
        walk_ = -1;
        walked_ = 1;
        return rightmost(index_->root(), why);
    }
    Step toBound(std::string_view value, size_t segments, bool after, std::string& why);

private:
    const Node& top() const { return *path_.back().node; }
    uint32_t topIndex() const { return path_.back().index; }

    Status move(bool forward);
    Step step(bool forward, std::string& why);
    Step descend(uint32_t page, NodeRef& out, std::string& why) const;
    Step leftmost(uint32_t page, std::string& why);
    Step rightmost(uint32_t page, std::string& why);
    Step land(bool forward, std::string& why);
    Step chainStep(bool forward);
    Status toMemory(bool forward);
    Step noRoot(std::string& why) const {
        if (index_->info().recordCount == 0) return Step::End;
        why = "no index root over live records";
        return Step::Fault;
    }

    struct Frame {
        NodeRef node;
        // The top frame: the current entry. Frames below: the child descended into
        // (child i lies just before entry i; child count is the right-most).
        uint32_t index = 0;
    };
    const TreeIndex* index_;
    std::vector<Frame> path_;
    RecordAddress addr_ = kNoRecord;
    std::string key_;       // the current record's own key bytes
    ChainRef group_;        // duplicates: the current entry's chain, and the record's place in it
    size_t member_ = 0;
    int walk_ = 0;          // +1 / -1 while the cursor has moved only away from its end
    uint64_t walked_ = 0;   // records reached on that walk
    std::unique_ptr<IndexCursor> mem_;  // set once the cursor continues on the in-memory index
};

// ---- TreeIndex ----------------------------------------------------------------

uint32_t TreeIndex::childPointer(ByteReader& r, uint64_t at, bool& bad) const {
    if (r.u32(at) == kNone) return kNone;
    switch (format_.pageNumbers) {
    case PageNumbers::Swapped: return r.swapped32(at);
    case PageNumbers::Plain: return r.u32(at);
    case PageNumbers::PageTable: break;
    }
    if (r.u8(at + 1) != 0x80 + key_.number) bad = true;
    return r.patPage(at);
}

Step TreeIndex::node(uint32_t page, NodeRef& out, std::string& why) const {
    {
        std::lock_guard lock(mutex_);
        if (NodeRef cached = nodes_.find(page)) {
            out = std::move(cached);
            return Step::Ok;
        }
    }
    const std::string where = "index page " + std::to_string(page);
    auto n = std::make_shared<Node>();
    n->page = page;
    n->header = format_.indexHeader;
    n->entrySize = key_.entrySize;
    n->keyLength = keyLength_;
    if (Status st = file_.readLogicalPage(page, n->bytes); !ok(st)) {
        why = where + ": " + statusText(st);
        return Step::Fault;
    }
    ByteReader r(n->bytes);
    bool ours = false;
    switch (format_.indexOwner) {
    case IndexOwner::Counter: ours = (r.u16(4) & 0x8000) == 0; break;
    case IndexOwner::TypeByte: ours = r.u8(1) == 0x80 + key_.number; break;
    case IndexOwner::KeyWord: ours = r.u16(4) == 0x8000 + key_.number; break;
    }
    if (format_.indexZeroAt != 0 && r.u16(format_.indexZeroAt) != 0) ours = false;
    if (!ours) {
        why = where + " is not a page of this key's index";
        return Step::Fault;
    }
    n->count = r.u16(format_.indexCountAt);
    if (format_.indexHeader + static_cast<uint64_t>(n->count) * n->entrySize > n->bytes.size()) {
        why = where + " holds more entries than fit";
        return Step::Fault;
    }
    bool bad = false;
    const uint32_t right = childPointer(r, format_.indexRightAt, bad);
    n->leaf = right == kNone;
    if (!n->leaf && n->count == 0) bad = true;  // a free page, not a node
    for (uint32_t i = 0; i < n->count; ++i) {
        const uint64_t at = format_.indexHeader + static_cast<uint64_t>(i) * n->entrySize;
        const uint32_t child = childPointer(r, at, bad);
        if ((child == kNone) != n->leaf) bad = true;
        if (!n->leaf) n->children.push_back(child);
        const RecordAddress first = recordPointerAt(file_, n->bytes, at + 4 + keyLength_);
        const RecordAddress last = dups_ ? recordPointerAt(file_, n->bytes, at + 8 + keyLength_) : first;
        if (first == kNoRecord || last == kNoRecord) bad = true;
        n->first.push_back(first);
        n->last.push_back(last);
        if (nullable_ && isNullKey(key_, n->key(i))) {
            why = where + " holds a null key, which the index leaves out";
            return Step::Fault;
        }
        if (entryOrderChecked_ && i > 0 && compareKeys(key_, info_, n->key(i - 1), n->key(i)) >= 0) {
            why = where + " has entries out of order";
            return Step::Fault;
        }
    }
    if (!n->leaf) n->children.push_back(right);
    if (bad || !r.ok()) {
        why = where + " has malformed entries or child pointers";
        return Step::Fault;
    }
    out = std::move(n);
    std::lock_guard lock(mutex_);
    nodes_.add(out);
    return Step::Ok;
}

Step TreeIndex::record(RecordAddress addr, std::string& key, RecordAddress& prev, RecordAddress& next,
                       std::string& why) const {
    prev = next = kNoRecord;
    std::string slot;
    if (Status st = file_.readSlot(addr, slot); !ok(st)) {
        why = "an entry points at no live record (" + statusText(st) + ")";
        return Step::Fault;
    }
    if (info_.compressed || format_.slotSystemData) {
        // The record bytes start after the usage word and any system data.
        std::string rec;
        if (Status st = file_.readRecord(addr, rec); !ok(st)) {
            why = "an entry's record cannot be read (" + statusText(st) + ")";
            return Step::Fault;
        }
        key = extractKey(key_, rec);
    } else {
        if (!detail::fits(slot.size(), recordOffset_, info_.recordLength)) {
            why = "a record slot is shorter than the record";
            return Step::Fault;
        }
        key = extractKey(key_, std::string_view(slot).substr(recordOffset_, info_.recordLength));
    }
    if (dups_) {
        if (!detail::fits(slot.size(), key_.duplicateOffset, 8)) {
            why = "a record's duplicate pointers lie outside its slot";
            return Step::Fault;
        }
        prev = recordPointerAt(file_, slot, key_.duplicateOffset);
        next = recordPointerAt(file_, slot, key_.duplicateOffset + 4ull);
    }
    return Step::Ok;
}

Step TreeIndex::chain(const Node& n, uint32_t i, ChainRef& out, std::string& why) const {
    const RecordAddress first = n.first[i], last = n.last[i];
    {
        std::lock_guard lock(mutex_);
        // Another entry may name the same record: then the chain is checked afresh.
        if (ChainRef cached = chains_.find(first)) {
            out = std::move(cached);
            if (out->addresses.back() == last && compareKeys(key_, info_, out->key(0), n.key(i)) == 0)
                return Step::Ok;
        }
    }
    auto c = std::make_shared<Chain>();
    c->first = first;
    c->keyLength = keyLength_;
    std::string key;
    RecordAddress prev = kNoRecord, next = kNoRecord, at = first, before = kNoRecord;
    for (;;) {
        if (c->addresses.size() >= info_.recordCount) {
            why = "a duplicate chain is longer than the file";
            return Step::Fault;
        }
        if (Step s = record(at, key, prev, next, why); s != Step::Ok) return s;
        if (prev != before) {
            why = before == kNoRecord ? "a duplicate chain does not start at its entry"
                                      : "a duplicate chain's links disagree";
            return Step::Fault;
        }
        if (compareKeys(key_, info_, key, n.key(i)) != 0) {
            why = "an entry's key differs from its record's";
            return Step::Fault;
        }
        c->addresses.push_back(at);
        c->keys += key;
        if (next == kNoRecord) break;
        before = at;
        at = next;
    }
    if (at != last) {
        why = "a duplicate chain ends before its entry's last record";
        return Step::Fault;
    }
    out = c;
    std::lock_guard lock(mutex_);
    chains_.add(std::move(c));
    return Step::Ok;
}

Step TreeIndex::init(std::string& why) const {
    if (root() == kNone) {
        if (info_.recordCount == 0) return Step::Ok;
        why = "no index root over " + std::to_string(info_.recordCount) + " records";
        return Step::Fault;
    }
    NodeRef n;
    if (Step s = node(root(), n, why); s != Step::Ok) return s;
    const uint64_t records = info_.recordCount;
    if (n->count == 0 && records > 0 && !nullable_) {
        why = "empty index root over " + std::to_string(records) + " records";
        return Step::Fault;
    }
    // The header's count of distinct values must fit the record count, and a root
    // that is a leaf must hold all of them: a root pointing into a subtree (an
    // older root that became a leaf) shows here, before any seek trusts it.
    const uint64_t values = key_.uniqueCount;
    bool fits = values == records;
    if (nullable_) fits = values <= records;  // records with a null key have no entry
    else if (dups_) fits = values <= records && (values == 0) == (records == 0);
    if (!fits) {
        why = "the key's count of values (" + std::to_string(values) + ") does not fit " +
              std::to_string(records) + " records";
        return Step::Fault;
    }
    if (n->leaf && n->count != values) {
        why = "the index root holds " + std::to_string(n->count) + " of " + std::to_string(values) + " values";
        return Step::Fault;
    }
    // Deeper roots: a tree as deep as the left-most path holds at most
    // (m + 1)^depth - 1 entries with m entries a page.
    const uint64_t perPage = (info_.pageSize - format_.indexHeader) / key_.entrySize;
    uint64_t capacity = 1;
    uint32_t depth = 0;
    for (NodeRef at = n; depth < kMaxDepth && capacity <= values; ++depth) {
        capacity *= perPage + 1;
        if (at->leaf) break;
        NodeRef child;
        if (Step s = node(at->children[0], child, why); s != Step::Ok) return s;
        at = child;
    }
    if (capacity <= values) {
        why = "the index is too shallow for " + std::to_string(values) + " values";
        return Step::Fault;
    }
    return Step::Ok;
}

Status TreeIndex::memory(const KeyIndex*& out) const {
    std::lock_guard lock(mutex_);
    if (!memoryMade_) {
        memoryMade_ = true;
        memoryStatus_ = makeMemoryIndex(source_, key_, memory_);
    }
    out = memory_.get();
    return memoryStatus_;
}

Status TreeIndex::end(bool toLast, std::unique_ptr<IndexCursor>& out) const {
    auto viaMemory = [&](const KeyIndex& m) { return toLast ? m.last(out) : m.first(out); };
    if (broken()) return fallback("", viaMemory);
    auto c = std::make_unique<TreeCursor>(*this);
    std::string why;
    switch (toLast ? c->toLast(why) : c->toFirst(why)) {
    case Step::Ok: out = std::move(c); return Status::Success;
    case Step::End: return Status::EndOfFile;
    case Step::Fault: break;
    }
    return fallback(why, viaMemory);
}

Status TreeIndex::bound(std::string_view value, size_t segments, bool after,
                        std::unique_ptr<IndexCursor>& out) const {
    auto viaMemory = [&](const KeyIndex& m) {
        return after ? m.upperBound(value, segments, out) : m.lowerBound(value, segments, out);
    };
    if (broken()) return fallback("", viaMemory);
    auto c = std::make_unique<TreeCursor>(*this);
    std::string why;
    switch (c->toBound(value, segments, after, why)) {
    case Step::Ok: out = std::move(c); return Status::Success;
    case Step::End: return Status::EndOfFile;
    case Step::Fault: break;
    }
    return fallback(why, viaMemory);
}

// ---- TreeCursor ---------------------------------------------------------------

// Reads the child page for the frame on top of the path (whose index names the
// child), checking depth, circles and the key range the ancestors allow.
Step TreeCursor::descend(uint32_t page, NodeRef& out, std::string& why) const {
    if (path_.size() >= kMaxDepth) {
        why = "the index is deeper than " + std::to_string(kMaxDepth) + " levels";
        return Step::Fault;
    }
    for (const Frame& f : path_)
        if (f.node->page == page) {
            why = "index page " + std::to_string(page) + " is its own descendant";
            return Step::Fault;
        }
    if (Step s = index_->node(page, out, why); s != Step::Ok) return s;
    const Node& n = *out;
    if (n.count == 0) {
        if (path_.empty() && (index_->info().recordCount == 0 || index_->nullable())) return Step::End;
        why = "index page " + std::to_string(page) + " is empty";
        return Step::Fault;
    }
    // Nearest bounds from the ancestors: child i lies between entries i-1 and i.
    const KeySpec& key = index_->key();
    bool haveLow = false, haveHigh = false;
    for (auto it = path_.rbegin(); it != path_.rend() && !(haveLow && haveHigh); ++it) {
        const Node& up = *it->node;
        if (!haveLow && it->index > 0) {
            haveLow = true;
            if (compareKeys(key, index_->info(), up.key(it->index - 1), n.key(0)) >= 0) {
                why = "index page " + std::to_string(page) + " holds keys outside its parent's range";
                return Step::Fault;
            }
        }
        if (!haveHigh && it->index < up.count) {
            haveHigh = true;
            if (compareKeys(key, index_->info(), n.key(n.count - 1), up.key(it->index)) >= 0) {
                why = "index page " + std::to_string(page) + " holds keys outside its parent's range";
                return Step::Fault;
            }
        }
    }
    return Step::Ok;
}

Step TreeCursor::leftmost(uint32_t page, std::string& why) {
    if (page == kNone) return noRoot(why);
    for (;;) {
        NodeRef n;
        if (Step s = descend(page, n, why); s != Step::Ok) return s;
        path_.push_back({n, 0});
        if (n->leaf) break;
        page = n->children[0];
    }
    return land(true, why);
}

Step TreeCursor::rightmost(uint32_t page, std::string& why) {
    if (page == kNone) return noRoot(why);
    for (;;) {
        NodeRef n;
        if (Step s = descend(page, n, why); s != Step::Ok) return s;
        if (n->leaf) {
            path_.push_back({n, n->count - 1});
            break;
        }
        path_.push_back({n, n->count});
        page = n->children[n->count];
    }
    return land(false, why);
}

// Stands on the current entry's first (forward) or last record.
Step TreeCursor::land(bool forward, std::string& why) {
    const Node& n = top();
    const uint32_t i = topIndex();
    if (index_->duplicates()) {
        if (Step s = index_->chain(n, i, group_, why); s != Step::Ok) return s;
        member_ = forward ? 0 : group_->addresses.size() - 1;
        addr_ = group_->addresses[member_];
        key_.assign(group_->key(member_));
        return Step::Ok;
    }
    addr_ = n.first[i];
    RecordAddress prev, next;
    if (Step s = index_->record(addr_, key_, prev, next, why); s != Step::Ok) return s;
    if (compareKeys(index_->key(), index_->info(), key_, n.key(i)) != 0) {
        why = "an entry's key differs from its record's";
        return Step::Fault;
    }
    return Step::Ok;
}

// One record along the current entry's checked chain; End at the chain's end.
Step TreeCursor::chainStep(bool forward) {
    if (!group_) return Step::End;
    if (forward ? member_ + 1 >= group_->addresses.size() : member_ == 0) return Step::End;
    member_ = forward ? member_ + 1 : member_ - 1;
    addr_ = group_->addresses[member_];
    key_.assign(group_->key(member_));
    return Step::Ok;
}

Step TreeCursor::step(bool forward, std::string& why) {
    if (path_.empty()) return Step::End;
    if (chainStep(forward) == Step::Ok) return Step::Ok;
    Frame& t = path_.back();
    const Node& n = *t.node;
    if (forward) {
        if (!n.leaf) {
            t.index += 1;
            return leftmost(n.children[t.index], why);
        }
        if (t.index + 1 < n.count) {
            ++t.index;
            return land(true, why);
        }
        path_.pop_back();
        while (!path_.empty() && path_.back().index == path_.back().node->count) path_.pop_back();
        if (path_.empty()) return Step::End;
        return land(true, why);
    }
    if (!n.leaf) return rightmost(n.children[t.index], why);
    if (t.index > 0) {
        --t.index;
        return land(false, why);
    }
    path_.pop_back();
    while (!path_.empty() && path_.back().index == 0) path_.pop_back();
    if (path_.empty()) return Step::End;
    path_.back().index -= 1;
    return land(false, why);
}

Status TreeCursor::move(bool forward) {
    if (mem_) return forward ? mem_->next() : mem_->previous();
    if (index_->broken()) return toMemory(forward);
    if (walk_ != (forward ? 1 : -1)) walk_ = 0;
    TreeCursor moved(*this);
    std::string why;
    switch (moved.step(forward, why)) {
    case Step::Ok:
        ++moved.walked_;
        *this = std::move(moved);
        return Status::Success;
    case Step::End:
        if (walk_ == 0 || index_->walkComplete(walked_)) return Status::EndOfFile;
        why = "a walk through the index reached " + std::to_string(walked_) + " of " +
              std::to_string(index_->info().recordCount) + " records";
        break;
    case Step::Fault: break;
    }
    index_->breakDown(why);
    return toMemory(forward);
}

// Continues on the in-memory index from the record this cursor stands on. When
// the cursor has passed all records of its value in the direction of travel (as
// it has whenever the tree faults: chains are checked whole before use), it goes
// on from the next value, whatever order the in-memory index gives duplicates;
// otherwise (another cursor found the fault) from the same record.
Status TreeCursor::toMemory(bool forward) {
    const KeyIndex* mem = nullptr;
    if (Status st = index_->memory(mem); !ok(st)) return st;
    const KeySpec& key = index_->key();
    const size_t all = key.segments.size();
    const bool passed = !group_ || (forward ? member_ + 1 >= group_->addresses.size() : member_ == 0);
    std::unique_ptr<IndexCursor> c;
    Status st = Status::Success;
    if (!passed) {
        st = mem->lowerBound(key_, all, c);
        while (ok(st) && c->address() != addr_ && compareKeys(key, index_->info(), c->key(), key_) == 0)
            st = c->next();
        if (ok(st) && c->address() == addr_) {
            st = forward ? c->next() : c->previous();
            if (!ok(st)) return st;
            mem_ = std::move(c);
            return Status::Success;
        }
    }
    if (forward) {
        st = mem->upperBound(key_, all, c);
    } else {
        st = mem->lowerBound(key_, all, c);
        if (ok(st)) st = c->previous();
        else if (st == Status::EndOfFile) st = mem->last(c);
    }
    if (!ok(st)) return st;
    mem_ = std::move(c);
    return Status::Success;
}

Step TreeCursor::toBound(std::string_view value, size_t segments, bool after, std::string& why) {
    walk_ = 0;
    const KeySpec prefix = leadingSegments(index_->key(), segments);
    const size_t length = prefix.totalLength();
    uint32_t page = index_->root();
    if (page == kNone) return noRoot(why);
    for (;;) {
        NodeRef n;
        if (Step s = descend(page, n, why); s != Step::Ok) return s;
        // The first entry at (or after) value; the keys of a node are strictly increasing.
        uint32_t lo = 0, hi = n->count;
        while (lo < hi) {
            const uint32_t mid = lo + (hi - lo) / 2;
            const int c = compareKeys(prefix, index_->info(), n->key(mid).substr(0, length), value);
            if (c < 0 || (after && c == 0)) lo = mid + 1;
            else hi = mid;
        }
        path_.push_back({n, lo});
        if (n->leaf) break;
        page = n->children[lo];
    }
    if (topIndex() == top().count) {
        path_.pop_back();
        while (!path_.empty() && path_.back().index == path_.back().node->count) path_.pop_back();
        if (path_.empty()) return Step::End;
    }
    return land(true, why);
}

// Visits the entries under page in key order (child 0, entry 0, child 1, ...,
// the right-most child), each page checked; false at the first fault, or as soon
// as visit returns false.
template <class Visit>
bool walkInOrder(const TreeIndex& index, uint32_t page, size_t depth, Visit& visit, std::string& why) {
    if (depth >= kMaxDepth) {
        why = "the index is deeper than " + std::to_string(kMaxDepth) + " pages";
        return false;
    }
    NodeRef n;
    if (index.node(page, n, why) != Step::Ok) return false;
    for (uint32_t i = 0; i <= n->count; ++i) {
        if (!n->leaf && !walkInOrder(index, n->children[i], depth + 1, visit, why)) return false;
        if (i < n->count && !visit(*n, i, why)) return false;
    }
    return true;
}

// An in-order walk over a tree's entries that checks each against the next of
// the records in the engine's order: its first record (and with duplicates its
// last, the end of the value's run) must be the next in order, and its key that
// record's under the key's collation. Each entry takes at least one record, so
// the walk ends after as many entries as there are records.
class TreeCheck {
public:
    TreeCheck(const TreeIndex& index, const File& file, const std::vector<RecordAddress>& order)
        : index_(index), file_(file), order_(order) {}

    std::string run() {
        std::string why;
        auto visit = [this](const Node& n, uint32_t i, std::string& w) { return entry(n, i, w); };
        if (index_.root() != kNone && !walkInOrder(index_, index_.root(), 0, visit, why)) return why;
        if (at_ != order_.size())
            return "a walk through the index reached " + std::to_string(at_) + " of " +
                   std::to_string(order_.size()) + " records";
        return {};
    }

private:
    bool entry(const Node& n, uint32_t i, std::string& why) {
        if (at_ >= order_.size() || order_[at_] != n.first[i]) {
            why = "the index lists the records in another order than their keys give";
            return false;
        }
        if (!sameKey(n, i, n.first[i], why)) return false;
        if (index_.duplicates()) {
            while (at_ < order_.size() && order_[at_] != n.last[i]) ++at_;
            if (at_ == order_.size()) {
                why = "a duplicate chain ends before its entry's last record";
                return false;
            }
            if (n.last[i] != n.first[i] && !sameKey(n, i, n.last[i], why)) return false;
        }
        ++at_;
        return true;
    }

    bool sameKey(const Node& n, uint32_t i, RecordAddress addr, std::string& why) {
        std::string_view rec;
        if (Status st = file_.readRecordView(addr, rec, scratch_); !ok(st)) {
            why = "an entry's record cannot be read (" + statusText(st) + ")";
            return false;
        }
        if (compareKeys(index_.key(), index_.info(), extractKey(index_.key(), rec), n.key(i)) != 0) {
            why = "an entry's key differs from its record's";
            return false;
        }
        return true;
    }

    const TreeIndex& index_;
    const File& file_;
    const std::vector<RecordAddress>& order_;
    size_t at_ = 0;
    std::string scratch_;
};

// An in-order walk that lists the records a tree names: each page checked as in
// any walk but for the order of its entries, each entry's key its records' (with
// duplicates, every record of the chain, whose links are checked both ways).
class TreeListing {
public:
    explicit TreeListing(const TreeIndex& index) : index_(index) {}

    std::string run(std::vector<RecordAddress>& out) {
        std::string why;
        auto visit = [&](const Node& n, uint32_t i, std::string& w) { return entry(n, i, out, w); };
        if (index_.root() != kNone && !walkInOrder(index_, index_.root(), 0, visit, why)) return why;
        return {};
    }

private:
    bool entry(const Node& n, uint32_t i, std::vector<RecordAddress>& out, std::string& why) {
        // Every entry takes a record: more entries than records is a tree gone round.
        if (out.size() >= index_.info().recordCount) {
            why = "the index lists more records than the file holds";
            return false;
        }
        if (index_.duplicates()) {
            ChainRef c;
            if (index_.chain(n, i, c, why) != Step::Ok) return false;
            out.insert(out.end(), c->addresses.begin(), c->addresses.end());
            return true;
        }
        std::string key;
        RecordAddress prev, next;
        if (index_.record(n.first[i], key, prev, next, why) != Step::Ok) return false;
        if (compareKeys(index_.key(), index_.info(), key, n.key(i)) != 0) {
            why = "an entry's key differs from its record's";
            return false;
        }
        out.push_back(n.first[i]);
        return true;
    }

    const TreeIndex& index_;
};

}  // namespace

std::string treeListing(const File& file, const KeySpec& key, const std::vector<RecordAddress>& order,
                        std::vector<RecordAddress>& out) {
    out.clear();
    if (std::string why = fileIndexUnusable(file, key); !why.empty()) return why;
    std::shared_ptr<const RecordSource> unowned(std::shared_ptr<const RecordSource>(), &file);
    TreeIndex index(unowned, file, key);
    index.ignoreEntryOrder();
    std::string why;
    if (index.init(why) != Step::Ok || !(why = TreeListing(index).run(out)).empty()) {
        out.clear();
        return why;
    }
    // Each record the file holds under the key, once: the same records as order.
    std::vector<RecordAddress> listed = out, expected = order;
    std::sort(listed.begin(), listed.end());
    std::sort(expected.begin(), expected.end());
    if (listed != expected) {
        out.clear();
        return listed.size() == expected.size() ? "the index lists some records twice and others not at all"
                                                : "the index lists " + std::to_string(listed.size()) + " of " +
                                                      std::to_string(expected.size()) + " records";
    }
    return {};
}

std::string treeDisagreement(const File& file, const KeySpec& key, const std::vector<RecordAddress>& order) {
    if (!fileIndexUnusable(file, key).empty()) return {};
    // A walk with nothing shared: the index holds its File by reference only.
    std::shared_ptr<const RecordSource> unowned(std::shared_ptr<const RecordSource>(), &file);
    TreeIndex index(unowned, file, key);
    std::string why;
    if (index.init(why) != Step::Ok) return why;
    return TreeCheck(index, file, order).run();
}

// ---- choosing an index ------------------------------------------------------------

std::string fileIndexUnusable(const RecordSource& source, const KeySpec& key) {
    const auto* file = dynamic_cast<const File*>(&source);
    if (!file) return "not a file";
    const FileInfo& info = file->info();
    const uint16_t flags = key.flags();
    if (flags & keyflag::RepeatingDuplicates) return "repeating-duplicate key: index layout not known";
    if (key.segments.empty()) return "key without segments";
    if (!key.damage.empty()) return "damaged key: " + key.damage;
    const bool dups = key.allowsDuplicates();
    if (key.entrySize != 4 + key.totalLength() + (dups ? 8u : 4u)) return "index entry size does not fit the key";
    if (key.entrySize + info.format->indexHeader > info.pageSize) return "index entry larger than a page";
    if (dups && !hasDuplicateChains(*file, key)) return "no duplicate pointers in the records";
    return {};
}

Status makeBTreeIndex(std::shared_ptr<const RecordSource> source, const KeySpec& key,
                      std::unique_ptr<KeyIndex>& out, std::string* whyNot) {
    if (!source) return Status::FileNotOpen;
    std::string why = fileIndexUnusable(*source, key);
    if (!why.empty()) {
        if (whyNot) *whyNot = why;
        return Status::UnsupportedLayout;
    }
    const auto& file = dynamic_cast<const File&>(*source);
    auto index = std::make_unique<TreeIndex>(source, file, key);
    if (index->init(why) != Step::Ok) {
        if (whyNot) *whyNot = "fell back: " + why;
        return Status::Corrupt;
    }
    out = std::move(index);
    return Status::Success;
}

bool fileIndexSwitchedOff() {
    static const bool off = [] {
        const char* v = std::getenv("BTRIEVE_NO_FILE_INDEX");
        return v && *v && std::string_view(v) != "0";
    }();
    return off;
}

Status makeDefaultIndex(std::shared_ptr<const RecordSource> source, const KeySpec& key,
                        std::unique_ptr<KeyIndex>& out) {
    if (!source) return Status::FileNotOpen;
    std::string why = "walk of the file's index switched off";
    if (!fileIndexSwitchedOff() && ok(makeBTreeIndex(source, key, out, &why))) return Status::Success;
    std::unique_ptr<KeyIndex> memory;
    if (Status st = makeMemoryIndex(std::move(source), key, memory); !ok(st)) return st;
    out = std::make_unique<LabelledIndex>(std::move(memory), why);
    return Status::Success;
}

}  // namespace btrieve
