#include "btrieve/pages.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace btrieve::detail {

Status PageStore::open(const std::string& path, std::unique_ptr<PageStore>& out) {
    out.reset();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return Status::FileNotFound;
        if (errno == EACCES || errno == EPERM) return Status::AccessDenied;
        return Status::IoError;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Status::IoError;
    }
    out = std::make_unique<PageStore>(Key{}, fd, static_cast<uint64_t>(st.st_size));
    return Status::Success;
}

PageStore::~PageStore() {
    if (fd_ >= 0) ::close(fd_);
}

Status PageStore::readAt(uint64_t offset, size_t length, std::string& out) const {
    out.clear();
    ++reads_;
    if (offset > size_ || length > size_ - offset) return Status::Truncated;
    out.resize(length);
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::pread(fd_, out.data() + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Status::IoError;
        if (n == 0) return Status::Truncated;  // the file shrank under us
        done += static_cast<size_t>(n);
    }
    return Status::Success;
}

void PageStore::setPageSize(uint32_t pageSize) {
    std::lock_guard lock(mutex_);
    pageSize_ = pageSize;
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
void PageStore::decrypt(std::string& page) const {
    for (size_t o = 0; o < page.size(); ++o) {
        size_t k = (2 * (o / 256) + (o % 2)) % xorKey_.size();
        page[o] = static_cast<char>(static_cast<uint8_t>(page[o]) ^ xorKey_[k]);
    }
}

Status PageStore::readPage(uint64_t page, PageRef& out) const {
    out.reset();
    if (pageSize_ == 0) return Status::InvalidOperation;
    if (page >= physicalPages()) return Status::Truncated;
    std::lock_guard lock(mutex_);
    if (auto it = index_.find(page); it != index_.end()) {
        lru_.splice(lru_.begin(), lru_, it->second);
        out = it->second->second;
        return Status::Success;
    }
    std::string bytes;
    Status s = readAt(page * pageSize_, pageSize_, bytes);
    if (!ok(s)) return s;
    if (xor_ && page >= xorFirstPage_) decrypt(bytes);
    auto ref = std::make_shared<const std::string>(std::move(bytes));
    lru_.emplace_front(page, ref);
    index_[page] = lru_.begin();
    if (lru_.size() > kCachePages) {
        index_.erase(lru_.back().first);
        lru_.pop_back();
    }
    out = std::move(ref);
    return Status::Success;
}

}  // namespace btrieve::detail
