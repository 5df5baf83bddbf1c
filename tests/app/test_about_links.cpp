// The About box's two links: the statics' texts are their targets, and a click opens them.
#include <QLabel>
#include <QTest>

#include "app/AboutDlg.h"
#include "app_test_support.h"
#include "res/templates.h"

using namespace framework;

namespace {

class AboutLinksTest : public apptest::AppTest {};

TEST_F(AboutLinksTest, LinksOpenTheirTextAndShowAsVisited) {
    CAboutDlg dlg;
    runModal(dlg, [&] {
        auto* web = qobject_cast<QLabel*>(dlg.GetDlgItem(IDC_WEB_LINK));
        auto* mail = qobject_cast<QLabel*>(dlg.GetDlgItem(IDC_MAIL_LINK));
        ASSERT_TRUE(web && mail);
        EXPECT_EQ(dlg.m_WebLink.GetUrl(), res::kMakerWebAddress);
        EXPECT_EQ(dlg.m_MailLink.GetUrl(), res::kMakerMailLink);
        for (QLabel* link : {web, mail}) {
            EXPECT_TRUE(link->font().underline());
            EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
            EXPECT_EQ(link->toolTip(), link->text());
            EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 238));
            // The whole text shows, inside the box.
            EXPECT_GE(link->width(), link->fontMetrics().horizontalAdvance(link->text()) - 1);
            EXPECT_TRUE(dlg.GetClientArea()->rect().contains(link->geometry()));
        }

        QTest::mouseClick(web, Qt::LeftButton, {}, QPoint(3, 3));
        services.shell->openResult = 31;
        services.shell->association.clear();
        QTest::mouseClick(mail, Qt::LeftButton, {}, QPoint(3, 3));
        ASSERT_EQ(services.shell->opens.size(), 2u);
        EXPECT_EQ(services.shell->opens[0].target, res::kMakerWebAddress);
        EXPECT_EQ(services.shell->opens[1].target, res::kMakerMailLink);
        EXPECT_TRUE(dlg.m_WebLink.IsVisited());
        EXPECT_EQ(web->palette().color(QPalette::WindowText), QColor(85, 26, 139));
        EXPECT_FALSE(dlg.m_MailLink.IsVisited());
        // The box stays open after either click.
        EXPECT_TRUE(dlg.GetWindow()->isVisible());
    });
    ASSERT_EQ(services.messageBox->calls.size(), 1u);
    EXPECT_EQ(services.messageBox->calls[0].text.rfind("Unable to open hyperlink:\n\n", 0), 0u);
    EXPECT_EQ(services.sound->beeps.size(), 1u);
}

}  // namespace
