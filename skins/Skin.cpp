#include "skins/Skin.h"

#include "platform/platform.h"
#include "platform/text.h"

#include <QPainter>
#include <QSettings>
#include <QStringList>

namespace skins {
namespace {

const QString kButton = QStringLiteral("Button");
const QString kLabel = QStringLiteral("Label");

const QStringList kColorKeys = {"Top", "Bottom", "Color", "Text", "Border", "Background", "Focus",
                                "Selection", "SelectionText"};
const QStringList kNumberKeys = {"BorderWidth", "Radius", "FontSize", "FontWeight"};

QString joined(const QVariant& v) {
    // QSettings turns "a, b" into a list; the keys here are single values or number lists.
    if (v.typeId() == QMetaType::QStringList) return v.toStringList().join(',');
    return v.toString().trimmed();
}

// The built-in skin's values.
struct Defaults {
    QColor formTop{0xEE, 0xEE, 0xEE}, formBottom{0xDC, 0xDC, 0xDC}, formText{0x20, 0x20, 0x20};
    QColor top{0xFB, 0xFB, 0xFB}, bottom{0xE1, 0xE1, 0xE1}, text{0x1E, 0x1E, 0x1E}, border{0x8E, 0x8E, 0x8E};
    QColor focus{0x3A, 0x6E, 0xA5};
    QColor labelText{0x1E, 0x1E, 0x1E};
    QColor field{0xFF, 0xFF, 0xFF}, fieldText{0x1E, 0x1E, 0x1E};
    QColor selectionText{0xFF, 0xFF, 0xFF};
};
const Defaults kDefaults;

QColor midway(const QColor& a, const QColor& b) {
    QColor c;
    c.setRgbF((a.redF() + b.redF()) / 2, (a.greenF() + b.greenF()) / 2, (a.blueF() + b.blueF()) / 2);
    return c;
}

QColor faded(QColor c, const QColor& over) {
    // c at 45 % over the background, as an opaque colour.
    const float a = 0.45f;
    c.setRgbF(c.redF() * a + over.redF() * (1 - a), c.greenF() * a + over.greenF() * (1 - a),
              c.blueF() * a + over.blueF() * (1 - a));
    return c;
}

}  // namespace

// The palette of the skin's standard controls: a button and a window colour give the
// bevel shades; [Field] gives the edits and lists; the form's image, over its colour,
// becomes the window brush, so that menus and plain dialogs share the texture.
static QPalette paletteOf(const Skin& skin, const QColor& field, const QColor& fieldText,
                          const QColor& selection, const QColor& selectionText) {
    const ButtonLook b = skin.button();
    const QColor window = midway(skin.form.top, skin.form.bottom);
    QPalette p(midway(b.normal.top, b.normal.bottom), window);
    p.setColor(QPalette::WindowText, skin.form.text);
    p.setColor(QPalette::ButtonText, b.normal.text);
    p.setColor(QPalette::Base, field);
    p.setColor(QPalette::AlternateBase, field.lightness() > 128 ? field.darker(104) : field.lighter(115));
    p.setColor(QPalette::Text, fieldText);
    p.setColor(QPalette::PlaceholderText, faded(fieldText, field));
    p.setColor(QPalette::ToolTipBase, field);
    p.setColor(QPalette::ToolTipText, fieldText);
    p.setColor(QPalette::Highlight, selection);
    p.setColor(QPalette::HighlightedText, selectionText);
    p.setColor(QPalette::BrightText, selectionText);
    p.setColor(QPalette::Disabled, QPalette::WindowText, faded(skin.form.text, window));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, b.disabled.text);
    p.setColor(QPalette::Disabled, QPalette::Text, faded(fieldText, field));
    if (!skin.form.image.isNull()) {
        QPixmap tile(skin.form.image.size());
        tile.fill(window);
        QPainter painter(&tile);
        painter.drawPixmap(0, 0, skin.form.image);
        painter.end();
        p.setBrush(QPalette::Window, QBrush(window, tile));
    }
    return p;
}

QVariant Skin::value(const QString& section, const QString& key) const {
    const auto g = groups.constFind(section);
    if (g == groups.constEnd()) return {};
    const auto v = g->constFind(key);
    return v == g->constEnd() ? QVariant() : *v;
}

