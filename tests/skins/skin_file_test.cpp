#include "skin_fixture.h"
#include "contrast.h"

using skins::loadSkin;
using testsupport::writeFile;

namespace {

using skintest::contrast;

QColor mix(const QColor& a, const QColor& b) {
    return QColor::fromRgbF((a.redF() + b.redF()) / 2, (a.greenF() + b.greenF()) / 2, (a.blueF() + b.blueF()) / 2);
}

}  // namespace

TEST(ShippedSkins, LoadWithTheirImagesAndStayLegible) {
    const struct { const char* file; const char* name; bool image; } shipped[] = {
        {"grey.skn", "Grey", false}, {"military.skn", "Military", true}, {"zhelezo.skn", "Zhelezo", true}};
    QSet<QRgb> backgrounds;
    for (const auto& s : shipped) {
        SCOPED_TRACE(s.file);
        const auto skin = loadSkin(QString(SKINS_SOURCE_DIR) + "/" + s.file);
        ASSERT_TRUE(skin);
        EXPECT_EQ(skin->name, s.name);
        EXPECT_EQ(!skin->form.image.isNull(), s.image);
        backgrounds.insert(skin->form.top.rgb());
        // Text must stand out from what it is drawn on, in every state a user reads.
        const QColor form = mix(skin->form.top, skin->form.bottom);
        EXPECT_GE(contrast(skin->label().text, form), 4.5);
        EXPECT_GE(contrast(skin->form.text, form), 4.5);
        const skins::ButtonLook b = skin->button();
        for (const skins::ButtonStateLook* st : {&b.normal, &b.hover, &b.pressed})
            EXPECT_GE(contrast(st->text, mix(st->top, st->bottom)), 4.5);
        EXPECT_GE(contrast(b.disabled.text, mix(b.disabled.top, b.disabled.bottom)), 1.5);
    }
    EXPECT_EQ(backgrounds.size(), 3);
}

TEST_F(SkinTest, MalformedOrMissingFilesAreRejected) {
    writeFile("noname.skn", "[Form]\nTop=#ffffff\n");
    writeFile("badcolour.skn", "[Skin]\nName=X\n[Button]\nTop=#12345g\n");
    writeFile("badnumber.skn", "[Skin]\nName=X\n[Button]\nRadius=round\n");
    writeFile("garbage.skn", QByteArray("\x00\x01\xff\xfe garbage [[[ = \n=\n[x\n", 26));
    writeFile("empty.skn", "");
    for (const char* name : {"noname.skn", "badcolour.skn", "badnumber.skn", "garbage.skn", "empty.skn",
                             "missing.skn", ""}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(loadSkin(QString::fromLatin1(name)));
    }
    QDir().mkpath("folder.skn");
    EXPECT_FALSE(loadSkin("folder.skn"));
}

TEST_F(SkinTest, MissingKeysInheritSensibly) {
    writeFile("min.skn",
              "[Skin]\nName=Min\nFuture=ignored\n"
              "[Form]\nColor=#336699\n"
              "[Button]\nTop=#102030\nBottom=#102030\nText=#eeeeee\nSliceMargins=4\nFontName=MS Sans Serif\n"
              "[ButtonHover]\nText=#ffff00\n"
              "[Title]\nText=#ff0000\nFontSize=12\n"
              "[Label]\nAlign=right\n");
    const auto skin = loadSkin("min.skn");
    ASSERT_TRUE(skin);
    EXPECT_EQ(skin->form.top, QColor("#336699"));
    EXPECT_EQ(skin->form.bottom, QColor("#336699"));
    const skins::ButtonLook b = skin->button();
    EXPECT_EQ(b.hover.text, QColor("#ffff00"));
    // States the file does not give follow its normal look, not the built-in grey.
    EXPECT_GT(b.hover.top.lightness(), b.normal.top.lightness());
    EXPECT_LT(b.hover.top.lightness(), 80);
    EXPECT_LT(b.pressed.top.lightness(), b.normal.top.lightness() + 1);
    EXPECT_EQ(b.disabled.text.alpha() < 255, true);
    EXPECT_EQ(b.slice, QMargins(4, 4, 4, 4));
    EXPECT_EQ(b.font.family, "Liberation Sans");
    // A section of its own overrides what it gives and takes the rest from [Button].
    const skins::ButtonLook title = skin->button("Title");
    EXPECT_EQ(title.normal.text, QColor("#ff0000"));
    EXPECT_EQ(title.normal.top, QColor("#102030"));
    EXPECT_EQ(title.font.points, 12);
    EXPECT_EQ(title.hover.text, QColor("#ffff00"));
    const skins::LabelLook label = skin->label();
    EXPECT_EQ(label.background.alpha(), 0);  // transparent unless given
    EXPECT_EQ(label.alignment, Qt::AlignRight | Qt::AlignVCenter);
}
