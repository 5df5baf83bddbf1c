// Physical page access for a Btrieve file opened read-only. Two ways in, chosen
// here and nowhere else:
// - Interactive reads (opening, page tables, index walks, seeks, the records of a
//   move) pread exactly the pages they need into a small bounded cache, with the
//   kernel told that reads are random, so that it reads nothing around them. On a
//   cold cache or a network share a step brings in its own pages and no more.
// - A whole-file pass (a scan) reads through a read-only mapping of the file, told
//   that the pass is sequential while it runs; the pages are then views into the
//   mapping and nothing is copied. After the first pass the file has just been
//   read whole, so later reads keep to the mapping (told random again, so that a
//   page the system has dropped meanwhile comes back alone). A long run of
//   interactive reads (a find across the whole file) is a pass too: past
//   kPreadBudget bytes of misses the store turns to the mapping.
// The file is mapped at open where the system allows it (a mapping costs nothing
// until touched), so a store that cannot map says so at once. A file on a network
// filesystem (SMB/CIFS, NFS and the like) is never mapped: a mapping there may
// show this machine's cached pages rather than another machine's writes, and a
// file cut short on the server faults the mapping; pread asks the filesystem each
// time. BTRIEVE_READS=pread in the environment forces pread for every file. Pages decrypted with
// the owner block are always copies held in the cache. No copy of the whole file
// is ever held.
//
// A mapped file that another program shortens while it is open: touching a mapped
// page past the new end raises SIGBUS. A process-wide handler (installed with the
// first mapping, passing other faults on to the handler it replaced) puts zero
// pages in place of the lost part of the mapping and marks the store truncated;
// from then on readPage reports Truncated, and the callers check truncated()
// after using a page's bytes, so the call that met the fault also reports
// Truncated. No crash, and no record read from the zero pages is passed on as
// good by a call that returns Success.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "btrieve/file_access.h"
#include "btrieve/status.h"

namespace btrieve::detail {

// Reserves room for n elements in a vector or string and gives it that hint.
template <class Container>
void reserveLarge(Container& c, size_t n) {
    c.reserve(n);
    adviseLargePages(c.data(), c.capacity() * sizeof(*c.data()));
}

// n value-initialised elements in room given that hint.
template <class T>
std::vector<T> largeVector(size_t n) {
    std::vector<T> v;
    reserveLarge(v, n);
    v.resize(n);
    return v;
}

// One page's bytes: a view into the file's mapping (valid while the store lives),
// or a shared copy from the cache.
class PageRef {
public:
    PageRef() = default;
    explicit PageRef(std::string_view mapped) : view_(mapped), set_(true) {}
    explicit PageRef(std::shared_ptr<const std::string> copy)
        : copy_(std::move(copy)), view_(*copy_), set_(true) {}

    std::string_view operator*() const { return view_; }
    const std::string_view* operator->() const { return &view_; }
    explicit operator bool() const { return set_; }
    // A view into the mapping (lives as long as the store), not a cached copy.
    bool mapped() const { return set_ && !copy_; }
    void reset() { *this = PageRef(); }

private:
    std::shared_ptr<const std::string> copy_;
    std::string_view view_;
    bool set_ = false;
};

// How a store reads its pages, and why.
enum class ReadMode {
    Mapping,       // pread for single pages, the mapping for passes
    PreadAsked,    // the caller or BTRIEVE_READS=pread asked for pread only
    PreadNetwork,  // the file lies on a network filesystem
    PreadNoMapping,  // the system would not map the file (or it is empty)
};
// One phrase for reports: "mapping and pread", "pread (network filesystem)", ...
const char* describe(ReadMode mode);

class PageStore {
public:
    struct Options {
        bool map = true;  // false: always pread (tests compare both paths)
    };
    // Opens path read-only: no lock, no write access asked for.
    static Status open(const std::string& path, std::unique_ptr<PageStore>& out);
    static Status open(const std::string& path, std::unique_ptr<PageStore>& out, const Options& options);
    ~PageStore();
    PageStore(const PageStore&) = delete;
    PageStore& operator=(const PageStore&) = delete;

    uint64_t fileSize() const { return size_; }
    ReadMode readMode() const { return readMode_; }
    // The open file's device and inode, to tell whether the path still names it.
    uint64_t device() const { return device_; }
    uint64_t inode() const { return inode_; }
    // Whether the file is mapped, so that whole-file passes read through the mapping.
    bool mapped() const { return map_ != nullptr; }
    // Whether pages now come from the mapping (a pass has begun) rather than pread.
    bool viaMapping() const { return viaMap_.load(std::memory_order_acquire); }

    // A whole-file pass for as long as it lives: pages come from the mapping, which
    // the kernel is told is read in order (the file descriptor too, for a store
    // that is not mapped). Passes may overlap.
    class Pass {
    public:
        explicit Pass(const PageStore& store) : store_(store) { store_.beginPass(); }
        ~Pass() { store_.endPass(); }
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;

    private:
        const PageStore& store_;
    };
    // Whether the file was found shorter than at open (a fault on the mapping, or a
    // short pread).
    bool truncated() const;
    // Compares the file's size now with its size at open: Truncated (and from then
    // on truncated()) when it has shrunk, IoError when it cannot be told.
    Status checkSize() const;

    // Raw bytes at an absolute offset, uncached and never decrypted (the file
    // control record before the page size is known). Truncated when the file ends
    // first.
    Status readAt(uint64_t offset, size_t length, std::string& out) const;
    // The same, for a look at the file as it is now (has another program changed
    // it?): counts no read and marks nothing truncated. A few bytes read again and
    // again (the marks of a commit) come through the mapping where it reaches, at no
    // cost of a system call; a longer run once (Pread) never faults the mapping in.
    // Truncated when the file now ends first.
    enum class PeekVia { MappingWhereMapped, Pread };
    Status peek(uint64_t offset, size_t length, std::string& out,
                PeekVia via = PeekVia::MappingWhereMapped) const;

