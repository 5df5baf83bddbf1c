// The file-access layer on POSIX systems: open/pread/pwrite, fstat and fstatfs,
// mmap with madvise, and a SIGBUS guard for mappings of files shortened under them.
#include "btrieve/file_access.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
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

FileFacts factsOf(const struct stat& st) {
    FileFacts f;
    f.device = st.st_dev, f.inode = st.st_ino, f.size = static_cast<uint64_t>(st.st_size);
    f.modifiedSeconds = st.st_mtim.tv_sec, f.modifiedNanoseconds = st.st_mtim.tv_nsec;
    return f;
}

int fdOf(intptr_t handle) { return static_cast<int>(handle); }

#if defined(POSIX_FADV_RANDOM) && defined(POSIX_FADV_SEQUENTIAL) && defined(POSIX_FADV_NORMAL)
int fileAdvice(AccessHint hint) {
    return hint == AccessHint::Random ? POSIX_FADV_RANDOM
           : hint == AccessHint::Sequential ? POSIX_FADV_SEQUENTIAL : POSIX_FADV_NORMAL;
}
#endif

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

Status lookAtPath(const std::string& path, FileFacts& out) {
    out = FileFacts{};
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? Status::FileNotFound : Status::IoError;
    out = factsOf(st);
    return Status::Success;
}

bool pathTaken(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::string absolutePath(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.string();
}

void removeFile(const std::string& path) { ::unlink(path.c_str()); }

std::string scratchFolder() {
    const char* t = std::getenv("TMPDIR");
    return t && *t ? t : "/tmp";
}

uint64_t processId() { return static_cast<uint64_t>(::getpid()); }

Status OsFile::openToRead(const std::string& path, OsFile& out, uint64_t& size) {
    out.close();
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
    out.handle_ = d;
    size = static_cast<uint64_t>(st.st_size);
    return Status::Success;
}

Status OsFile::openToWrite(const std::string& path, OsFile& out) {
    out.close();
    const int d = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (d < 0) return errno == EACCES || errno == EPERM ? Status::AccessDenied : Status::IoError;
    out.handle_ = d;
    return Status::Success;
}

Status OsFile::createNew(const std::string& path, OsFile& out) {
    out.close();
    const int d = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (d < 0) return errno == EEXIST ? Status::InvalidOperation : Status::IoError;
    out.handle_ = d;
    return Status::Success;
}

Status OsFile::readSome(uint64_t offset, char* to, size_t n, size_t& got) const {
    got = 0;
    for (;;) {
        const ssize_t r = ::pread(fdOf(handle_), to, n, static_cast<off_t>(offset));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return Status::IoError;
        got = static_cast<size_t>(r);
        return Status::Success;
    }
}

Status OsFile::writeAll(uint64_t offset, const char* from, size_t n) const {
    while (n > 0) {
        const ssize_t w = ::pwrite(fdOf(handle_), from, n, static_cast<off_t>(offset));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return Status::IoError;
        from += w;
        n -= static_cast<size_t>(w);
        offset += static_cast<uint64_t>(w);
    }
    return Status::Success;
}

Status OsFile::facts(FileFacts& out) const {
    out = FileFacts{};
    struct stat st {};
    if (::fstat(fdOf(handle_), &st) != 0) return Status::IoError;
    out = factsOf(st);
    return Status::Success;
}

bool OsFile::onNetworkFilesystem() const {
    struct statfs fsInfo {};
    return ::fstatfs(fdOf(handle_), &fsInfo) == 0 && networkFilesystem(static_cast<long long>(fsInfo.f_type));
}

void OsFile::advise(AccessHint hint) const {
#if defined(POSIX_FADV_RANDOM) && defined(POSIX_FADV_SEQUENTIAL) && defined(POSIX_FADV_NORMAL)
    ::posix_fadvise(fdOf(handle_), 0, 0, fileAdvice(hint));
#else
    (void)hint;
#endif
}

Status OsFile::syncData() const { return ::fdatasync(fdOf(handle_)) == 0 ? Status::Success : Status::IoError; }

Status OsFile::close() {
    if (handle_ == kClosed) return Status::Success;
    const int d = fdOf(handle_);
    handle_ = kClosed;
    return ::close(d) == 0 ? Status::Success : Status::IoError;
}

// The mapping is protected by the SIGBUS guard; without the guard, nothing is mapped.
bool FileMapping::map(const OsFile& file, uint64_t size) {
    if (data_ || size == 0 || size > SIZE_MAX || !installGuard()) return false;
    void* m = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_SHARED, fdOf(file.nativeHandle()), 0);
    if (m == MAP_FAILED) return false;
    guardSlot_ = claimGuard(static_cast<const char*>(m), size);
    if (guardSlot_ < 0) {
        ::munmap(m, static_cast<size_t>(size));
        return false;
    }
    data_ = static_cast<const char*>(m);
    size_ = size;
    return true;
}

FileMapping::~FileMapping() {
    if (!data_) return;
    g_guard[guardSlot_].state.store(0, std::memory_order_release);
    ::munmap(const_cast<char*>(data_), static_cast<size_t>(size_));
}

// On this kernel a fault on a mapping read as normal brings in megabytes around it.
void FileMapping::advise(AccessHint hint) const {
#if defined(MADV_RANDOM) && defined(MADV_SEQUENTIAL) && defined(MADV_NORMAL)
    if (!data_) return;
    const int memory = hint == AccessHint::Random ? MADV_RANDOM
                       : hint == AccessHint::Sequential ? MADV_SEQUENTIAL : MADV_NORMAL;
    ::madvise(const_cast<char*>(data_), static_cast<size_t>(size_), memory);
#else
    (void)hint;
#endif
}

void FileMapping::release(size_t from, size_t to) const {
    if (data_ && to > from) ::madvise(const_cast<char*>(data_) + from, to - from, MADV_DONTNEED);
}

bool FileMapping::faulted() const {
    return data_ && g_guard[guardSlot_].hit.load(std::memory_order_acquire);
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

}  // namespace btrieve::detail
