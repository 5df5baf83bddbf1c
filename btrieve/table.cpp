// Key-ordered navigation: a position (an index cursor) on the active key's index
// and the bytes of the record it stands on. Every move works on a copy of the
// cursor and takes it only when the move succeeds, so a failed move leaves the
// current record current.
//
// Following a file another program writes: each navigation call first asks the
// source whether the file changed since it was read. When it did, the file is
// opened afresh, the indexes are dropped (made again from the new version when
// next needed), and the current record is looked up again by its key and address.
// After the call's reads the source is asked again: reads that raced a commit may
// mix versions, so the call is undone and made again on the new version, up to
// kAttempts times (then Conflict, standing where it stood before the call).
#include "btrieve/table.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "btrieve/index_btree.h"
#include "btrieve/keys.h"

namespace btrieve {

namespace {
constexpr int kAttempts = 12;
}

class Table::Impl {
public:
    std::shared_ptr<const RecordSource> source;
    IndexFactory factory = makeDefaultIndex;
    int active = 0;
    std::vector<std::unique_ptr<KeyIndex>> indexes;  // by position in info().keys, made on first use
    std::unique_ptr<IndexCursor> pos;                 // declared after indexes: destroyed first
    std::string record;
    bool loaded = false;
    // The current record's key and address when the file changed under it and it
    // is not in the new version (deleted, or its key changed): pos is empty, record
    // keeps its last bytes, and moves go on from where its key stood.
    struct Anchor {
        std::string key;
        RecordAddress address = 0;
    };
    std::optional<Anchor> anchor;
    uint64_t generation = 0;
    // Off only for measuring what following costs (BTRIEVE_FOLLOW_CHANGES=0 when
    // the table is made): every call then reads the version first read.
    bool followChanges = true;

    // The position before a call, to go back to when its reads raced a commit:
    // as an anchor, since the cursor belongs to an index that is then dropped.
    struct Saved {
        std::optional<Anchor> at;
        std::string record;
        bool loaded = false;
        int active = 0;
    };
    Saved save() const {
        Saved s{anchor, record, loaded, active};
        if (pos) s.at = Anchor{std::string(pos->key()), pos->address()};
        return s;
    }
    void restore(Saved&& s) {
        pos.reset();
        anchor = std::move(s.at);
        record = std::move(s.record);
        loaded = s.loaded;
        active = s.active;
    }

    // Runs one navigation call on a version of the file that held still while it
    // read (taking up that version first, when the file changed).
    template <class Op>
    Status live(Op&& op) {
        if (!followChanges) return source ? op() : Status::FileNotOpen;
        for (int attempt = 0;; ++attempt) {
            if (attempt > 0) pauseBeforeRetry(attempt);
            Saved before = save();
            bool usable = true;
            Status st = follow(usable);
            // The file cannot be looked at, or its new version would not open (the open
            // itself waits out commits under way).
            if (!usable) return st;
            if (ok(st)) st = op();
            bool changed = false;
            if (Status c = source ? source->checkCommitted(changed) : Status::FileNotOpen; !ok(c)) return c;
            if (!changed) return st;
            restore(std::move(before));
            if (attempt + 1 == kAttempts) return Status::Conflict;
        }
    }

    // Takes up the file's current version when it changed.
    // usable: false when the file cannot be looked at or its new version would not open.
    Status follow(bool& usable) {
        usable = false;
        if (!source) return Status::FileNotOpen;
        bool changed = false;
        if (Status st = source->checkChanged(changed); !ok(st) || !changed) {
            usable = ok(st);
            return st;
        }
        std::shared_ptr<const RecordSource> fresh;
        if (Status st = source->reopen(fresh); !ok(st)) return st;
        usable = true;
        if (pos) anchor = Anchor{std::string(pos->key()), pos->address()};
        pos.reset();
        indexes.clear();
        source = std::move(fresh);
        ++generation;
        return anchor ? findAgain() : Status::Success;
    }

    // Finds the anchored record in the new version: the entry with its key (and,
    // where the key allows duplicates, its address), read afresh since it may
    // have been updated. When it is gone the anchor stays.
    Status findAgain() {
        KeyIndex* idx = nullptr;
        if (!findKey(active)) {
            anchor.reset(), loaded = false, record.clear();
            return Status::Success;
        }
        if (Status st = index(idx); !ok(st)) return st;
        const KeySpec& key = idx->key();
        std::unique_ptr<IndexCursor> c;
        Status st = idx->lowerBound(anchor->key, key.segments.size(), c);
        for (; ok(st) && compareKeys(key, source->info(), c->key(), anchor->key) == 0; st = c->next()) {
            if (key.allowsDuplicates() && c->address() != anchor->address) continue;
            return land(std::move(c));
        }
        return st == Status::EndOfFile ? Status::Success : st;
    }

    // Stands on the anchored record again when it is there (a call undone after
    // its reads raced a commit leaves only the anchor).
    Status regain() { return !pos && anchor ? findAgain() : Status::Success; }

