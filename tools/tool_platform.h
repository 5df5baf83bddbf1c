// What the command-line tools need of the system beyond the engine's file access:
// their arguments as UTF-8, standard output as bytes, and folders made and probed
// by UTF-8 paths. On Windows the arguments come from the wide command line (argv
// is in the ANSI code page), standard output and error are put in binary mode (no
// CR added before LF: the CSV is written byte for byte as on Linux), and either
// slash separates folders.
#pragma once

#include <cerrno>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tools {

#ifdef _WIN32
inline std::wstring wide(const std::string& s) {
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}
#endif

// The program's arguments after its name, as UTF-8; sets standard output and error
// to bytes.
inline std::vector<std::string> startTool(int argc, char** argv) {
#ifdef _WIN32
    (void)argc, (void)argv;
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
    std::vector<std::string> args;
    int n = 0;
    wchar_t** w = ::CommandLineToArgvW(::GetCommandLineW(), &n);
    for (int i = 1; w && i < n; ++i) {
        const int len = ::WideCharToMultiByte(CP_UTF8, 0, w[i], -1, nullptr, 0, nullptr, nullptr);
        std::string s(static_cast<size_t>(len > 0 ? len - 1 : 0), '\0');
        if (len > 1) ::WideCharToMultiByte(CP_UTF8, 0, w[i], -1, s.data(), len, nullptr, nullptr);
        args.push_back(std::move(s));
    }
    if (w) ::LocalFree(w);
    return args;
#else
    return std::vector<std::string>(argv + 1, argv + argc);
#endif
}

inline bool folderSeparator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

// mkdir: 0, or -1 with errno set.
inline int makeFolder(const std::string& path) {
#ifdef _WIN32
    if (path.size() == 2 && path[1] == ':') return 0;  // a drive, not a folder to make
    return ::_wmkdir(wide(path).c_str());
#else
    return ::mkdir(path.c_str(), 0755);
#endif
}

// Whether path is a folder: false with err 0 when it is something else, with errno
// when it cannot be looked at.
inline bool isFolder(const std::string& path, int& err) {
    err = 0;
#ifdef _WIN32
    struct _stat64 st;
    if (::_wstat64(wide(path).c_str(), &st) != 0) {
#else
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
#endif
        err = errno;
        return false;
    }
    return (st.st_mode & S_IFMT) == S_IFDIR;
}

// Creates a new scratch file named from prefix in dir and removes it again: 0, or
// errno of the failure.
inline int probeCreate(const std::string& dir, const std::string& prefix) {
#ifdef _WIN32
    const std::string probe = dir + "/" + prefix + std::to_string(::GetCurrentProcessId());
    const int fd = ::_wopen(wide(probe).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) return errno;
    ::_close(fd);
    ::_wunlink(wide(probe).c_str());
#else
    std::string probe = dir + "/" + prefix + "XXXXXX";
    const int fd = ::mkstemp(probe.data());
    if (fd < 0) return errno;
    ::close(fd);
    ::unlink(probe.c_str());
#endif
    return 0;
}

}  // namespace tools
