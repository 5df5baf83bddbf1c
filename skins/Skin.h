// A skin read from a .skn file (an INI file; docs/skn-format.md lists every key) and
// the looks it gives the skin form, buttons and labels. A skin is immutable once
// loaded and is shared between the form that loaded it and the controls it was
// applied to.
#pragma once

#include <QColor>
#include <QHash>
#include <QMargins>
#include <QPalette>
#include <QPixmap>
#include <QString>
#include <QVariant>
#include <memory>
#include <string>

namespace skins {

// A font override: an empty family, zero points or zero weight keep the control's own.
struct FontOverride {
    QString family;
    double points = 0;
    int weight = 0;
};

struct FormLook {
    QColor top, bottom;      // vertical gradient of the dialog's background
    QColor text;             // plain text of the dialog (its palette's window text)
    QColor border;
    int borderWidth = 0;
    int radius = 0;
    QPixmap image;           // drawn over the gradient when present
    enum class ImageMode { Stretch, Tile, Center } imageMode = ImageMode::Stretch;
};

struct ButtonStateLook {
    QColor top, bottom, text, border;
    QPixmap image;           // drawn 9-sliced with ButtonLook::slice instead of the colours
};

struct ButtonLook {
    ButtonStateLook normal, hover, pressed, disabled;
    QColor focus;            // the focus ring
    int borderWidth = 1;
    int radius = 3;
    QMargins slice;
    FontOverride font;
};

struct LabelLook {
    QColor text;
    QColor background;       // transparent unless the skin gives one
    FontOverride font;
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
};

class Skin {
public:
    using Group = QHash<QString, QVariant>;

    QString name;            // [Skin] Name
    QString file;            // the file it came from, empty for the built-in skin
    FormLook form;
    // The colours of the standard controls and windows drawn in this skin: the
    // dialog's background and text, push buttons, edit and list fields ([Field]),
    // selections, and the menu bar.
    QPalette palette;

    // The look of a button or label drawing from the given section; missing keys
    // come from [Button] / [Label], then from the built-in skin.
    ButtonLook button(const QString& section = QStringLiteral("Button")) const;
    LabelLook label(const QString& section = QStringLiteral("Label")) const;

    QHash<QString, Group> groups;  // the file's values by section

private:
    QVariant value(const QString& section, const QString& key) const;
    QColor color(const QString& section, const QString& key, const QColor& fallback) const;
    int integer(const QString& section, const QString& key, int fallback) const;
    QPixmap image(const QString& section, const QString& key) const;
    FontOverride fontOverride(const QString& section, const QString& base) const;
    friend std::shared_ptr<const Skin> loadSkin(const QString& path);
};

// The skin a form has before any file was loaded: neutral light grey.
std::shared_ptr<const Skin> defaultSkin();

// Reads a .skn file; nullptr when it is missing, unreadable or malformed: not an INI
// file, no [Skin] Name, or a colour or number that cannot be read.
std::shared_ptr<const Skin> loadSkin(const QString& path);

// The file a skin name stands for: a name with a folder (Windows form accepted) as it
// stands; a bare name in the current folder, then in <program folder>/skins. Letter
// case of existing names is ignored. Empty when no such file exists.
QString resolveSkinFile(const std::string& name);

}  // namespace skins
