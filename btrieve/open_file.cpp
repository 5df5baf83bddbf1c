#include "btrieve/open_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace btrieve::detail {
namespace {

Status fromErrno(int e) {
    switch (e) {
    case ENOENT: case ENOTDIR: return Status::FileNotFound;
    case EACCES: case EPERM: return Status::AccessDenied;
    case ENAMETOOLONG: return Status::NameTooLong;
    case ELOOP: return Status::LinkLoop;
    default: return Status::IoError;
    }
}

Status fromMode(mode_t mode) {
    if (S_ISREG(mode)) return Status::Success;
    if (S_ISDIR(mode)) return Status::IsDirectory;
    if (S_ISFIFO(mode)) return Status::IsPipe;
    if (S_ISSOCK(mode)) return Status::IsSocket;
    if (S_ISCHR(mode) || S_ISBLK(mode)) return Status::IsDevice;
    return Status::IoError;
}

}  // namespace

Status openRegularFileNonBlocking(const std::string& path, int& fd, uint64_t& size) {
    fd = -1;
    size = 0;
    // Look before opening, so that a device's driver is never asked to open.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return fromErrno(errno);
    if (Status s = fromMode(st.st_mode); !ok(s)) return s;

    // The path may have been replaced since: O_NONBLOCK keeps the open from waiting
    // on a pipe, O_NOCTTY from adopting a terminal, and fstat has the last word.
    const int d = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (d < 0) {
        // ENXIO: a socket, or a device without a driver, put in the file's place.
        if (errno != ENXIO) return fromErrno(errno);
        return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) ? fromMode(st.st_mode) : Status::IoError;
    }
    Status s = ::fstat(d, &st) == 0 ? fromMode(st.st_mode) : Status::IoError;
    // Reads of a regular file never wait on a writer; clear the flag all the same,
    // so that no file system treats the descriptor differently.
    if (ok(s)) {
        const int flags = ::fcntl(d, F_GETFL);
        if (flags < 0 || ::fcntl(d, F_SETFL, flags & ~O_NONBLOCK) != 0) s = Status::IoError;
    }
    if (!ok(s)) {
        ::close(d);
        return s;
    }
    fd = d;
    size = static_cast<uint64_t>(st.st_size);
    return Status::Success;
}

}  // namespace btrieve::detail
