// printf-style formatting into a string of whatever length the result needs: the
// window's texts are built with the C formats they are defined by ("$%.2f",
// "%9.2f"), and a balance of 1e300 is as safe as one of 12.50.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

namespace browser {

[[gnu::format(printf, 1, 2)]] inline std::string formatText(const char* format, ...) {
    char small[128];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    std::string out;
    if (needed < 0) {
        // Not representable: nothing rather than a partial text.
    } else if (static_cast<size_t>(needed) < sizeof small) {
        out.assign(small, static_cast<size_t>(needed));
    } else {
        out.resize(static_cast<size_t>(needed) + 1);
        std::vsnprintf(out.data(), out.size(), format, again);
        out.resize(static_cast<size_t>(needed));
    }
    va_end(again);
    return out;
}

}  // namespace browser
