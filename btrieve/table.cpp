// Key-ordered navigation: a position (an index cursor) on the active key's index
// and the bytes of the record it stands on. Every move works on a copy of the
// cursor and takes it only when the move succeeds, so a failed move leaves the
// current record current.
#include "btrieve/table.h"

#include <vector>

#include "btrieve/index_btree.h"
#include "btrieve/keys.h"

namespace btrieve {

class Table::Impl {
public:
    std::shared_ptr<const RecordSource> source;
    IndexFactory factory = makeDefaultIndex;
    int active = 0;
    std::vector<std::unique_ptr<KeyIndex>> indexes;  // by position in info().keys, made on first use
    std::unique_ptr<IndexCursor> pos;                 // declared after indexes: destroyed first
    std::string record;
    bool loaded = false;

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
        if (!pos) return moveEnd(!forward);
        auto c = pos->clone();
        const Status st = forward ? c->next() : c->previous();
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
        if (afterCurrent && pos) {
            c = pos->clone();
            st = c->next();
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
                record.clear();
                loaded = false;
                return read;
            }
            if (criteria.matches(bytes)) {
                pos = std::move(c);
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
}
Table::~Table() = default;

const FileInfo& Table::info() const {
    static const FileInfo none;
    return impl_->source ? impl_->source->info() : none;
}
Status Table::setActiveKey(int keyNumber) { return impl_->switchKey(keyNumber); }
int Table::activeKey() const { return impl_->active; }

Status Table::moveFirst() { return impl_->moveEnd(false); }
Status Table::moveLast() { return impl_->moveEnd(true); }
Status Table::moveNext() { return impl_->step(true); }
Status Table::movePrevious() { return impl_->step(false); }
Status Table::seek(SeekOp op, std::string_view keyValue) { return impl_->seek(op, keyValue); }
Status Table::findFirst(const Criteria& criteria) { return impl_->find(criteria, false); }
Status Table::findNext(const Criteria& criteria) { return impl_->find(criteria, true); }

void Table::setIndexFactory(IndexFactory factory) {
    impl_->pos.reset();
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