    // The entry next to the anchor: the first at or after its key going forward,
    // the last before it going back.
    Status besideAnchor(bool forward, std::unique_ptr<IndexCursor>& c) {
        KeyIndex* idx = nullptr;
        if (Status st = index(idx); !ok(st)) return st;
        Status st = idx->lowerBound(anchor->key, idx->key().segments.size(), c);
        if (forward) return st;
        if (ok(st)) return c->previous();
        return st == Status::EndOfFile ? idx->last(c) : st;
    }

    const KeySpec* findKey(int number) const {
        if (!source) return nullptr;
        for (const auto& k : source->info().keys)
            if (k.number == number) return &k;
        return nullptr;
    }

    Status indexFor(int number, KeyIndex*& out) {
        if (!source) return Status::FileNotOpen;
        const auto& keys = source->info().keys;
        size_t slot = keys.size();
        for (size_t i = 0; i < keys.size(); ++i)
            if (keys[i].number == number) slot = i;
        if (slot == keys.size()) return Status::InvalidKeyNumber;
        if (indexes.size() < keys.size()) indexes.resize(keys.size());
        if (!indexes[slot]) {
            std::unique_ptr<KeyIndex> made;
            const Status st = factory(source, keys[slot], made);
            if (!ok(st)) return st;
            if (!made) return Status::IncompleteIndex;
            indexes[slot] = std::move(made);
        }
        out = indexes[slot].get();
        return Status::Success;
    }
    Status index(KeyIndex*& out) { return indexFor(active, out); }

    // Stands on c and reads its record.
    Status land(std::unique_ptr<IndexCursor> c) {
        std::string bytes;
        const Status st = source->readRecord(c->address(), bytes);
        pos = std::move(c);
        anchor.reset();
        if (!ok(st)) {
            record.clear();
            loaded = false;
            return st;
        }
        record = std::move(bytes);
        loaded = true;
        return Status::Success;
    }

    Status moveEnd(bool toLast) {
        KeyIndex* idx = nullptr;
        if (Status st = index(idx); !ok(st)) return st;
        std::unique_ptr<IndexCursor> c;
        const Status st = toLast ? idx->last(c) : idx->first(c);
        if (!ok(st)) return st;
        return land(std::move(c));
    }

    Status step(bool forward) {
        std::unique_ptr<IndexCursor> c;
        Status st = regain();
        if (!ok(st)) return st;
        if (pos) {
            c = pos->clone();
            st = forward ? c->next() : c->previous();
        } else if (anchor) {
            st = besideAnchor(forward, c);
        } else {
            return moveEnd(!forward);
        }
        if (!ok(st)) return st;
        return land(std::move(c));
    }

    Status seek(SeekOp op, std::string_view keyValue) {
        KeyIndex* idx = nullptr;
        if (Status st = index(idx); !ok(st)) return st;
        const KeySpec& key = idx->key();
        const std::string value = padKeyValue(key, keyValue);
        const size_t all = key.segments.size();
        std::unique_ptr<IndexCursor> c;
        Status st = Status::Success;
        switch (op) {
        case SeekOp::Eq:
            st = idx->lowerBound(value, all, c);
            if (ok(st) && compareKeys(key, source->info(), c->key(), value) != 0) st = Status::KeyNotFound;
            break;
        case SeekOp::Ge:
            st = idx->lowerBound(value, all, c);
            break;
        case SeekOp::Gt:
            st = idx->upperBound(value, all, c);
            break;
        case SeekOp::Le:
        case SeekOp::Lt:
            // The entry just before the first one at (Lt) or after (Le) the value.
            st = op == SeekOp::Le ? idx->upperBound(value, all, c) : idx->lowerBound(value, all, c);
            if (ok(st)) st = c->previous();
            else if (st == Status::EndOfFile) st = idx->last(c);
            break;
        }
        if (!ok(st)) return st == Status::EndOfFile ? Status::KeyNotFound : st;
        return land(std::move(c));
    }

    Status find(const Criteria& criteria, bool afterCurrent) {
        KeyIndex* idx = nullptr;
        if (Status st = index(idx); !ok(st)) return st;
        const FileInfo& info = source->info();
        // "=" terms on the active key's leading segments bound the search to one key range.
        const auto prefix = criteria.pinnedKeyPrefix(idx->key());
        const KeySpec prefixKey = prefix ? leadingSegments(idx->key(), prefix->segments) : KeySpec{};
        const size_t prefixLength = prefixKey.totalLength();
        auto vsPrefix = [&](const IndexCursor& c) {
            return compareKeys(prefixKey, info, c.key().substr(0, prefixLength), prefix->bytes);
        };

        std::unique_ptr<IndexCursor> c;
        Status st = Status::Success;
        if (afterCurrent && (pos || anchor)) {
            if (Status r = regain(); !ok(r)) return r;
            if (pos) {
                c = pos->clone();
                st = c->next();
            } else {
                st = besideAnchor(true, c);
            }
            if (ok(st) && prefix && vsPrefix(*c) < 0) st = idx->lowerBound(prefix->bytes, prefix->segments, c);
        } else {
            st = prefix ? idx->lowerBound(prefix->bytes, prefix->segments, c) : idx->first(c);
        }
        std::string bytes;
        for (; ok(st); st = c->next()) {
            if (prefix && vsPrefix(*c) > 0) return Status::EndOfFile;
            const Status read = source->readRecord(c->address(), bytes);
            if (!ok(read)) {
                pos = std::move(c);
                anchor.reset();
                record.clear();
                loaded = false;
                return read;
            }
            if (criteria.matches(bytes)) {
                pos = std::move(c);
                anchor.reset();
                record = std::move(bytes);
                loaded = true;
                return Status::Success;
            }
        }
        return st;
    }

