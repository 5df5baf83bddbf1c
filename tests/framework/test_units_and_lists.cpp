// Dialog-unit conversion, the list box, and the program-wide names.
#include <QFontMetrics>
#include <QTest>
#include <gtest/gtest.h>

#include "framework/cmdtarget.h"
#include "framework/dialog_units.h"
#include "framework/listbox.h"
#include "framework/win.h"

using namespace framework;

TEST(DialogUnits, MulDivRoundsHalvesAwayFromZero) {
    EXPECT_EQ(MulDiv(10, 6, 4), 15);
    EXPECT_EQ(MulDiv(3, 6, 4), 5);    // 4.5
    EXPECT_EQ(MulDiv(1, 13, 8), 2);   // 1.625
    EXPECT_EQ(MulDiv(-3, 6, 4), -5);
    EXPECT_EQ(MulDiv(5, 3, -2), -8);
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
    EXPECT_EQ(MulDiv(100000, 100000, 100000), 100000);  // no overflow in between
}

TEST(DialogUnits, BaseUnitsComeFromTheDialogFont) {
    const QFont font = dialogFont("MS Sans Serif", 8);
    EXPECT_EQ(font.pixelSize(), 11);  // 8 points on a 96 dpi screen
    const BaseUnits units = baseUnits(font);
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(units.x, (width / 26 + 1) / 2);
    EXPECT_EQ(units.y, metrics.height());
    EXPECT_GE(units.x, 5);  // a narrow sans-serif close to the original's 6 x 13
    EXPECT_LE(units.x, 7);

    const QRect r = mapDialogRect(BaseUnits{6, 13}, 122, 8, 58, 14);
    EXPECT_EQ(r, QRect(183, 13, 87, 23));
}

TEST(ListBox, SortedAddInsertAndText) {
    ListBoxWidget sorted(true, false, 6);
    CListBox list;
    list.Attach(&sorted);
    EXPECT_EQ(list.AddString("pear"), 0);
    EXPECT_EQ(list.AddString("Apple"), 0);
    EXPECT_EQ(list.AddString("banana"), 1);
    EXPECT_EQ(list.AddString("apple"), 1);  // equal keys keep insertion order
    // InsertString never sorts.
    EXPECT_EQ(list.InsertString(0, "zebra"), 0);
    EXPECT_EQ(list.InsertString(-1, "aardvark"), 5);
    EXPECT_EQ(list.InsertString(9, "out of range"), LB_ERR);
    std::vector<std::string> rows;
    for (int i = 0; i < list.GetCount(); ++i) rows.push_back(list.GetText(i));
    EXPECT_EQ(rows, (std::vector<std::string>{"zebra", "Apple", "apple", "banana", "pear", "aardvark"}));
    std::string text;
    EXPECT_EQ(list.GetText(6, text), LB_ERR);
    list.ResetContent();
    EXPECT_EQ(list.GetCount(), 0);

    ListBoxWidget unsorted(false, false, 6);
    CListBox plain;
    plain.Attach(&unsorted);
    plain.AddString("b");
    plain.AddString("a");
    EXPECT_EQ(plain.GetText(0), "b");
}

TEST(ListBox, TabStopsInDialogUnits) {
    ListBoxWidget widget(true, true, 6);
    // Default: every 32 dialog units (48 pixels at 6 pixels a character).
    EXPECT_EQ(widget.nextTabStop(0), 48);
    EXPECT_EQ(widget.nextTabStop(48), 96);
    CListBox list;
    list.Attach(&widget);
    EXPECT_TRUE(list.SetTabStops({40, 100, 150, 190}));
    EXPECT_EQ(widget.nextTabStop(0), 60);
    EXPECT_EQ(widget.nextTabStop(60), 150);
    EXPECT_EQ(widget.nextTabStop(284), 285);
    EXPECT_EQ(widget.nextTabStop(285), 288);  // past the last stop: the default spacing

    ListBoxWidget noTabs(false, false, 6);
    CListBox other;
    other.Attach(&noTabs);
    EXPECT_FALSE(other.SetTabStops({10}));
}

TEST(ProgramNames, TitleAndHelpFileComeFromTheProgramFile) {
    EXPECT_EQ(applicationTitle(), "framework_tests");
    const std::string help = helpFilePath();
    EXPECT_EQ(help.substr(help.size() - std::string("/framework_tests.html").size()), "/framework_tests.html");
}