    // Fixes the page size; from then on readPage works in whole pages.
    void setPageSize(uint32_t pageSize);
    uint32_t pageSize() const { return pageSize_; }
    // Whole pages present in the file.
    uint64_t physicalPages() const { return pages_; }

    // Pages from firstPage on are XORed with the owner block as they are read.
    void setOwnerXor(const std::array<uint8_t, 8>& key, uint64_t firstPage);

    // Asks the processor to start loading bytes [offset, offset + length) of a
    // mapped page; no effect on a store that is not mapped or a page past the end.
    // Never faults, reads nothing and counts no read.
    void prefetch(uint64_t page, uint32_t offset, uint32_t length) const;
    // The same for the cache lines at the n given offsets of a page (each below
    // the page size), as a scan that reads a few bytes of every slot asks for.
    void prefetchLines(uint64_t page, const uint32_t* offsets, size_t n) const;

    // Lets the system take back the memory of mapped pages [first, end) (a scan
    // that has passed them), so that a scan's resident size does not grow with the
    // file. The bytes stay readable: touching them again maps them again.
    void release(uint64_t first, uint64_t end) const;

    // One physical page. Truncated past the end of the file.
    Status readPage(uint64_t page, PageRef& out) const;
    // count physical pages from first on, one after another, copied into out in one
    // read (decrypted where readPage would); not cached. Truncated past the end.
    Status readPages(uint64_t first, uint32_t count, std::string& out) const;

    // Pages held by the cache now, and the most it holds.
    size_t cachedPages() const;
    size_t cacheLimit() const { return cacheLimit_; }

    // Reads from the file so far, for bounded-work checks: header reads and cache
    // misses; a mapped page counts when it is not among the pages recently counted
    // in the same tally (a direct-mapped table of kRecentPages page numbers), which
    // is the thread's own while it lives.
    uint64_t reads() const;

    struct Key {  // only open() constructs a store
    private:
        friend class PageStore;
        Key() = default;
    };
    PageStore(Key, OsFile file, uint64_t size) : file_(std::move(file)), size_(size) {}

private:
    void beginPass() const;
    void endPass() const;
    // From now on pages come from the mapping (no effect on a store not mapped).
    void turnToMapping() const;
    void advise(AccessHint pattern) const;
    void decrypt(std::string& page, uint64_t firstPage) const;
    void countMapped(uint64_t page) const;
    void addRead(unsigned slot) const;  // one more read in the slot's tally
    // Exactly length bytes at offset by pread; Truncated when the file ends first.
    Status preadAll(uint64_t offset, size_t length, std::string& out) const;

    OsFile file_;
    uint64_t size_ = 0;
    uint64_t device_ = 0, inode_ = 0;
    ReadMode readMode_ = ReadMode::PreadNoMapping;
    FileMapping mapping_;
    const char* map_ = nullptr;  // the whole file, read-only (mapping_'s view), or null
    mutable std::atomic<bool> viaMap_{false};
    mutable std::mutex passMutex_;
    mutable std::atomic<unsigned> passes_{0};  // passes under way; changed under passMutex_
    mutable std::atomic<bool> shortRead_{false};
    uint32_t pageSize_ = 0;
    uint64_t pages_ = 0;  // whole pages in the file, once the page size is fixed
    bool xor_ = false;
    std::array<uint8_t, 8> xorKey_{};
    uint64_t xorFirstPage_ = 1;

    // The cache holds at least kCachePages pages and up to kCacheBytes of them.
    static constexpr size_t kCachePages = 64;
    static constexpr size_t kCacheBytes = size_t{1} << 20;
    size_t cacheLimit_ = kCachePages;
    // Bytes read by pread on cache misses; past kPreadBudget a mapped store takes
    // its pages from the mapping instead (a walk across the file).
    static constexpr uint64_t kPreadBudget = uint64_t{8} << 20;
    mutable uint64_t missBytes_ = 0;
    // In a pass on a store that is not mapped, a miss reads this much from the
    // page on (at most half the cache): a scan streams the file in large reads.
    static constexpr size_t kRunBytes = size_t{64} << 10;
    // Puts a page read from the file into the cache, under mutex_.
    PageRef cache(uint64_t page, std::string bytes) const;
    mutable std::mutex mutex_;
    mutable std::list<std::pair<uint64_t, PageRef>> lru_;  // front = most recent
    mutable std::unordered_map<uint64_t, decltype(lru_)::iterator> index_;
    // The count is kept in tallies, each on cache lines of its own. A thread holds
    // one tally slot for its life (the same slot in every store), so a tally has
    // one writer at a time and counts with a plain add: a locked add would also
    // wait for every load the thread has in flight, and an export keeps many in
    // flight. Threads beyond kSlots at once share one more tally, with locked adds.
    static constexpr unsigned kSlots = 16;
    static constexpr size_t kRecentPages = 4096;
    struct alignas(128) Tally {
        std::atomic<uint64_t> reads{0};
        // page + 1, 0 = empty; made by the slot's first thread that counts
        // (the shared tally's when the file is mapped).
        std::unique_ptr<std::atomic<uint64_t>[]> recent;
    };
    mutable std::array<Tally, kSlots + 1> tallies_;
    // This thread's slot: kSlots when all are held.
    static unsigned threadSlot();
};

}  // namespace btrieve::detail