QColor Skin::color(const QString& section, const QString& key, const QColor& fallback) const {
    const QVariant v = value(section, key);
    if (!v.isValid()) return fallback;
    const QString text = joined(v);
    if (text.compare(QLatin1String("transparent"), Qt::CaseInsensitive) == 0) return Qt::transparent;
    const QColor c = QColor::fromString(text);
    return c.isValid() ? c : fallback;
}

int Skin::integer(const QString& section, const QString& key, int fallback) const {
    const QVariant v = value(section, key);
    if (!v.isValid()) return fallback;
    bool ok = false;
    const double d = joined(v).toDouble(&ok);
    return ok ? qRound(d) : fallback;
}

QPixmap Skin::image(const QString& section, const QString& key) const {
    const QVariant v = value(section, key);
    if (!v.isValid() || file.isEmpty()) return {};
    const QString rel = joined(v);
    if (rel.isEmpty()) return {};
    const QString path =
        platform::fromFileName(platform::besideFile(platform::toFileName(file), platform::toFileName(rel)));
    return QPixmap(path);  // a missing image leaves the colours in force
}

FontOverride Skin::fontOverride(const QString& section, const QString& base) const {
    auto pick = [&](const QString& key) {
        QVariant v = value(section, key);
        if (!v.isValid() && section != base) v = value(base, key);
        return v;
    };
    FontOverride f;
    if (const QVariant v = pick("FontName"); v.isValid())
        f.family = QString::fromStdString(platform::mapFontFamily(joined(v).toStdString()));
    if (const QVariant v = pick("FontSize"); v.isValid()) f.points = joined(v).toDouble();
    if (const QVariant v = pick("FontWeight"); v.isValid()) f.weight = joined(v).toInt();
    return f;
}

ButtonLook Skin::button(const QString& section) const {
    const QString s = section.isEmpty() ? kButton : section;
    // A key of the section, else of [Button], else the fallback.
    auto col = [&](const QString& suffix, const QString& key, const QColor& fallback) {
        QColor c = color(kButton + suffix, key, fallback);
        if (s != kButton) c = color(s + suffix, key, c);
        return c;
    };
    auto num = [&](const QString& key, int fallback) {
        int n = integer(kButton, key, fallback);
        return s != kButton ? integer(s, key, n) : n;
    };
    auto img = [&](const QString& suffix) {
        QPixmap p = s != kButton ? image(s + suffix, "Image") : QPixmap();
        return p.isNull() ? image(kButton + suffix, "Image") : p;
    };

    ButtonLook b;
    ButtonStateLook& n = b.normal;
    const QColor face = col("", "Color", QColor());
    n.top = col("", "Top", face.isValid() ? face : kDefaults.top);
    n.bottom = col("", "Bottom", face.isValid() ? face : kDefaults.bottom);
    n.text = col("", "Text", kDefaults.text);
    n.border = col("", "Border", kDefaults.border);
    n.image = img("");

    // States inherit what they do not give from the normal look, with a lighter face
    // for hover, a darker inverted one for pressed and faded text when disabled.
    auto state = [&](const QString& suffix, QColor top, QColor bottom, QColor text, QColor border) {
        ButtonStateLook st;
        const QColor stateFace = col(suffix, "Color", QColor());
        st.top = col(suffix, "Top", stateFace.isValid() ? stateFace : top);
        st.bottom = col(suffix, "Bottom", stateFace.isValid() ? stateFace : bottom);
        st.text = col(suffix, "Text", text);
        st.border = col(suffix, "Border", border);
        st.image = img(suffix);
        if (st.image.isNull()) st.image = n.image;
        return st;
    };
    QColor faded = n.text;
    faded.setAlphaF(0.45f);
    b.hover = state("Hover", n.top.lighter(106), n.bottom.lighter(106), n.text, n.border);
    b.pressed = state("Pressed", n.bottom.darker(110), n.top.darker(110), n.text, n.border);
    b.disabled = state("Disabled", n.top, n.top, faded, n.border);
    b.focus = col("", "Focus", kDefaults.focus);
    b.borderWidth = qMax(0, num("BorderWidth", 1));
    b.radius = qMax(0, num("Radius", 3));
    QVariant slice = value(s, "SliceMargins");
    if (!slice.isValid()) slice = value(kButton, "SliceMargins");
    if (slice.isValid()) {
        const QStringList parts = joined(slice).split(',', Qt::SkipEmptyParts);
        if (parts.size() == 1) {
            const int m = parts[0].trimmed().toInt();
            b.slice = QMargins(m, m, m, m);
        } else if (parts.size() == 4) {
            b.slice = QMargins(parts[0].trimmed().toInt(), parts[1].trimmed().toInt(),
                               parts[2].trimmed().toInt(), parts[3].trimmed().toInt());
        }
    }
    b.font = fontOverride(s, kButton);
    return b;
}

