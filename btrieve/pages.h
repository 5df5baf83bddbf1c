// Physical page access for a Btrieve file opened read-only: pread on demand through
// a small bounded cache, with the owner-name decryption applied as pages come in.
// No copy of the whole file is ever held.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "btrieve/status.h"

namespace btrieve::detail {

using PageRef = std::shared_ptr<const std::string>;

class PageStore {
public:
    // Opens path with O_RDONLY: no lock, no write access asked for.
    static Status open(const std::string& path, std::unique_ptr<PageStore>& out);
    ~PageStore();
    PageStore(const PageStore&) = delete;
    PageStore& operator=(const PageStore&) = delete;

    uint64_t fileSize() const { return size_; }

    // Raw bytes at an absolute offset, uncached and never decrypted (the file
    // control record before the page size is known). Truncated when the file ends
    // first.
    Status readAt(uint64_t offset, size_t length, std::string& out) const;

    // Fixes the page size; from then on readPage works in whole pages.
    void setPageSize(uint32_t pageSize);
    uint32_t pageSize() const { return pageSize_; }
    // Whole pages present in the file.
    uint64_t physicalPages() const { return pageSize_ ? size_ / pageSize_ : 0; }

    // Pages from firstPage on are XORed with the owner block as they are read.
    void setOwnerXor(const std::array<uint8_t, 8>& key, uint64_t firstPage);

    // One physical page. Truncated past the end of the file.
    Status readPage(uint64_t page, PageRef& out) const;

    // Reads from the file so far (header reads and page-cache misses), for
    // bounded-work checks.
    uint64_t reads() const { return reads_; }

    struct Key {  // only open() constructs a store
    private:
        friend class PageStore;
        Key() = default;
    };
    PageStore(Key, int fd, uint64_t size) : fd_(fd), size_(size) {}

private:
    void decrypt(std::string& page) const;

    int fd_ = -1;
    uint64_t size_ = 0;
    uint32_t pageSize_ = 0;
    bool xor_ = false;
    std::array<uint8_t, 8> xorKey_{};
    uint64_t xorFirstPage_ = 1;

    static constexpr size_t kCachePages = 64;
    mutable std::mutex mutex_;
    mutable std::list<std::pair<uint64_t, PageRef>> lru_;  // front = most recent
    mutable std::unordered_map<uint64_t, decltype(lru_)::iterator> index_;
    mutable std::atomic<uint64_t> reads_{0};
};

}  // namespace btrieve::detail
