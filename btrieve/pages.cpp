#include "btrieve/pages.h"

#include "btrieve/open_file.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace btrieve::detail {
namespace {

// The SIGBUS guard: one entry per live mapping. The handler reads the table
// without locks, so entries are claimed and released through their state.
struct GuardEntry {
    std::atomic<int> state{0};  // 0 free, 1 being filled, 2 live
    std::atomic<uintptr_t> begin{0};
    std::atomic<uintptr_t> end{0};  // rounded up to whole system pages
    std::atomic<bool> hit{false};
};
constexpr int kGuardEntries = 256;
GuardEntry g_guard[kGuardEntries];
struct sigaction g_previous {};
std::atomic<uintptr_t> g_systemPage{4096};
// What the system maps with one entry where it can (a large page or a large
// page-cache folio).
constexpr uintptr_t kLargeSpan = uintptr_t{2} << 20;
std::once_flag g_installOnce;
std::atomic<bool> g_installed{false};

void onSigbus(int sig, siginfo_t* info, void* context) {
    const auto at = reinterpret_cast<uintptr_t>(info->si_addr);
    for (auto& e : g_guard) {
        if (e.state.load(std::memory_order_acquire) != 2) continue;
        const uintptr_t begin = e.begin.load(std::memory_order_relaxed);
        const uintptr_t end = e.end.load(std::memory_order_relaxed);
        if (at < begin || at >= end) continue;
        // Zero pages from the faulting page to the end of the mapping: the access
        // is retried on them, and the store reports Truncated from now on.
        const uintptr_t from = at & ~(g_systemPage.load(std::memory_order_relaxed) - 1);
        void* r = ::mmap(reinterpret_cast<void*>(from), end - from, PROT_READ,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (r == MAP_FAILED) break;
        e.hit.store(true, std::memory_order_release);
        return;
    }
    // Not one of ours: whoever handled it before, or the default action.
    if (g_previous.sa_flags & SA_SIGINFO) {
        if (g_previous.sa_sigaction) {
            g_previous.sa_sigaction(sig, info, context);
            return;
        }
    } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
        g_previous.sa_handler(sig);
        return;
    }
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);  // the retried access now ends the process
}

bool installGuard() {
    std::call_once(g_installOnce, [] {
        const long ps = ::sysconf(_SC_PAGESIZE);
        if (ps > 0) g_systemPage.store(static_cast<uintptr_t>(ps));
        struct sigaction sa {};
        sa.sa_sigaction = onSigbus;
        sa.sa_flags = SA_SIGINFO;
        sigemptyset(&sa.sa_mask);
        if (::sigaction(SIGBUS, &sa, &g_previous) == 0) g_installed.store(true);
    });
    return g_installed.load();
}

int claimGuard(const char* base, uint64_t length) {
    const uintptr_t sp = g_systemPage.load();
    for (int i = 0; i < kGuardEntries; ++i) {
        int expected = 0;
        if (!g_guard[i].state.compare_exchange_strong(expected, 1)) continue;
        const auto b = reinterpret_cast<uintptr_t>(base);
        g_guard[i].begin.store(b);
        g_guard[i].end.store(b + ((length + sp - 1) & ~(sp - 1)));
        g_guard[i].hit.store(false);
        g_guard[i].state.store(2, std::memory_order_release);
        return i;
    }
    return -1;
}

}  // namespace

bool networkFilesystem(long long type) {
    switch (static_cast<uint32_t>(type)) {
    case 0x6969u:      // NFS
    case 0x517Bu:      // SMB
    case 0xFF534D42u:  // CIFS
    case 0xFE534D42u:  // SMB2
    case 0x01021997u:  // 9P
    case 0x00C36400u:  // Ceph
    case 0x5346414Fu:  // AFS
        return true;
    default: return false;
    }
}

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
    int fd = -1;
    uint64_t size = 0;
    if (Status s = openRegularFileNonBlocking(path, fd, size); !ok(s)) return s;
    out = std::make_unique<PageStore>(Key{}, fd, size);
    PageStore& s = *out;
    struct stat st {};
    if (::fstat(fd, &st) == 0) s.device_ = st.st_dev, s.inode_ = st.st_ino;
    // Map the file when the guard can protect the mapping and the file is local;
    // else pread only.
    const char* forced = std::getenv("BTRIEVE_READS");
    struct statfs fsInfo {};
    if (!options.map || (forced && std::strcmp(forced, "pread") == 0))
        s.readMode_ = ReadMode::PreadAsked;
    else if (::fstatfs(fd, &fsInfo) == 0 && networkFilesystem(static_cast<long long>(fsInfo.f_type)))
        s.readMode_ = ReadMode::PreadNetwork;
    if (s.readMode_ == ReadMode::PreadNoMapping && s.size_ > 0 && s.size_ <= SIZE_MAX && installGuard()) {
        void* m = ::mmap(nullptr, static_cast<size_t>(s.size_), PROT_READ, MAP_SHARED, fd, 0);
        if (m != MAP_FAILED) {
            s.guardSlot_ = claimGuard(static_cast<const char*>(m), s.size_);
            if (s.guardSlot_ >= 0) {
                s.map_ = static_cast<const char*>(m);
                s.readMode_ = ReadMode::Mapping;
                s.tallies_[kSlots].recent = std::make_unique<std::atomic<uint64_t>[]>(kRecentPages);
            } else {
                ::munmap(m, static_cast<size_t>(s.size_));
            }
        }
    }
    s.advise(Access::Random);
    return Status::Success;
}

