// The hyperlink control on a static: fit to text, hover, clicks, colours, cursor, tooltip.
#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>

#include "links/LinkStatic.h"
#include "platform/testing.h"

namespace {

const char* const kLongTarget = "http://www.openinvoice.example/a/rather/long/address.asp";

class LinkStaticTest : public ::testing::Test {
protected:
    LinkStaticTest() { parent.resize(600, 300); }

    // A static as the dialog creates it, at (x, y, w, h) with the given alignment.
    QLabel* makeStatic(const QString& text, Qt::Alignment align, QRect rect = QRect(200, 100, 30, 40)) {
        auto* label = new QLabel(text, &parent);
        label->setAlignment(align);
        label->setGeometry(rect);
        label->show();
        return label;
    }

    static QColor textColor(const QLabel* label) { return label->palette().color(QPalette::WindowText); }

    static void move(QWidget* w, QPoint at) {
        QMouseEvent e(QEvent::MouseMove, at, w->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    }

    platform::testing::ScopedTestServices services;
    QWidget parent;
};

TEST_F(LinkStaticTest, FitToTextFollowsTheStaticsAlignment) {
    auto extent = [](const QFont& font, const QString& text) {
        return QFontMetrics(font).boundingRect(QRect(0, 0, 100000, 1000), Qt::TextSingleLine, text).size();
    };
    const int width = extent(parent.font(), kLongTarget).width();
    ASSERT_GT(width, 30);  // the text is wider than every control below

    // Left-aligned: the left edge stays, the right edge follows the text.
    CLinkStatic left;
    QLabel* l = makeStatic(kLongTarget, Qt::AlignLeft | Qt::AlignTop);
    left.Attach(l);
    EXPECT_EQ(l->x(), 200);
    EXPECT_EQ(l->width(), width);
    EXPECT_EQ(l->y(), 100);
    EXPECT_EQ(l->height(), extent(l->font(), kLongTarget).height());

    // Right-aligned: the right edge stays.
    CLinkStatic right;
    QLabel* r = makeStatic(kLongTarget, Qt::AlignRight | Qt::AlignTop);
    right.Attach(r);
    EXPECT_EQ(r->x() + r->width(), 230);
    EXPECT_EQ(r->width(), width);

    // Centred: widened on both sides alike (halving toward zero).
    CLinkStatic centre;
    QLabel* c = makeStatic(kLongTarget, Qt::AlignHCenter | Qt::AlignTop);
    centre.Attach(c);
    const int grow = -((30 - width) / 2);
    EXPECT_EQ(c->x(), 200 - grow);
    EXPECT_EQ(c->x() + c->width(), 230 + grow);

    // Vertically centred: top and bottom move in alike; a short text keeps the middle.
    CLinkStatic middle;
    QLabel* m = makeStatic(QStringLiteral("x"), Qt::AlignLeft | Qt::AlignVCenter, QRect(10, 10, 100, 61));
    middle.Attach(m);
    const int h = extent(m->font(), QStringLiteral("x")).height();
    EXPECT_EQ(m->y() - 10, 71 - (m->y() + m->height()));
    EXPECT_EQ(m->height(), 61 - 2 * ((61 - h) / 2));

    // Switched off, the control keeps its rectangle.
    CLinkStatic fixed;
    fixed.SetFitToText(FALSE);
    QLabel* f = makeStatic(kLongTarget, Qt::AlignHCenter, QRect(5, 6, 30, 40));
    fixed.Attach(f);
    EXPECT_EQ(f->geometry(), QRect(5, 6, 30, 40));
}

TEST_F(LinkStaticTest, SetUpTakesTheTextAsTargetAndDrawsALink) {
    CLinkStatic link;
    QLabel* label = makeStatic(QStringLiteral("www.openinvoice.example"), Qt::AlignHCenter);
    link.Attach(label);
    EXPECT_EQ(link.GetUrl(), "www.openinvoice.example");
    EXPECT_TRUE(label->font().underline());
    EXPECT_EQ(label->toolTip(), QStringLiteral("www.openinvoice.example"));
    EXPECT_EQ(label->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(textColor(label), QColor(0, 0, 238));
    EXPECT_EQ(link.GetVisitedColor(), QColor(85, 26, 139));
    EXPECT_EQ(link.GetHoverColor(), QApplication::palette().color(QPalette::Highlight));

    // A static without text shows the target it was given.
    CLinkStatic given;
    given.SetUrl("mailto:postmaster@openinvoice.example");
    QLabel* empty = makeStatic(QString(), Qt::AlignLeft);
    given.Attach(empty);
    EXPECT_EQ(empty->text(), QStringLiteral("mailto:postmaster@openinvoice.example"));

    // Later changes reach the window: target and tooltip, underline, colours.
    link.SetUrl("http://www.openinvoice.example/peach.asp");
    EXPECT_EQ(label->toolTip(), QStringLiteral("http://www.openinvoice.example/peach.asp"));
    link.SetUnderline(FALSE);
    EXPECT_FALSE(label->font().underline());
    link.SetColors(Qt::red, Qt::green, QColor());
    EXPECT_EQ(textColor(label), QColor(Qt::red));
    EXPECT_EQ(link.GetHoverColor(), QApplication::palette().color(QPalette::Highlight));
}

TEST_F(LinkStaticTest, HoverTakesTheMouseAndGivesItBackOutside) {
    CLinkStatic link;
    QLabel* label = makeStatic(QStringLiteral("www.openinvoice.example"), Qt::AlignLeft);
    link.Attach(label);
    move(label, QPoint(2, 2));
    EXPECT_TRUE(link.IsHover());
    EXPECT_EQ(QWidget::mouseGrabber(), label);
    EXPECT_EQ(textColor(label), link.GetHoverColor());
    move(label, QPoint(3, 3));  // still inside: nothing changes
    EXPECT_TRUE(link.IsHover());
    move(label, QPoint(-5, 3));
    EXPECT_FALSE(link.IsHover());
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    EXPECT_EQ(textColor(label), QColor(0, 0, 238));
}

TEST_F(LinkStaticTest, ClickOpensThenVisitedUntilALaterFailure) {
    CLinkStatic link;
    QLabel* label = makeStatic(QStringLiteral("www.openinvoice.example"), Qt::AlignLeft);
    link.Attach(label);

    QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(2, 2));
    ASSERT_EQ(services.shell->opens.size(), 1u);
    EXPECT_EQ(services.shell->opens[0].target, "www.openinvoice.example");
    EXPECT_EQ(services.shell->opens[0].showCommand, platform::SW_SHOW);
    EXPECT_TRUE(link.IsVisited());
    EXPECT_EQ(textColor(label), QColor(85, 26, 139));
    EXPECT_TRUE(services.messageBox->calls.empty());
    EXPECT_TRUE(services.sound->beeps.empty());

    // The shell fails and no HTML program is registered: the shell's code is reported.
    services.shell->openResult = 31;
    QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_FALSE(link.IsVisited());
    EXPECT_EQ(textColor(label), QColor(0, 0, 238));
    EXPECT_EQ(services.sound->beeps, std::vector<unsigned>{platform::MB_ICONEXCLAMATION});
    ASSERT_EQ(services.messageBox->calls.size(), 1u);
    EXPECT_EQ(services.messageBox->calls[0].text,
              "Unable to open hyperlink:\n\nThere is no application associated\nwith the given filename extension.");
    EXPECT_EQ(services.messageBox->calls[0].style, platform::MB_OK | platform::MB_ICONEXCLAMATION);

    // A press that ends outside the control is no click.
    QTest::mousePress(label, Qt::LeftButton, {}, QPoint(2, 2));
    QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(-20, 2));
    EXPECT_EQ(services.shell->opens.size(), 2u);
}

TEST_F(LinkStaticTest, KeyboardFocusLightsTheLinkAndEnterOpensIt) {
    CLinkStatic link;
    QLabel* label = makeStatic(QStringLiteral("www.openinvoice.example"), Qt::AlignLeft);
    link.Attach(label);
    parent.show();
    EXPECT_TRUE(label->focusPolicy() & Qt::TabFocus);
    label->setFocus(Qt::TabFocusReason);
    QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(label, &in);
    EXPECT_EQ(textColor(label), link.GetHoverColor());
    QTest::keyClick(label, Qt::Key_Return);
    QTest::keyClick(label, Qt::Key_Space);
    EXPECT_EQ(services.shell->opens.size(), 2u);
    EXPECT_TRUE(link.IsVisited());
    label->clearFocus();
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(label, &out);
    EXPECT_EQ(textColor(label), QColor(85, 26, 139));
}

TEST_F(LinkStaticTest, EveryResultCodeHasItsMessage) {
    const std::pair<int, const char*> table[] = {
        {0, "The operating system is out\nof memory or resources."},
        {2, "The specified file was not found."},
        {3, "The specified path was not found."},
        {5, "The operating system denied\naccess to the specified file."},
        {8, "There was not enough memory to complete the operation."},
        {11, "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
        {26, "A sharing violation occurred. "},
        {27, "The filename association is\nincomplete or invalid."},
        {28, "The DDE transaction could not\nbe completed because the request timed out."},
        {29, "The DDE transaction failed."},
        {30, "The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed."},
        {31, "There is no application associated\nwith the given filename extension."},
        {32, "The specified dynamic-link library was not found."},
        {1, "Unknown Error (1) occurred."},
        {-7, "Unknown Error (-7) occurred."},
        {12345, "Unknown Error (12345) occurred."},
    };
    for (const auto& [code, message] : table) {
        CLinkStatic::ReportOpenError(code);
        EXPECT_EQ(services.messageBox->calls.back().text, std::string("Unable to open hyperlink:\n\n") + message)
            << code;
    }
}

}  // namespace
