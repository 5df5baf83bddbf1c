#include "btrieve/codepage.h"

namespace btrieve {

class CodePage::Converter {};

CodePage::~CodePage() = default;

std::unique_ptr<CodePage> CodePage::windows1252() {
    std::unique_ptr<CodePage> cp(new CodePage);
    cp->name_ = "WINDOWS-1252";
    return cp;
}

std::unique_ptr<CodePage> CodePage::make(const std::string& name, std::string& why) {
    why.clear();
    auto cp = windows1252();
    cp->name_ = name;
    return cp;
}

void CodePage::appendUtf8(std::string_view bytes, std::string& out) const { out.append(bytes); }

}  // namespace btrieve
