// The file-access layer on Windows. Paths arrive as UTF-8 and go to the wide
// calls as UTF-16. A company file is opened shared for reading, writing and
// deletion, so that its writer goes on writing and a restore may put another file
// in its place while it is open; reads name their offset (ReadFile with an
// OVERLAPPED offset), so threads share no file position.
//
// Company files are never mapped here. A view of a file keeps the file from being
// shortened (SetEndOfFile fails while a view is open) and from being deleted or
// replaced: a mapping would stand in the way of the very writer and restore that
// the sharing modes let through. Reads go by ReadFile, through the store's cache.
#include "btrieve/file_access.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>

namespace btrieve::detail {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// UTF-8 to UTF-16; false for bytes that are not UTF-8 (no such name can exist).
bool widen(const std::string& s, std::wstring& out) {
    out.clear();
    if (s.empty()) return true;
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()), nullptr, 0);
    if (n <= 0) return false;
    out.resize(static_cast<size_t>(n));
    return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()), out.data(), n) == n;
}

std::string narrow(const std::wstring& w) {
    if (w.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr, nullptr);
    return out;
}

Status fromError(DWORD e) {
    switch (e) {
    case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: case ERROR_INVALID_NAME: case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH: case ERROR_BAD_NET_NAME: case ERROR_BAD_PATHNAME: case ERROR_DIRECTORY:
        return Status::FileNotFound;
    case ERROR_ACCESS_DENIED: case ERROR_SHARING_VIOLATION: case ERROR_LOCK_VIOLATION:
        return Status::AccessDenied;
    case ERROR_FILENAME_EXCED_RANGE: return Status::NameTooLong;
    case ERROR_CANT_RESOLVE_FILENAME: return Status::LinkLoop;
    default: return Status::IoError;
    }
}

HANDLE native(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

std::wstring fullPath(const std::wstring& w) {
    const DWORD n = ::GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
    if (n == 0) return w;
    std::wstring out(n, L'\0');
    const DWORD got = ::GetFullPathNameW(w.c_str(), n, out.data(), nullptr);
    if (got == 0 || got >= n) return w;
    out.resize(got);
    return out;
}

// A path on a network share: a UNC path (\\server\share\...), or one on a drive
// letter the system says is a network drive.
bool onShare(const std::wstring& w) {
    const std::wstring full = fullPath(w);
    auto sep = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    if (full.size() >= 2 && sep(full[0]) && sep(full[1])) {
        // \\?\UNC\server\share and \\.\UNC\... are shares; \\?\C:\... is a drive.
        if (full.size() >= 4 && (full[2] == L'?' || full[2] == L'.') && sep(full[3])) {
            const std::wstring rest = full.substr(4);
            if (rest.size() >= 4 && _wcsnicmp(rest.c_str(), L"UNC", 3) == 0 && sep(rest[3])) return true;
            return rest.size() >= 2 && rest[1] == L':' &&
                   ::GetDriveTypeW((rest.substr(0, 2) + L"\\").c_str()) == DRIVE_REMOTE;
        }
        return true;
    }
    return full.size() >= 2 && full[1] == L':' && ::GetDriveTypeW((full.substr(0, 2) + L"\\").c_str()) == DRIVE_REMOTE;
}

// FILETIME counts 100 ns from 1601; the facts count from 1970.
void setModified(const FILETIME& t, FileFacts& f) {
    constexpr int64_t kFrom1601 = 116444736000000000LL;
    const int64_t ticks = static_cast<int64_t>((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) - kFrom1601;
    int64_t seconds = ticks / 10000000, rest = ticks % 10000000;
    if (rest < 0) rest += 10000000, --seconds;
    f.modifiedSeconds = seconds;
    f.modifiedNanoseconds = rest * 100;
}

Status factsOf(HANDLE h, FileFacts& out) {
    out = FileFacts{};
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h, &info)) return Status::IoError;
    out.device = info.dwVolumeSerialNumber;
    out.inode = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    out.size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    setModified(info.ftLastWriteTime, out);
    return Status::Success;
}

OVERLAPPED at(uint64_t offset) {
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(offset);
    ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return ov;
}

constexpr size_t kMostAtOnce = size_t{1} << 30;  // one ReadFile/WriteFile moves at most a DWORD

}  // namespace

Status lookAtPath(const std::string& path, FileFacts& out) {
    out = FileFacts{};
    std::wstring w;
    if (!widen(path, w)) return Status::FileNotFound;
    // No access asked for: attributes only, never in a writer's way.
    HANDLE h = ::CreateFileW(w.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const Status s = fromError(::GetLastError());
        return s == Status::FileNotFound ? s : Status::IoError;
    }
    const Status s = factsOf(h, out);
    ::CloseHandle(h);
    return s;
}

