// The parts of the file-access layer that are the same on every system.
#include "btrieve/file_access.h"

namespace btrieve::detail {

OsFile::~OsFile() { close(); }

OsFile& OsFile::operator=(OsFile&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.handle_;
        network_ = other.network_;
        other.handle_ = kClosed;
    }
    return *this;
}

Status OsFile::readAll(uint64_t offset, char* to, size_t n) const {
    size_t done = 0;
    while (done < n) {
        size_t got = 0;
        if (Status s = readSome(offset + done, to + done, n - done, got); !ok(s)) return s;
        if (got == 0) return Status::Truncated;
        done += got;
    }
    return Status::Success;
}

}  // namespace btrieve::detail
