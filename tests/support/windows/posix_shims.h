// Windows builds of the tests (included before every test source): the few POSIX
// calls the tests make, over the C runtime, so that the tests themselves stay as
// they are on Linux.
#pragma once

#ifdef _WIN32
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <direct.h>
#include <io.h>

inline int setenv(const char* name, const char* value, int overwrite) {
    if (!overwrite && std::getenv(name)) return 0;
    return ::_putenv_s(name, value);
}
inline int unsetenv(const char* name) { return ::_putenv_s(name, ""); }
inline int mkdir(const char* path, int) { return ::_mkdir(path); }  // no permission bits

// A new folder from a template ending in XXXXXX.
inline char* mkdtemp(char* tmpl) {
    if (::_mktemp_s(tmpl, std::strlen(tmpl) + 1) != 0 || ::_mkdir(tmpl) != 0) return nullptr;
    return tmpl;
}

inline FILE* popen(const char* command, const char* mode) { return ::_popen(command, mode); }
inline int pclose(FILE* f) { return ::_pclose(f); }
#endif