    // Finds the current record in key number's index, so that switching keys keeps it current.
    Status switchKey(int number) {
        if (!findKey(number)) return Status::InvalidKeyNumber;
        if (!pos || !loaded) {
            active = number;
            pos.reset();
            anchor.reset();
            loaded = false;
            record.clear();
            return Status::Success;
        }
        KeyIndex* idx = nullptr;
        if (Status st = indexFor(number, idx); !ok(st)) return st;
        const RecordAddress here = pos->address();
        const std::string value = extractKey(idx->key(), record);
        std::unique_ptr<IndexCursor> c;
        Status st = idx->lowerBound(value, idx->key().segments.size(), c);
        while (ok(st) && c->address() != here &&
               compareKeys(idx->key(), source->info(), c->key(), value) == 0)
            st = c->next();
        active = number;
        if (ok(st) && c->address() == here) {
            pos = std::move(c);
        } else {
            pos.reset();
            loaded = false;
            record.clear();
        }
        return Status::Success;
    }
};

Table::Table(std::shared_ptr<const RecordSource> source) : impl_(std::make_unique<Impl>()) {
    impl_->source = std::move(source);
    const char* follow = std::getenv("BTRIEVE_FOLLOW_CHANGES");
    impl_->followChanges = !(follow && std::strcmp(follow, "0") == 0);
}
Table::~Table() = default;

const FileInfo& Table::info() const {
    static const FileInfo none;
    return impl_->source ? impl_->source->info() : none;
}
Status Table::setActiveKey(int keyNumber) {
    return impl_->live([&] { return impl_->switchKey(keyNumber); });
}
int Table::activeKey() const { return impl_->active; }

Status Table::moveFirst() { return impl_->live([&] { return impl_->moveEnd(false); }); }
Status Table::moveLast() { return impl_->live([&] { return impl_->moveEnd(true); }); }
Status Table::moveNext() { return impl_->live([&] { return impl_->step(true); }); }
Status Table::movePrevious() { return impl_->live([&] { return impl_->step(false); }); }
Status Table::seek(SeekOp op, std::string_view keyValue) {
    return impl_->live([&] { return impl_->seek(op, keyValue); });
}
Status Table::findFirst(const Criteria& criteria) {
    return impl_->live([&] { return impl_->find(criteria, false); });
}
Status Table::findNext(const Criteria& criteria) {
    return impl_->live([&] { return impl_->find(criteria, true); });
}

Status Table::countRecords(uint64_t& out) {
    out = 0;
    return impl_->live([&] {
        uint64_t n = 0;
        const Status st = impl_->source->forEachRecord([&n](RecordAddress, const std::string&) {
            ++n;
            return true;
        });
        out = n;
        return st;
    });
}

Status Table::follow() { return impl_->live([] { return Status::Success; }); }
uint64_t Table::generation() const { return impl_->generation; }
std::shared_ptr<const RecordSource> Table::source() const { return impl_->source; }

void Table::setIndexFactory(IndexFactory factory) {
    impl_->pos.reset();
    impl_->anchor.reset();
    impl_->loaded = false;
    impl_->record.clear();
    impl_->indexes.clear();
    impl_->factory = factory ? std::move(factory) : IndexFactory(makeDefaultIndex);
}

std::string Table::indexDescription(int keyNumber) {
    KeyIndex* idx = nullptr;
    const Status st = impl_->indexFor(keyNumber, idx);
    return ok(st) ? idx->description() : "unavailable (" + statusText(st) + ")";
}

Status Table::verifyIndex(int keyNumber) {
    KeyIndex* idx = nullptr;
    if (Status st = impl_->indexFor(keyNumber, idx); !ok(st)) return st;
    std::unique_ptr<IndexCursor> c;
    Status st = idx->first(c);
    while (ok(st)) st = c->next();
    return st == Status::EndOfFile ? Status::Success : st;
}

bool Table::hasCurrent() const { return impl_->loaded; }
const std::string& Table::currentRecord() const {
    static const std::string empty;
    return impl_->loaded ? impl_->record : empty;
}
std::optional<RecordAddress> Table::currentAddress() const {
    if (!impl_->pos) return std::nullopt;
    return impl_->pos->address();
}

}  // namespace btrieve