// What the kernel is told of the coming reads: on the descriptor for pread, on the
// mapping for faults. Random: read nothing beyond the pages asked for (on this
// kernel a fault on a mapping read as normal brings in megabytes around it).
// Sequential: read far ahead. Normal: the kernel's own guess. Only advice; where
// the system lacks a call it is skipped.
void PageStore::advise(Access pattern) const {
#if defined(POSIX_FADV_RANDOM) && defined(POSIX_FADV_SEQUENTIAL) && defined(POSIX_FADV_NORMAL)
    const int file = pattern == Access::Random ? POSIX_FADV_RANDOM
                     : pattern == Access::Sequential ? POSIX_FADV_SEQUENTIAL : POSIX_FADV_NORMAL;
    ::posix_fadvise(fd_, 0, 0, file);
#endif
#if defined(MADV_RANDOM) && defined(MADV_SEQUENTIAL) && defined(MADV_NORMAL)
    if (map_) {
        const int memory = pattern == Access::Random ? MADV_RANDOM
                           : pattern == Access::Sequential ? MADV_SEQUENTIAL : MADV_NORMAL;
        ::madvise(const_cast<char*>(map_), static_cast<size_t>(size_), memory);
    }
#endif
}

void PageStore::turnToMapping() const {
    if (map_) viaMap_.store(true, std::memory_order_release);
}

void PageStore::beginPass() const {
    std::lock_guard lock(passMutex_);
    if (passes_++ == 0) advise(Access::Sequential);
    turnToMapping();
}

void PageStore::endPass() const {
    std::lock_guard lock(passMutex_);
    // Reads by address follow a pass (the export's gather, the in-memory index's
    // moves): random, over pages the pass has just brought in.
    if (--passes_ == 0) advise(Access::Random);
}

PageStore::~PageStore() {
    if (map_) {
        g_guard[guardSlot_].state.store(0, std::memory_order_release);
        ::munmap(const_cast<char*>(map_), static_cast<size_t>(size_));
    }
    if (fd_ >= 0) ::close(fd_);
}

bool PageStore::truncated() const {
    if (shortRead_.load(std::memory_order_relaxed)) return true;
    return map_ && g_guard[guardSlot_].hit.load(std::memory_order_acquire);
}

Status PageStore::checkSize() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return Status::IoError;
    if (static_cast<uint64_t>(st.st_size) < size_) shortRead_.store(true);
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
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::pread(fd_, out.data() + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Status::IoError;
        if (n == 0) return Status::Truncated;
        done += static_cast<size_t>(n);
    }
    return Status::Success;
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
    // Bit s of taken: slot s is held by a live thread. A thread claims the lowest
    // free slot when it first counts and gives it back when it ends, after its
    // last count (release), before the next holder's first (acquire).
    static std::atomic<uint32_t> taken{0};
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
                    slot = s;
                    return;
                }
            }
        }
        ~Claim() {
            if (slot < kSlots) taken.fetch_and(~(1u << slot), std::memory_order_release);
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

void adviseLargePages(const void* p, size_t bytes) {
#ifdef MADV_HUGEPAGE
    const auto begin = reinterpret_cast<uintptr_t>(p);
    if (!p || bytes < kLargeSpan || begin > UINTPTR_MAX - bytes) return;
    const uintptr_t from = (begin + kLargeSpan - 1) & ~(kLargeSpan - 1);
    const uintptr_t to = (begin + bytes) & ~(kLargeSpan - 1);
    if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
    (void)p, (void)bytes;
#endif
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
    if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
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
        if (passes_ == 0) advise(Access::Normal);
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
