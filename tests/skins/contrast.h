// Contrast of two colours as the web's accessibility guidelines measure it (1 to 21);
// body text wants 4.5 or more against its background.
#pragma once

#include <QColor>
#include <algorithm>
#include <cmath>

namespace skintest {

inline double luminance(const QColor& c) {
    auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

inline double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

}  // namespace skintest