LabelLook Skin::label(const QString& section) const {
    const QString s = section.isEmpty() ? kLabel : section;
    auto col = [&](const QString& key, const QColor& fallback) {
        QColor c = color(kLabel, key, fallback);
        return s != kLabel ? color(s, key, c) : c;
    };
    LabelLook l;
    l.text = col("Text", kDefaults.labelText);
    l.background = col("Background", Qt::transparent);
    l.font = fontOverride(s, kLabel);
    QVariant align = value(s, "Align");
    if (!align.isValid()) align = value(kLabel, "Align");
    const QString a = joined(align).toLower();
    if (a == "center") l.alignment = Qt::AlignCenter;
    else if (a == "right") l.alignment = Qt::AlignRight | Qt::AlignVCenter;
    return l;
}

std::shared_ptr<const Skin> defaultSkin() {
    static const std::shared_ptr<const Skin> skin = [] {
        auto s = std::make_shared<Skin>();
        s->name = QStringLiteral("Default");
        s->form.top = kDefaults.formTop;
        s->form.bottom = kDefaults.formBottom;
        s->form.text = kDefaults.formText;
        s->form.border = kDefaults.border;
        s->palette = paletteOf(*s, kDefaults.field, kDefaults.fieldText, kDefaults.focus, kDefaults.selectionText);
        return std::shared_ptr<const Skin>(std::move(s));
    }();
    return skin;
}

std::shared_ptr<const Skin> loadSkin(const QString& path) {
    const QString found = platform::fromFileName(platform::readableFile(platform::toFileName(path)));
    if (found.isEmpty()) return nullptr;
    QSettings ini(found, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError) return nullptr;

    auto skin = std::make_shared<Skin>();
    skin->file = found;
    for (const QString& group : ini.childGroups()) {
        ini.beginGroup(group);
        Skin::Group values;
        for (const QString& key : ini.childKeys()) {
            const QVariant v = ini.value(key);
            const QString text = joined(v);
            if (kColorKeys.contains(key) && text.compare("transparent", Qt::CaseInsensitive) != 0 &&
                !QColor::isValidColorName(text))
                return nullptr;
            if (kNumberKeys.contains(key)) {
                bool ok = false;
                text.toDouble(&ok);
                if (!ok) return nullptr;
            }
            values.insert(key, v);
        }
        ini.endGroup();
        skin->groups.insert(group, values);
    }
    skin->name = joined(skin->value("Skin", "Name"));
    if (skin->name.isEmpty()) return nullptr;

    const QString F = QStringLiteral("Form");
    const QColor face = skin->color(F, "Color", QColor());
    skin->form.top = skin->color(F, "Top", face.isValid() ? face : kDefaults.formTop);
    skin->form.bottom = skin->color(F, "Bottom", face.isValid() ? face : kDefaults.formBottom);
    skin->form.text = skin->color(F, "Text", kDefaults.formText);
    skin->form.border = skin->color(F, "Border", kDefaults.border);
    skin->form.borderWidth = qMax(0, skin->integer(F, "BorderWidth", 0));
    skin->form.radius = qMax(0, skin->integer(F, "Radius", 0));
    skin->form.image = skin->image(F, "Image");
    const QString mode = joined(skin->value(F, "ImageMode")).toLower();
    skin->form.imageMode = mode == "tile" ? FormLook::ImageMode::Tile
                         : mode == "center" ? FormLook::ImageMode::Center
                                            : FormLook::ImageMode::Stretch;
    const QString D = QStringLiteral("Field");
    const QColor focus = skin->button().focus;
    skin->palette = paletteOf(*skin, skin->color(D, "Background", kDefaults.field),
                              skin->color(D, "Text", kDefaults.fieldText), skin->color(D, "Selection", focus),
                              skin->color(D, "SelectionText", kDefaults.selectionText));
    return skin;
}

QString resolveSkinFile(const std::string& name) {
    return platform::fromFileName(platform::resolveProgramFile(name, "skins"));
}

}  // namespace skins
