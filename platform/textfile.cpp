// Buffered text files by name, raising FileError with the file's name and cause.
#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

using Cause = FileError::Cause;

Cause causeFromErrno(int err, const std::string& path) {
    switch (err) {
    case ENOENT: {
        // A missing folder on the way is a bad path, a missing last component a missing file.
        const size_t slash = path.find_last_of('/');
        if (slash == std::string::npos || slash == 0) return Cause::FileNotFound;
        struct stat st {};
        const std::string folder = path.substr(0, slash);
        return (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ? Cause::FileNotFound
                                                                          : Cause::BadPath;
    }
    case ENOTDIR: case ENAMETOOLONG: case ELOOP: return Cause::BadPath;
    case EACCES: case EPERM: case EROFS: case EISDIR: return Cause::AccessDenied;
    case EMFILE: case ENFILE: return Cause::TooManyOpenFiles;
    case ENOSPC: case EDQUOT: case EFBIG: return Cause::DiskFull;
    case EIO: return Cause::HardIO;
    case ETXTBSY: case EBUSY: return Cause::SharingViolation;
    default: return Cause::Generic;
    }
}

}  // namespace

const char* fileErrorCauseText(FileError::Cause cause) {
    switch (cause) {
    case Cause::None: return "no error";
    case Cause::Generic: return "an unspecified error occurred";
    case Cause::FileNotFound: return "the file was not found";
    case Cause::BadPath: return "all or part of the path is invalid";
    case Cause::TooManyOpenFiles: return "too many files are open";
    case Cause::AccessDenied: return "access to the file was denied";
    case Cause::InvalidFile: return "an invalid file handle was used";
    case Cause::RemoveCurrentDir: return "the current folder cannot be removed";
    case Cause::DirectoryFull: return "there are no more directory entries";
    case Cause::BadSeek: return "the file position could not be set";
    case Cause::HardIO: return "a hardware error occurred";
    case Cause::SharingViolation: return "the file is in use by another program";
    case Cause::LockViolation: return "the file is locked";
    case Cause::DiskFull: return "the disk is full";
    case Cause::EndOfFile: return "the end of the file was reached";
    }
    return "an unspecified error occurred";
}

FileError::FileError(Cause cause, std::string fileName)
    : std::runtime_error(fileName + ": " + fileErrorCauseText(cause)),
      cause_(cause), fileName_(std::move(fileName)) {}

struct TextFile::Impl {
    std::FILE* file = nullptr;
    bool text = false;
    bool canRead = false;
    bool canWrite = false;
    char lastWritten = 0;
};

TextFile::TextFile(const std::string& fileName, unsigned mode)
    : impl_(std::make_unique<Impl>()), fileName_(fileName) {
    // Windows paths (backslashes, drive letters) reach the file they name here.
    const std::string path = mapWindowsPath(fileName);
    if (path.empty()) throw FileError(Cause::BadPath, fileName_);

    int flags = O_CLOEXEC;
    const char* stdioMode = "rb";
    switch (mode & 0x3u) {
    case modeWrite: flags |= O_WRONLY; stdioMode = "wb"; impl_->canWrite = true; break;
    case modeReadWrite: flags |= O_RDWR; stdioMode = "r+b"; impl_->canRead = impl_->canWrite = true; break;
    default: flags |= O_RDONLY; impl_->canRead = true; break;
    }
    if (mode & modeCreate) {
        flags |= O_CREAT;
        if (!(mode & modeNoTruncate)) flags |= O_TRUNC;
    }
    impl_->text = (mode & typeText) != 0;

    const int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) throw FileError(causeFromErrno(errno, path), fileName_);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        throw FileError(Cause::AccessDenied, fileName_);
    }
    impl_->file = ::fdopen(fd, stdioMode);
    if (!impl_->file) {
        const int err = errno;
        ::close(fd);
        throw FileError(causeFromErrno(err, path), fileName_);
    }
}

TextFile::~TextFile() {
    if (impl_ && impl_->file) std::fclose(impl_->file);
}

bool TextFile::readString(std::string& line) {
    line.clear();
    if (!impl_->file) throw FileError(Cause::InvalidFile, fileName_);
    if (!impl_->canRead) throw FileError(Cause::AccessDenied, fileName_);
    bool any = false;
    for (;;) {
        const int c = std::getc(impl_->file);
        if (c == EOF) {
            if (std::ferror(impl_->file)) throw FileError(Cause::HardIO, fileName_);
            break;
        }
        any = true;
        if (c == '\n') break;
        line.push_back(static_cast<char>(c));
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return any;
}

void TextFile::writeString(const std::string& text) {
    if (!impl_->file) throw FileError(Cause::InvalidFile, fileName_);
    if (!impl_->canWrite) throw FileError(Cause::AccessDenied, fileName_);
    std::string out;
    if (impl_->text) {
        // Text mode writes line ends as CR LF, as the framework's text files do.
        out.reserve(text.size() + 8);
        char previous = impl_->lastWritten;
        for (char c : text) {
            if (c == '\n' && previous != '\r') out.push_back('\r');
            out.push_back(c);
            previous = c;
        }
    } else {
        out = text;
    }
    if (out.empty()) return;
    if (std::fwrite(out.data(), 1, out.size(), impl_->file) != out.size()) {
        const int err = errno;
        throw FileError(err == ENOSPC || err == EDQUOT ? Cause::DiskFull : Cause::HardIO, fileName_);
    }
    impl_->lastWritten = out.back();
}

unsigned long long TextFile::getPosition() const {
    if (!impl_->file) throw FileError(Cause::InvalidFile, fileName_);
    const off_t pos = ::ftello(impl_->file);
    if (pos < 0) throw FileError(Cause::BadSeek, fileName_);
    return static_cast<unsigned long long>(pos);
}

unsigned long long TextFile::getLength() const {
    if (!impl_->file) throw FileError(Cause::InvalidFile, fileName_);
    std::fflush(impl_->file);
    struct stat st {};
    if (::fstat(::fileno(impl_->file), &st) != 0) throw FileError(Cause::Generic, fileName_);
    return static_cast<unsigned long long>(st.st_size);
}

void TextFile::close() {
    if (!impl_->file) return;
    std::FILE* f = impl_->file;
    impl_->file = nullptr;
    if (std::fclose(f) != 0) {
        const int err = errno;
        throw FileError(err == ENOSPC || err == EDQUOT ? Cause::DiskFull : Cause::HardIO, fileName_);
    }
}

}  // namespace platform
