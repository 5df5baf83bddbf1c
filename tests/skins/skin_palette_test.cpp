// A skin's palette: the colours of the standard controls in the window its form lives in.
#include "skin_fixture.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QVBoxLayout>

using testsupport::writeFile;

TEST_F(SkinTest, FieldsAndSelectionComeFromTheFieldSection) {
    writeFile(cwd.path() + "/fields.skn",
              "[Skin]\nName=Fields\n[Form]\nColor=#d0c8a0\nText=#202010\n[Button]\nColor=#405020\nText=#f0f0e0\n"
              "[Field]\nBackground=#f8f4e0\nText=#101008\nSelection=#506030\nSelectionText=#fffff0\n");
    const auto skin = skins::loadSkin(cwd.path() + "/fields.skn");
    ASSERT_TRUE(skin);
    const QPalette& p = skin->palette;
    EXPECT_EQ(p.color(QPalette::Window), QColor("#d0c8a0"));
    EXPECT_EQ(p.color(QPalette::WindowText), QColor("#202010"));
    EXPECT_EQ(p.color(QPalette::Button), QColor("#405020"));
    EXPECT_EQ(p.color(QPalette::ButtonText), QColor("#f0f0e0"));
    EXPECT_EQ(p.color(QPalette::Base), QColor("#f8f4e0"));
    EXPECT_EQ(p.color(QPalette::Text), QColor("#101008"));
    EXPECT_EQ(p.color(QPalette::Highlight), QColor("#506030"));
    EXPECT_EQ(p.color(QPalette::HighlightedText), QColor("#fffff0"));

    // Without [Field]: white fields, the buttons' focus colour as selection.
    writeFile(cwd.path() + "/plain.skn", "[Skin]\nName=Plain\n[Button]\nFocus=#224466\n");
    const auto plain = skins::loadSkin(cwd.path() + "/plain.skn");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->palette.color(QPalette::Base), QColor(Qt::white));
    EXPECT_EQ(plain->palette.color(QPalette::Highlight), QColor("#224466"));

    // A field colour that cannot be read makes the file malformed.
    writeFile(cwd.path() + "/bad.skn", "[Skin]\nName=Bad\n[Field]\nSelection=greenish\n");
    EXPECT_FALSE(skins::loadSkin(cwd.path() + "/bad.skn"));
}

TEST_F(SkinTest, FormDressesItsWholeWindowButNotTheApplication) {
    writeFile(cwd.path() + "/dark.skn",
              "[Skin]\nName=Dark\n[Form]\nColor=#303030\nText=#f0f0f0\n[Button]\nColor=#505050\nText=#ffffff\n"
              "[Field]\nBackground=#202020\nText=#eeeeee\n");
    const QPalette before = QApplication::palette();
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* bar = new QMenuBar(&window);
    QMenu* menu = bar->addMenu(QStringLiteral("File"));
    layout->setMenuBar(bar);
    auto* client = new QWidget(&window);
    layout->addWidget(client);
    auto* edit = new QLineEdit(client);
    auto* form = new skins::SkinFormWidget(info(1000, "IDC_SKINFORM", ""), client);
    form->setSkinFile("dark.skn");

    EXPECT_EQ(window.palette().color(QPalette::Window), QColor("#303030"));
    EXPECT_EQ(edit->palette().color(QPalette::Base), QColor("#202020"));
    EXPECT_EQ(menu->palette().color(QPalette::Base), QColor("#202020"));
    // The menu bar's titles are written in the window's text colour.
    EXPECT_EQ(bar->palette().color(QPalette::ButtonText), QColor("#f0f0f0"));
    // Only the program's main window sets the look of the other windows.
    EXPECT_EQ(QApplication::palette().color(QPalette::Base), before.color(QPalette::Base));
}
