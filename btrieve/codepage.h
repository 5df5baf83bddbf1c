// Text of a dictionary and of its tables' records, decoded from the code page the
// files were written in into UTF-8. Every byte sequence decodes: a byte the code page
// leaves undefined (0x81, 0x8D, 0x8F, 0x90 and 0x9D in Windows-1252) becomes the code
// point of the same value, as Windows' own conversion does, so a row never fails on
// its text.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>

namespace btrieve {

class CodePage {
public:
    // The code page by any name the system knows ("WINDOWS-1252", "CP866",
    // "SHIFT_JIS"). Empty, with why filled ("unknown encoding 'X'"), when there is none.
    static std::unique_ptr<CodePage> make(const std::string& name, std::string& why);
    // Windows-1252, from a table of its own.
    static std::unique_ptr<CodePage> windows1252();
    ~CodePage();
    CodePage(const CodePage&) = delete;
    CodePage& operator=(const CodePage&) = delete;

    const std::string& name() const { return name_; }
    // bytes in this code page, appended to out as UTF-8.
    void appendUtf8(std::string_view bytes, std::string& out) const;
    std::string toUtf8(std::string_view bytes) const {
        std::string s;
        appendUtf8(bytes, s);
        return s;
    }
    // UTF-8 text in this code page, into out; false when some character has no bytes
    // in it.
    bool fromUtf8(std::string_view utf8, std::string& out) const;

    class Converter;  // the system's converter of a multi-byte code page
private:
    CodePage() = default;
    std::string name_;
    // Single-byte code pages decode by this table, made once: each byte's UTF-8.
    bool singleByte_ = true;
    std::array<std::string, 256> table_;
    std::array<bool, 256> selfByte_{};  // bytes whose UTF-8 is the byte itself
    void markSelfBytes();
    std::unique_ptr<Converter> converter_;
};

}  // namespace btrieve