bool pathTaken(const std::string& path) {
    std::wstring w;
    if (!widen(path, w)) return false;
    if (::GetFileAttributesW(w.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    return fromError(::GetLastError()) != Status::FileNotFound;
}

std::string absolutePath(const std::string& path) {
    std::wstring w;
    if (!widen(path, w)) return path;
    return narrow(fullPath(w));
}

void removeFile(const std::string& path) {
    std::wstring w;
    if (widen(path, w)) ::DeleteFileW(w.c_str());
}

std::string scratchFolder() {
    const char* t = std::getenv("TMPDIR");
    if (t && *t) return t;
    wchar_t buf[MAX_PATH + 1];
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, buf);
    if (n == 0 || n > MAX_PATH) return ".";
    std::wstring w(buf, n);
    while (w.size() > 3 && (w.back() == L'\\' || w.back() == L'/')) w.pop_back();
    return narrow(w);
}

uint64_t processId() { return ::GetCurrentProcessId(); }

Status OsFile::openToRead(const std::string& path, OsFile& out, uint64_t& size) {
    out.close();
    size = 0;
    std::wstring w;
    if (!widen(path, w)) return Status::FileNotFound;
    const DWORD attributes = ::GetFileAttributesW(w.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return fromError(::GetLastError());
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Status::IsDirectory;
    HANDLE h = ::CreateFileW(w.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return fromError(::GetLastError());
    out.handle_ = reinterpret_cast<intptr_t>(h);
    // What the name turned out to be: only a file on a disk is read.
    switch (::GetFileType(h)) {
    case FILE_TYPE_DISK: break;
    case FILE_TYPE_PIPE: out.close(); return Status::IsPipe;
    case FILE_TYPE_CHAR: out.close(); return Status::IsDevice;
    default: out.close(); return Status::IoError;
    }
    LARGE_INTEGER n{};
    if (!::GetFileSizeEx(h, &n)) {
        out.close();
        return Status::IoError;
    }
    out.network_ = onShare(w);
    size = static_cast<uint64_t>(n.QuadPart);
    return Status::Success;
}

namespace {
// Opens path to read and write, as disposition says (OPEN_EXISTING, CREATE_NEW);
// the system's error when it cannot.
DWORD openReadWrite(const std::string& path, DWORD disposition, intptr_t& handle) {
    std::wstring w;
    if (!widen(path, w)) return ERROR_INVALID_NAME;
    HANDLE h = ::CreateFileW(w.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return ::GetLastError();
    handle = reinterpret_cast<intptr_t>(h);
    return ERROR_SUCCESS;
}
}  // namespace

Status OsFile::openToWrite(const std::string& path, OsFile& out) {
    out.close();
    const DWORD e = openReadWrite(path, OPEN_EXISTING, out.handle_);
    if (e == ERROR_SUCCESS) return Status::Success;
    return fromError(e) == Status::AccessDenied ? Status::AccessDenied : Status::IoError;
}

Status OsFile::createNew(const std::string& path, OsFile& out) {
    out.close();
    const DWORD e = openReadWrite(path, CREATE_NEW, out.handle_);
    if (e == ERROR_SUCCESS) return Status::Success;
    return e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS ? Status::InvalidOperation : Status::IoError;
}

Status OsFile::readSome(uint64_t offset, char* to, size_t n, size_t& got) const {
    got = 0;
    OVERLAPPED ov = at(offset);
    DWORD read = 0;
    if (!::ReadFile(native(handle_), to, static_cast<DWORD>(std::min(n, kMostAtOnce)), &read, &ov))
        return ::GetLastError() == ERROR_HANDLE_EOF ? Status::Success : Status::IoError;
    got = read;
    return Status::Success;
}

Status OsFile::writeAll(uint64_t offset, const char* from, size_t n) const {
    while (n > 0) {
        OVERLAPPED ov = at(offset);
        DWORD written = 0;
        if (!::WriteFile(native(handle_), from, static_cast<DWORD>(std::min(n, kMostAtOnce)), &written, &ov) ||
            written == 0)
            return Status::IoError;
        from += written;
        n -= written;
        offset += written;
    }
    return Status::Success;
}

Status OsFile::facts(FileFacts& out) const { return factsOf(native(handle_), out); }

bool OsFile::onNetworkFilesystem() const { return network_; }

// The cache manager reads ahead by its own guess; nothing to tell it per pass.
void OsFile::advise(AccessHint) const {}

Status OsFile::syncData() const { return ::FlushFileBuffers(native(handle_)) ? Status::Success : Status::IoError; }

Status OsFile::close() {
    if (handle_ == kClosed) return Status::Success;
    HANDLE h = native(handle_);
    handle_ = kClosed;
    network_ = false;
    return ::CloseHandle(h) ? Status::Success : Status::IoError;
}

// See the top of the file: company files are read by ReadFile only.
bool FileMapping::map(const OsFile&, uint64_t) { return false; }
FileMapping::~FileMapping() = default;
void FileMapping::advise(AccessHint) const {}
void FileMapping::release(size_t, size_t) const {}
bool FileMapping::faulted() const { return false; }

void adviseLargePages(const void*, size_t) {}

}  // namespace btrieve::detail
