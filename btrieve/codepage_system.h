// The system's own conversion from a named code page, behind CodePage: iconv from
// the C library, or the code pages Windows keeps. Everything else about code pages
// (the tables, the undefined bytes, Windows-1252) is CodePage's and the same on
// every system.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace btrieve::detail {

// What converting a run of bytes gave: all of it, a byte sequence the code page does
// not define at `used`, or a sequence cut short by the end of the input at `used`.
enum class Converted { Whole, Undefined, Incomplete };

class SystemCodePage {
public:
    // The code page by a name the system knows; empty, with why filled ("unknown
    // encoding 'X'"), when it knows none.
    static std::unique_ptr<SystemCodePage> open(const std::string& name, std::string& why);
    virtual ~SystemCodePage() = default;
    // Converts bytes into UTF-8 appended to out, stopping at the first sequence that
    // fails; used says how many bytes went through. One caller at a time.
    virtual Converted convert(std::string_view bytes, std::string& out, size_t& used) = 0;
};

// UTF-8 text in the code page named; false when the system knows no such code page
// or some character has no bytes in it.
bool encodeFromUtf8(const std::string& name, std::string_view utf8, std::string& out);

}  // namespace btrieve::detail
