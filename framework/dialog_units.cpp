#include "framework/dialog_units.h"

#include <QFontMetrics>
#include <QString>

#include "framework/win.h"
#include "platform/platform.h"

namespace framework {

int MulDiv(int a, int b, int c) {
    if (c == 0) return -1;
    const long long product = static_cast<long long>(a) * b;
    const long long half = (c < 0 ? -c : c) / 2;
    const bool negative = (product < 0) != (c < 0);
    const long long magnitude = ((product < 0 ? -product : product) + half) / (c < 0 ? -c : c);
    return static_cast<int>(negative ? -magnitude : magnitude);
}

QFont dialogFont(const std::string& windowsFamily, int points) {
    QFont font(QString::fromStdString(platform::mapFontFamily(windowsFamily)));
    font.setPixelSize(MulDiv(points, 96, 72));
    font.setWeight(QFont::Normal);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

BaseUnits baseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    // Windows rounds the average of the 52 widths: (width / 26 + 1) / 2.
    return BaseUnits{(width / 26 + 1) / 2, metrics.height()};
}

QRect mapDialogRect(const BaseUnits& units, int x, int y, int cx, int cy) {
    return QRect(MulDiv(x, units.x, 4), MulDiv(y, units.y, 8),
                 MulDiv(cx, units.x, 4), MulDiv(cy, units.y, 8));
}

int GetSystemMetrics(int index) {
    return (index == SM_CXICON || index == SM_CYICON) ? 32 : 0;
}

}  // namespace framework
