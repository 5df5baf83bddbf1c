// Runs a test's command line, written as POSIX shell words, and returns what
// std::system returns. On POSIX systems it is std::system. On Windows there is no
// POSIX shell, so the few forms the tests write are carried out here: words in
// single quotes (with '\'' for a quote), NAME=value words before the program,
// ">file", "2>file", "2>&1" and "<file" (/dev/null is NUL), and "rm -rf path".
// The program then starts with CreateProcessW and the exit code is returned.
#pragma once

#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <windows.h>
#include <bcrypt.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>
#include <vector>
#endif

namespace testsupport {

#ifndef _WIN32
inline int runShell(const std::string& command) { return std::system(command.c_str()); }
#else
inline std::wstring wide(const std::string& s) {
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

struct ShellCommand {
    std::vector<std::pair<std::string, std::string>> env;
    std::vector<std::string> words;
    std::string in, out, err;
    bool errToOut = false;
};

inline ShellCommand parseShell(const std::string& line) {
    ShellCommand c;
    std::vector<std::pair<std::string, bool>> tokens;  // word, began unquoted
    std::string word;
    bool any = false, plainStart = true;
    for (size_t i = 0; i <= line.size(); ++i) {
        const char ch = i < line.size() ? line[i] : ' ';
        if (ch == ' ' || ch == '\t') {
            if (any) tokens.emplace_back(word, plainStart);
            word.clear(), any = false, plainStart = true;
        } else if (ch == '\'') {
            if (!any) plainStart = false;
            const size_t end = line.find('\'', i + 1);
            word += line.substr(i + 1, end - i - 1);
            i = end == std::string::npos ? line.size() : end;
            any = true;
        } else if (ch == '"') {
            if (!any) plainStart = false;
            const size_t end = line.find('"', i + 1);
            word += line.substr(i + 1, end - i - 1);
            i = end == std::string::npos ? line.size() : end;
            any = true;
        } else if (ch == '\\' && i + 1 < line.size() && line[i + 1] == '\'') {
            word += '\'', any = true, ++i;  // the \' of '\''
        } else {
            word += ch, any = true;
        }
    }
    std::string* pending = nullptr;
    for (auto& [t, plain] : tokens) {
        if (pending) {
            *pending = t, pending = nullptr;
            continue;
        }
        if (plain && t == "2>&1") {
            c.errToOut = true;
            continue;
        }
        std::string* target = nullptr;
        size_t skip = 0;
        if (plain && t.rfind("2>", 0) == 0) target = &c.err, skip = 2;
        else if (plain && t[0] == '>') target = &c.out, skip = 1;
        else if (plain && t[0] == '<') target = &c.in, skip = 1;
        if (target) {
            if (t.size() > skip) *target = t.substr(skip);
            else pending = target;
            continue;
        }
        const size_t eq = t.find('=');
        if (plain && c.words.empty() && eq != std::string::npos && eq > 0) {
            c.env.emplace_back(t.substr(0, eq), t.substr(eq + 1));
            continue;
        }
        c.words.push_back(t);
    }
    return c;
}

// One word of a command line as the C runtime's argument parser reads it back.
inline std::wstring quoteWord(const std::wstring& w) {
    if (!w.empty() && w.find_first_of(L" \t\"") == std::wstring::npos) return w;
    std::wstring q = L"\"";
    size_t slashes = 0;
    for (wchar_t ch : w) {
        if (ch == L'\\') {
            ++slashes;
            continue;
        }
        q.append(ch == L'"' ? 2 * slashes + 1 : slashes, L'\\');
        slashes = 0;
        q += ch;
    }
    q.append(2 * slashes, L'\\');
    return q + L"\"";
}

inline HANDLE openFor(const std::string& path, bool write) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    const std::wstring w = path == "/dev/null" ? L"NUL" : wide(path);
    return ::CreateFileW(w.c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                         write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

inline int runShell(const std::string& line) {
    const ShellCommand c = parseShell(line);
    if (c.words.empty()) return 0;
    if (c.words[0] == "rm") {
        for (size_t i = 1; i < c.words.size(); ++i) {
            if (c.words[i][0] == '-') continue;
            std::error_code ec;
            std::filesystem::remove_all(std::filesystem::path(wide(c.words[i])), ec);
        }
        return 0;
    }
    std::wstring commandLine;
    for (const std::string& w : c.words) commandLine += (commandLine.empty() ? L"" : L" ") + quoteWord(wide(w));
    std::vector<std::pair<std::wstring, std::wstring>> saved;
    for (const auto& [name, value] : c.env) {
        wchar_t old[32768];
        const DWORD n = ::GetEnvironmentVariableW(wide(name).c_str(), old, 32768);
        saved.emplace_back(wide(name), n ? std::wstring(old, n) : std::wstring(1, L'\0'));
        ::SetEnvironmentVariableW(wide(name).c_str(), wide(value).c_str());
    }
    HANDLE in = c.in.empty() ? ::GetStdHandle(STD_INPUT_HANDLE) : openFor(c.in, false);
    HANDLE out = c.out.empty() ? ::GetStdHandle(STD_OUTPUT_HANDLE) : openFor(c.out, true);
    HANDLE err = c.errToOut ? out : c.err.empty() ? ::GetStdHandle(STD_ERROR_HANDLE) : openFor(c.err, true);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in, si.hStdOutput = out, si.hStdError = err;
    PROCESS_INFORMATION pi{};
    int code = -1;
    // Wine, with many processes starting at once, now and then fails a start with
    // ERROR_INTERNAL_ERROR; a second try starts it. Any other failure is final.
    bool started = false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        started = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
        if (started || ::GetLastError() != ERROR_INTERNAL_ERROR) break;
        ::Sleep(200);
    }
    if (started) {
        ::WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD exit = 0;
        if (::GetExitCodeProcess(pi.hProcess, &exit)) code = static_cast<int>(exit);
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
    } else {
        std::fprintf(stderr, "runShell: could not start %s: error %lu\n", c.words[0].c_str(),
                     static_cast<unsigned long>(::GetLastError()));
    }
    if (!c.in.empty()) ::CloseHandle(in);
    if (!c.out.empty()) ::CloseHandle(out);
    if (!c.err.empty() && !c.errToOut) ::CloseHandle(err);
    for (const auto& [name, value] : saved)
        ::SetEnvironmentVariableW(name.c_str(), value == std::wstring(1, L'\0') ? nullptr : value.c_str());
    return code;
}

// sha256sum's digest of a file, in lowercase hex.
inline std::string sha256OfFile(const std::string& path) {
    std::ifstream f(std::filesystem::path(wide(path)), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(f)), {});
    unsigned char digest[32];
    BCRYPT_ALG_HANDLE sha = nullptr;
    if (::BCryptOpenAlgorithmProvider(&sha, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) return {};
    const bool hashed = ::BCryptHash(sha, nullptr, 0, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                                     static_cast<ULONG>(bytes.size()), digest, sizeof digest) == 0;
    ::BCryptCloseAlgorithmProvider(sha, 0);
    if (!hashed) return {};
    std::string hex;
    for (unsigned char b : digest) {
        static const char kDigits[] = "0123456789abcdef";
        hex += kDigits[b >> 4], hex += kDigits[b & 15];
    }
    return hex;
}
#endif

}  // namespace testsupport
