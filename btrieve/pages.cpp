#include "btrieve/pages.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace btrieve::detail {

const char* describe(ReadMode mode) {
    switch (mode) {
    case ReadMode::Mapping: return "mapping and pread";
    case ReadMode::PreadAsked: return "pread (asked for)";
    case ReadMode::PreadNetwork: return "pread (network filesystem)";
    case ReadMode::PreadNoMapping: return "pread (the file cannot be mapped)";
    }
    return "pread";
}

Status PageStore::open(const std::string& path, std::unique_ptr<PageStore>& out) {
    return open(path, out, Options{});
}

Status PageStore::open(const std::string& path, std::unique_ptr<PageStore>& out, const Options& options) {
    out.reset();
    OsFile file;
    uint64_t size = 0;
    if (Status s = OsFile::openToRead(path, file, size); !ok(s)) return s;
    out = std::make_unique<PageStore>(Key{}, std::move(file), size);
    PageStore& s = *out;
    FileFacts facts;
    if (ok(s.file_.facts(facts))) s.device_ = facts.device, s.inode_ = facts.inode;
    // Map the file when the guard can protect the mapping and the file is local;
    // else pread only.
    const char* forced = std::getenv("BTRIEVE_READS");
    if (!options.map || (forced && std::strcmp(forced, "pread") == 0))
        s.readMode_ = ReadMode::PreadAsked;
    else if (s.file_.onNetworkFilesystem())
        s.readMode_ = ReadMode::PreadNetwork;
    if (s.readMode_ == ReadMode::PreadNoMapping && s.mapping_.map(s.file_, s.size_)) {
        s.map_ = s.mapping_.data();
        s.readMode_ = ReadMode::Mapping;
        s.tallies_[kSlots].recent = std::make_unique<std::atomic<uint64_t>[]>(kRecentPages);
    }
    s.advise(AccessHint::Random);
    return Status::Success;
}

// What the kernel is told of the coming reads: on the descriptor for pread, on the
// mapping for faults. Random: read nothing beyond the pages asked for (on this
// kernel a fault on a mapping read as normal brings in megabytes around it).
// Sequential: read far ahead. Normal: the kernel's own guess. Only advice; where
// the system lacks a call it is skipped.
void PageStore::advise(AccessHint pattern) const {
    file_.advise(pattern);
    mapping_.advise(pattern);
}

void PageStore::turnToMapping() const {
    if (map_) viaMap_.store(true, std::memory_order_release);
}

void PageStore::beginPass() const {
    std::lock_guard lock(passMutex_);
    if (passes_++ == 0) advise(AccessHint::Sequential);
    turnToMapping();
}

void PageStore::endPass() const {
    std::lock_guard lock(passMutex_);
    // Reads by address follow a pass (the export's gather, the in-memory index's
    // moves): random, over pages the pass has just brought in.
    if (--passes_ == 0) advise(AccessHint::Random);
}

PageStore::~PageStore() = default;

bool PageStore::truncated() const {
    if (shortRead_.load(std::memory_order_relaxed)) return true;
    return mapping_.faulted();
}

Status PageStore::checkSize() const {
    FileFacts now;
    if (!ok(file_.facts(now))) return Status::IoError;
    if (now.size < size_) shortRead_.store(true);
    return truncated() ? Status::Truncated : Status::Success;
}

Status PageStore::readAt(uint64_t offset, size_t length, std::string& out) const {
    out.clear();
    addRead(threadSlot());
    if (offset > size_ || length > size_ - offset) return Status::Truncated;
    // Always pread: a single read must not fault the mapping in (it would bring in,
    // and keep resident, far more of the file than the page asked for).
    const Status s = preadAll(offset, length, out);
    if (s == Status::Truncated) shortRead_.store(true);  // the file shrank under us
    return s;
}

Status PageStore::peek(uint64_t offset, size_t length, std::string& out, PeekVia via) const {
    if (via == PeekVia::MappingWhereMapped && map_ && offset <= size_ && length <= size_ - offset) {
        // The mapping shows the file as it is now; a part cut off meanwhile faults
        // and comes back as zeros, and the store then says truncated.
        out.assign(map_ + offset, length);
        return truncated() ? Status::Truncated : Status::Success;
    }
    return preadAll(offset, length, out);
}

Status PageStore::preadAll(uint64_t offset, size_t length, std::string& out) const {
    out.resize(length);
    return file_.readAll(offset, out.data(), length);
}

