// Dialog units to pixels, as Windows converts them for a dialog with its own font:
// the horizontal base unit is the average width of the 52 letters A-Z a-z, the
// vertical base unit the font's height; x px = MulDiv(x, baseX, 4) and
// y px = MulDiv(y, baseY, 8).
#pragma once

#include <QFont>
#include <QRect>
#include <string>

namespace framework {

struct BaseUnits {
    int x = 0;  // average character width, pixels
    int y = 0;  // character height, pixels
};

// The dialog font: the family mapped to one installed here, sized as Windows sizes
// it on a 96 dpi screen (points * 96 / 72 pixels), so the layout does not depend
// on the screen's reported resolution.
QFont dialogFont(const std::string& windowsFamily, int points);
BaseUnits baseUnits(const QFont& font);
QRect mapDialogRect(const BaseUnits& units, int x, int y, int cx, int cy);

}  // namespace framework
