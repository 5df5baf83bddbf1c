// The engine's door to the operating system for files (the other door, for code
// pages, is codepage_system.h): files opened, read, looked at, mapped and (for the
// test writer and committer) created and written. One implementation for POSIX
// systems (file_access_posix.cpp) and one for Windows (file_access_win32.cpp); the
// build picks one. Paths are UTF-8 on both.
//
// What the reader relies on, on both:
// - a company file is opened for reading only, with nothing asked that would keep
//   its writer from writing it, or a restore from putting another file in its place
//   (on Windows: shared for reading, writing and deletion);
// - a read at an offset reads the file as it is now (a commit made meanwhile is
//   seen), from any thread, without a shared file position;
// - a file's identity (device and inode; on Windows the volume serial number and
//   the file index) tells a file put in place of another from a file written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "btrieve/status.h"

namespace btrieve::detail {

// What a look at a path or at an open file tells.
struct FileFacts {
    uint64_t device = 0, inode = 0, size = 0;
    int64_t modifiedSeconds = 0, modifiedNanoseconds = 0;
    bool operator==(const FileFacts&) const = default;
};

// The file at path now, links followed. FileNotFound when nothing is there.
Status lookAtPath(const std::string& path, FileFacts& out);
// Whether anything at all is at path, a dangling link included.
bool pathTaken(const std::string& path);
// path made absolute against the current folder (path itself when that fails).
std::string absolutePath(const std::string& path);
// Removes the file at path (one of our own: a half-written file, a scratch file).
void removeFile(const std::string& path);
// Where scratch files go: TMPDIR or /tmp; on Windows the user's temporary folder.
std::string scratchFolder();
uint64_t processId();

// Whether a filesystem type (statfs f_type) is one served over the network.
inline bool networkFilesystem(long long type) {
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

// What the system maps with one entry where it can (a large page or a large
// page-cache folio).
constexpr uintptr_t kLargeSpan = uintptr_t{2} << 20;

// Asks that the memory of [p, p + bytes), not yet touched, be backed by large
// pages where the system offers them; only a hint, and nothing for less than
// 2 MB. An index of a million keys takes a dozen MB, which the process would
// otherwise fault in 4 KB at a time: thousands of faults, each costing more than
// the zeroed bytes it brings.
void adviseLargePages(const void* p, size_t bytes);

// What the system is told of the coming reads. Only advice.
enum class AccessHint { Random, Sequential, Normal };

// One open file; closed when the object goes.
class OsFile {
public:
    OsFile() = default;
    ~OsFile();
    OsFile(OsFile&& other) noexcept : handle_(other.handle_), network_(other.network_) { other.handle_ = kClosed; }
    OsFile& operator=(OsFile&& other) noexcept;
    OsFile(const OsFile&) = delete;
    OsFile& operator=(const OsFile&) = delete;

    // Opens path read-only and returns its size, or a status that says what the path
    // is instead of a file. A named pipe, a socket, a device or a folder is refused
    // before a byte is read, and the open itself cannot block (a pipe with no writer
    // would otherwise hold it forever). Statuses: FileNotFound, AccessDenied,
    // NameTooLong, LinkLoop, IsDirectory, IsPipe, IsSocket, IsDevice, IoError.
    static Status openToRead(const std::string& path, OsFile& out, uint64_t& size);
    // An existing file, to read and write (the committer).
    static Status openToWrite(const std::string& path, OsFile& out);
    // A new file; InvalidOperation when anything is at path already (the writer).
    static Status createNew(const std::string& path, OsFile& out);

    bool isOpen() const { return handle_ != kClosed; }
    // Up to n bytes at offset in one call: got is 0 at the end of the file.
    Status readSome(uint64_t offset, char* to, size_t n, size_t& got) const;
    // Exactly n bytes at offset; Truncated when the file ends first.
    Status readAll(uint64_t offset, char* to, size_t n) const;
    Status writeAll(uint64_t offset, const char* from, size_t n) const;
    Status facts(FileFacts& out) const;
    // Whether the file lies on a network filesystem (SMB/CIFS, NFS and the like).
    bool onNetworkFilesystem() const;
    void advise(AccessHint hint) const;
    // The data written so far, on the disk.
    Status syncData() const;
    // IoError when the system reports a failure at closing (a write it could not
    // finish).
    Status close();
    intptr_t nativeHandle() const { return handle_; }

private:
    static constexpr intptr_t kClosed = -1;  // also INVALID_HANDLE_VALUE
    intptr_t handle_ = kClosed;
    bool network_ = false;  // Windows: told by the path at open
};

// A read-only view of a whole file, from its first byte to the size given.
class FileMapping {
public:
    FileMapping() = default;
    ~FileMapping();
    FileMapping(const FileMapping&) = delete;
    FileMapping& operator=(const FileMapping&) = delete;

    // Maps the first size bytes of file; false (and nothing mapped) where the system
    // will not, or where a mapping could not be read safely.
    bool map(const OsFile& file, uint64_t size);
    const char* data() const { return data_; }
    void advise(AccessHint hint) const;
    // Lets the system take back the memory of [from, to) of the view; the bytes stay
    // readable.
    void release(size_t from, size_t to) const;
    // Whether a touch of the view met a part of the file cut off since it was mapped:
    // zero pages stand there from then on.
    bool faulted() const;

private:
    const char* data_ = nullptr;
    uint64_t size_ = 0;
    int guardSlot_ = -1;
};

}  // namespace btrieve::detail