void PageStore::setPageSize(uint32_t pageSize) {
    std::lock_guard lock(mutex_);
    pageSize_ = pageSize;
    pages_ = pageSize ? size_ / pageSize : 0;
    cacheLimit_ = std::max(kCachePages, pageSize ? kCacheBytes / pageSize : 0);
    lru_.clear();
    index_.clear();
}

void PageStore::setOwnerXor(const std::array<uint8_t, 8>& key, uint64_t firstPage) {
    std::lock_guard lock(mutex_);
    xor_ = true;
    xorKey_ = key;
    xorFirstPage_ = firstPage;
    lru_.clear();
    index_.clear();
}

// The page falls into quarters of 256 bytes; quarter q uses the block pair
// K[2q] (even offsets) and K[2q+1] (odd offsets). Only 1024-byte pages are known
// to work this way, and the caller refuses other sizes.
// bytes holds whole pages from firstPage on; those from xorFirstPage_ on are
// decrypted.
void PageStore::decrypt(std::string& bytes, uint64_t firstPage) const {
    if (!xor_ || pageSize_ == 0) return;
    for (size_t at = 0; at < bytes.size(); at += pageSize_) {
        if (firstPage + at / pageSize_ < xorFirstPage_) continue;
        const size_t end = std::min<size_t>(bytes.size(), at + pageSize_);
        for (size_t o = 0; at + o < end; ++o) {
            const size_t k = (2 * (o / 256) + (o % 2)) % xorKey_.size();
            bytes[at + o] = static_cast<char>(static_cast<uint8_t>(bytes[at + o]) ^ xorKey_[k]);
        }
    }
}

unsigned PageStore::threadSlot() {
    // Bit s of taken: slot s is held by a live thread, whose id is owners[s]. A
    // thread claims the lowest free slot when it first counts and gives it back
    // when it ends, after its last count (release), before the next holder's first
    // (acquire).
    static std::atomic<uint32_t> taken{0};
    static std::array<std::atomic<std::thread::id>, kSlots> owners{};
    static_assert(kSlots <= 32);
    struct Claim {
        unsigned slot = kSlots;
        Claim() {
            uint32_t held = taken.load(std::memory_order_relaxed);
            for (;;) {
                const uint32_t free = ~held & ((uint64_t{1} << kSlots) - 1);
                if (!free) return;
                const unsigned s = static_cast<unsigned>(__builtin_ctz(free));
                if (taken.compare_exchange_weak(held, held | 1u << s, std::memory_order_acquire,
                                                std::memory_order_relaxed)) {
                    owners[s].store(std::this_thread::get_id(), std::memory_order_relaxed);
                    slot = s;
                    return;
                }
            }
        }
        // Finds the slot by the thread's id and reads nothing of this object:
        // MinGW's GCC (before 16) keeps thread_local objects in emulated storage
        // that a thread's end may free before their destructors run.
        ~Claim() {
            const std::thread::id me = std::this_thread::get_id();
            for (unsigned s = 0; s < kSlots; ++s) {
                if (owners[s].load(std::memory_order_relaxed) != me) continue;
                owners[s].store(std::thread::id(), std::memory_order_relaxed);
                taken.fetch_and(~(1u << s), std::memory_order_release);
                return;
            }
        }
    };
    thread_local const Claim claim;
    return claim.slot;
}

uint64_t PageStore::reads() const {
    uint64_t n = 0;
    for (const Tally& t : tallies_) n += t.reads.load(std::memory_order_relaxed);
    return n;
}

