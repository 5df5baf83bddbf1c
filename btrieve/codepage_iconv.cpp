// Code pages through the C library's iconv.
#include "btrieve/codepage_system.h"

#include <iconv.h>

#include <cerrno>

namespace btrieve::detail {
namespace {

class IconvCodePage final : public SystemCodePage {
public:
    explicit IconvCodePage(iconv_t cd) : cd_(cd) {}
    ~IconvCodePage() override { iconv_close(cd_); }

    Converted convert(std::string_view bytes, std::string& out, size_t& used) override {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
        char* in = const_cast<char*>(bytes.data());
        size_t inLeft = bytes.size();
        char buf[1024];
        for (;;) {
            char* o = buf;
            size_t oLeft = sizeof buf;
            const size_t r = iconv(cd_, &in, &inLeft, &o, &oLeft);
            const int e = errno;
            out.append(buf, static_cast<size_t>(o - buf));
            used = bytes.size() - inLeft;
            if (r != static_cast<size_t>(-1)) return Converted::Whole;
            if (e == E2BIG) continue;
            return e == EINVAL ? Converted::Incomplete : Converted::Undefined;
        }
    }

private:
    iconv_t cd_;
};

}  // namespace

std::unique_ptr<SystemCodePage> SystemCodePage::open(const std::string& name, std::string& why) {
    const iconv_t cd = iconv_open("UTF-8", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        why = "unknown encoding '" + name + "'";
        return nullptr;
    }
    return std::make_unique<IconvCodePage>(cd);
}

bool encodeFromUtf8(const std::string& name, std::string_view utf8, std::string& out) {
    const iconv_t cd = iconv_open(name.c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string in(utf8);
    out.assign(utf8.size() * 4 + 16, '\0');
    char* inp = in.data();
    size_t inLeft = in.size();
    char* outp = out.data();
    size_t outLeft = out.size();
    const bool done = iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<size_t>(-1) &&
                      iconv(cd, nullptr, nullptr, &outp, &outLeft) != static_cast<size_t>(-1);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return done && inLeft == 0;
}

}  // namespace btrieve::detail
