// Code pages to UTF-8. A single-byte code page is turned into a table of 256 UTF-8
// sequences once, through the system's conversion; a multi-byte one (Shift-JIS,
// GBK, ...) keeps the system's converter and runs each text through it.
#include "btrieve/codepage.h"

#include "btrieve/codepage_system.h"

#include <mutex>

namespace btrieve {
namespace {

// UTF-8 of one code point.
void appendCodePoint(uint32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
        if (up(a[i]) != up(b[i])) return false;
    }
    return true;
}

// Windows-1252's 0x80..0x9F; the five bytes it leaves undefined keep their value.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

using detail::Converted;

// The system's converter, used by one thread at a time.
class CodePage::Converter {
public:
    explicit Converter(std::unique_ptr<detail::SystemCodePage> system) : system_(std::move(system)) {}
    // bytes appended to out as UTF-8: a byte that starts no defined sequence (or a
    // sequence the text's end cuts short) becomes the code point of its value.
    void append(std::string_view bytes, std::string& out) {
        std::lock_guard lock(mutex_);
        while (!bytes.empty()) {
            size_t used = 0;
            if (system_->convert(bytes, out, used) == Converted::Whole) return;
            bytes.remove_prefix(used);
            appendCodePoint(static_cast<uint8_t>(bytes[0]), out);
            bytes.remove_prefix(1);
        }
    }
    detail::SystemCodePage& system() { return *system_; }

private:
    std::unique_ptr<detail::SystemCodePage> system_;
    std::mutex mutex_;
};

CodePage::~CodePage() = default;

std::unique_ptr<CodePage> CodePage::windows1252() {
    std::unique_ptr<CodePage> cp(new CodePage);
    cp->name_ = "WINDOWS-1252";
    for (unsigned b = 0; b < 256; ++b)
        appendCodePoint(b >= 0x80 && b < 0xA0 ? kWindows1252High[b - 0x80] : b, cp->table_[b]);
    cp->markSelfBytes();
    return cp;
}

std::unique_ptr<CodePage> CodePage::make(const std::string& name, std::string& why) {
    why.clear();
    if (sameName(name, "WINDOWS-1252") || sameName(name, "CP1252")) return windows1252();
    auto system = detail::SystemCodePage::open(name, why);
    if (!system) return nullptr;
    std::unique_ptr<CodePage> cp(new CodePage);
    cp->name_ = name;
    cp->converter_ = std::make_unique<Converter>(std::move(system));
    // A code page is single-byte when no byte alone is the start of a longer
    // sequence; then each byte's UTF-8 is had once, and text decodes by table.
    for (unsigned b = 0; b < 256 && cp->singleByte_; ++b) {
        const char c = static_cast<char>(b);
        size_t used = 0;
        switch (cp->converter_->system().convert(std::string_view(&c, 1), cp->table_[b], used)) {
        case Converted::Whole: break;
        case Converted::Undefined: appendCodePoint(b, cp->table_[b]); break;
        case Converted::Incomplete: cp->singleByte_ = false; break;
        }
        // An encoding wider than a byte (UTF-16) gives nothing for a lone byte either.
        if (b == 'A' && cp->table_[b] != "A") cp->singleByte_ = false;
    }
    if (cp->singleByte_) cp->converter_.reset();
    cp->markSelfBytes();
    return cp;
}

bool CodePage::fromUtf8(std::string_view utf8, std::string& out) const {
    return detail::encodeFromUtf8(name_, utf8, out);
}

void CodePage::markSelfBytes() {
    for (unsigned b = 0; b < 256; ++b)
        selfByte_[b] = table_[b].size() == 1 && static_cast<uint8_t>(table_[b][0]) == b;
}

void CodePage::appendUtf8(std::string_view bytes, std::string& out) const {
    if (!singleByte_) {
        converter_->append(bytes, out);
        return;
    }
    // Runs of bytes that stand for themselves (ASCII in every code page we meet) are
    // copied at once.
    size_t i = 0;
    while (i < bytes.size()) {
        size_t j = i;
        while (j < bytes.size() && selfByte_[static_cast<uint8_t>(bytes[j])]) ++j;
        out.append(bytes.data() + i, j - i);
        if (j < bytes.size()) out.append(table_[static_cast<uint8_t>(bytes[j++])]);
        i = j;
    }
}

}  // namespace btrieve