void PageStore::addRead(unsigned slot) const {
    std::atomic<uint64_t>& n = tallies_[slot].reads;
    if (slot == kSlots)
        n.fetch_add(1, std::memory_order_relaxed);
    else  // this thread is the tally's only writer
        n.store(n.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

void PageStore::countMapped(uint64_t page) const {
    const unsigned slot = threadSlot();
    Tally& t = tallies_[slot];
    if (!t.recent) t.recent = std::make_unique<std::atomic<uint64_t>[]>(kRecentPages);  // held slots only
    auto& e = t.recent[page % kRecentPages];
    if (e.load(std::memory_order_relaxed) == page + 1) return;
    e.store(page + 1, std::memory_order_relaxed);
    addRead(slot);
}

void PageStore::prefetch(uint64_t page, uint32_t offset, uint32_t length) const {
    if (!viaMapping() || page >= physicalPages() || offset >= pageSize_) return;
    const char* p = map_ + page * pageSize_;
    __builtin_prefetch(p);
    const uint32_t end = std::min(pageSize_, offset + length);
    for (uint32_t o = offset; o < end; o += 64) __builtin_prefetch(p + o);
}

void PageStore::prefetchLines(uint64_t page, const uint32_t* offsets, size_t n) const {
    if (!viaMapping() || page >= physicalPages()) return;
    const char* p = map_ + page * pageSize_;
    for (size_t i = 0; i < n; ++i) __builtin_prefetch(p + offsets[i]);
}

void PageStore::release(uint64_t first, uint64_t end) const {
    if (!viaMapping() || first >= end || pageSize_ == 0) return;
    // Whole 2 MB spans of the mapping only: the kernel may map large page-cache
    // folios with one entry a span, and dropping part of a span splits that entry
    // and flushes every core's TLB. What is left over goes with the next range.
    const uintptr_t base = reinterpret_cast<uintptr_t>(map_);
    const uintptr_t limit = base + static_cast<uintptr_t>(size_);
    const uintptr_t from = std::max(base, (base + static_cast<uintptr_t>(first * pageSize_)) & ~(kLargeSpan - 1));
    uintptr_t to = base + static_cast<uintptr_t>(std::min<uint64_t>(end * pageSize_, size_));
    if (to != limit) to &= ~(kLargeSpan - 1);
    if (to > from) mapping_.release(from - base, to - base);
}

Status PageStore::readPage(uint64_t page, PageRef& out) const {
    out.reset();
    if (pageSize_ == 0) return Status::InvalidOperation;
    if (page >= physicalPages() || truncated()) return Status::Truncated;
    const bool decrypted = xor_ && page >= xorFirstPage_;
    if (!decrypted && viaMapping()) {
        countMapped(page);
        out = PageRef(std::string_view(map_ + page * pageSize_, pageSize_));
        return Status::Success;
    }
    std::lock_guard lock(mutex_);
    if (auto it = index_.find(page); it != index_.end()) {
        lru_.splice(lru_.begin(), lru_, it->second);
        out = it->second->second;
        return Status::Success;
    }
    uint64_t run = 1;
    if (passes_.load(std::memory_order_relaxed) > 0)
        run = std::min<uint64_t>({std::max<size_t>(1, kRunBytes / pageSize_), cacheLimit_ / 2, physicalPages() - page});
    std::string bytes;
    Status s = readAt(page * pageSize_, static_cast<size_t>(run * pageSize_), bytes);
    if (!ok(s)) return s;
    decrypt(bytes, page);
    // The pages after the one asked for first, so that it ends up the most recent.
    for (uint64_t i = run; i-- > 1;)
        if (!index_.count(page + i)) cache(page + i, bytes.substr(static_cast<size_t>(i * pageSize_), pageSize_));
    bytes.resize(pageSize_);
    PageRef ref = cache(page, std::move(bytes));
    missBytes_ += run * pageSize_;
    if (missBytes_ > kPreadBudget && !viaMapping() && map_) {
        // A walk across the file: the mapping serves it better, read as the kernel
        // sees fit.
        std::lock_guard passLock(passMutex_);
        if (passes_ == 0) advise(AccessHint::Normal);
        turnToMapping();
    }
    out = std::move(ref);
    return Status::Success;
}

PageRef PageStore::cache(uint64_t page, std::string bytes) const {
    PageRef ref(std::make_shared<const std::string>(std::move(bytes)));
    lru_.emplace_front(page, ref);
    index_[page] = lru_.begin();
    if (lru_.size() > cacheLimit_) {
        index_.erase(lru_.back().first);
        lru_.pop_back();
    }
    return ref;
}

Status PageStore::readPages(uint64_t first, uint32_t count, std::string& out) const {
    out.clear();
    if (pageSize_ == 0) return Status::InvalidOperation;
    if (first >= physicalPages() || count > physicalPages() - first || truncated()) return Status::Truncated;
    const size_t bytes = static_cast<size_t>(count) * pageSize_;
    if (viaMapping()) {
        countMapped(first);
        out.assign(map_ + first * pageSize_, bytes);
        // A fault on the copy may have put zeros in place of a cut-off end.
        if (truncated()) {
            out.clear();
            return Status::Truncated;
        }
    } else {
        Status s = readAt(first * pageSize_, bytes, out);
        if (!ok(s)) return s;
    }
    decrypt(out, first);
    return Status::Success;
}

size_t PageStore::cachedPages() const {
    std::lock_guard lock(mutex_);
    return lru_.size();
}

}  // namespace btrieve::detail
