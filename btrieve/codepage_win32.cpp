// Code pages through Windows' own tables (MultiByteToWideChar). Windows knows code
// pages by number, so the names iconv takes are turned into numbers first: "CP866",
// "WINDOWS-1250", "IBM437" by their digits, and the common names of the others.
// Single-byte and double-byte code pages are read; the few wider ones (UTF-8,
// GB18030) are refused with a reason.
#include "btrieve/codepage_system.h"

#include <windows.h>

#include <cctype>
#include <charconv>

namespace btrieve::detail {
namespace {

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The digits after prefix, as a number; 0 when s is not prefix and digits alone.
unsigned numberAfter(const std::string& s, std::string_view prefix) {
    if (s.size() <= prefix.size() || s.compare(0, prefix.size(), prefix) != 0) return 0;
    unsigned n = 0;
    const char* end = s.data() + s.size();
    const auto r = std::from_chars(s.data() + prefix.size(), end, n);
    return r.ec == std::errc() && r.ptr == end ? n : 0;
}

// The Windows code page an iconv name stands for; 0 for a name without one.
unsigned codePageNumber(const std::string& name) {
    const std::string n = upper(name);
    for (std::string_view prefix : {"CP", "WINDOWS-", "IBM", "MS", "IBM-"})
        if (const unsigned number = numberAfter(n, prefix)) return number;
    if (const unsigned part = numberAfter(n, "ISO-8859-"); part >= 1 && part <= 16) return 28590 + part;
    if (const unsigned part = numberAfter(n, "ISO8859-"); part >= 1 && part <= 16) return 28590 + part;
    struct Named { std::string_view name; unsigned number; };
    static constexpr Named kNamed[] = {
        {"SHIFT_JIS", 932}, {"SHIFT-JIS", 932}, {"SJIS", 932}, {"GBK", 936}, {"GB2312", 936},
        {"EUC-KR", 949}, {"UHC", 949}, {"BIG5", 950}, {"EUC-JP", 20932}, {"KOI8-R", 20866},
        {"KOI8-U", 21866}, {"LATIN1", 28591}, {"MACINTOSH", 10000}, {"ASCII", 20127},
        {"US-ASCII", 20127}, {"UTF-8", 65001}, {"GB18030", 54936}};
    for (const Named& named : kNamed)
        if (n == named.name) return named.number;
    return 0;
}

class Win32CodePage final : public SystemCodePage {
public:
    Win32CodePage(UINT cp, bool doubleByte) : cp_(cp), doubleByte_(doubleByte) {}

    Converted convert(std::string_view bytes, std::string& out, size_t& used) override {
        used = 0;
        if (appendDecoded(bytes, out)) {
            used = bytes.size();
            return Converted::Whole;
        }
        // Somewhere a sequence fails: one character at a time, to find where.
        while (used < bytes.size()) {
            const size_t n = doubleByte_ && ::IsDBCSLeadByteEx(cp_, static_cast<BYTE>(bytes[used])) ? 2 : 1;
            if (used + n > bytes.size()) return Converted::Incomplete;
            if (!appendDecoded(bytes.substr(used, n), out)) return Converted::Undefined;
            used += n;
        }
        return Converted::Whole;
    }

private:
    // bytes appended to out as UTF-8; false, with nothing appended, when any
    // sequence in them is not the code page's.
    bool appendDecoded(std::string_view bytes, std::string& out) {
        if (bytes.empty()) return true;
        const int len = static_cast<int>(bytes.size());
        const int n = ::MultiByteToWideChar(cp_, MB_ERR_INVALID_CHARS, bytes.data(), len, nullptr, 0);
        if (n <= 0) return false;
        wide_.resize(static_cast<size_t>(n));
        ::MultiByteToWideChar(cp_, MB_ERR_INVALID_CHARS, bytes.data(), len, wide_.data(), n);
        const int m = ::WideCharToMultiByte(CP_UTF8, 0, wide_.data(), n, nullptr, 0, nullptr, nullptr);
        const size_t at = out.size();
        out.resize(at + static_cast<size_t>(m));
        ::WideCharToMultiByte(CP_UTF8, 0, wide_.data(), n, out.data() + at, m, nullptr, nullptr);
        return true;
    }

    UINT cp_;
    bool doubleByte_;
    std::wstring wide_;
};

}  // namespace

bool encodeFromUtf8(const std::string& name, std::string_view utf8, std::string& out) {
    out.clear();
    const UINT cp = codePageNumber(name);
    if (cp == 0 || !::IsValidCodePage(cp)) return false;
    if (utf8.empty()) return true;
    const int len = static_cast<int>(utf8.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), len, nullptr, 0);
    if (n <= 0) return false;
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), len, wide.data(), n);
    // No best fit: a character without bytes of its own fails rather than becoming
    // a look-alike.
    BOOL defaulted = FALSE;
    const int m = ::WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, wide.data(), n, nullptr, 0, nullptr, &defaulted);
    if (m <= 0 || defaulted) return false;
    out.resize(static_cast<size_t>(m));
    ::WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, wide.data(), n, out.data(), m, nullptr, &defaulted);
    return !defaulted;
}

std::unique_ptr<SystemCodePage> SystemCodePage::open(const std::string& name, std::string& why) {
    const unsigned number = codePageNumber(name);
    CPINFOEXW info{};
    if (number == 0 || !::IsValidCodePage(number) || !::GetCPInfoExW(number, 0, &info)) {
        why = "unknown encoding '" + name + "'";
        return nullptr;
    }
    if (info.MaxCharSize > 2) {
        why = "encoding '" + name + "' has characters of more than two bytes, which are not read on Windows";
        return nullptr;
    }
    return std::make_unique<Win32CodePage>(number, info.MaxCharSize == 2);
}

}  // namespace btrieve::detail
