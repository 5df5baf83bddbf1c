// The application object and the About box.
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "app/AboutDlg.h"
#include "app_test_support.h"
#include "data/CBtrvdcp1.h"
#include "res/templates.h"

using namespace framework;

namespace {

class ApplicationTest : public apptest::AppTest {};

TEST_F(ApplicationTest, InitInstanceRunsTheMainWindowAndReturnsFalse) {
    CDialog* mainWindow = nullptr;
    bool shown = false;
    QTimer::singleShot(0, qApp, [&] {
        mainWindow = app.m_pMainWnd;
        if (!mainWindow) return;
        shown = mainWindow->GetWindow()->isVisible();
        mainWindow->SendCommand(IDCANCEL);
    });
    EXPECT_EQ(app.InitInstance(), FALSE);
    ASSERT_NE(mainWindow, nullptr);
    EXPECT_EQ(mainWindow->GetTemplateId(), IDD_MAIN_DIALOG);
    EXPECT_EQ(app.m_pMainWnd, nullptr);
    EXPECT_TRUE(shown);
    // The window started up: the first display played its sound.
    EXPECT_EQ(soundNames(), std::vector<std::string>{"click.wav"});
    ASSERT_GE(traced.size(), 2u);
    EXPECT_EQ(traced[0], "AfxEnableControlContainer");
    EXPECT_EQ(traced[1], "Enable3dControlsStatic");
}

TEST_F(ApplicationTest, AMissingDataControlEndsTheProgramSilently) {
    unregisterActiveXClass("BtrvDataControl");
    COpenInvoiceDlg dlg;
    EXPECT_EQ(dlg.DoModal(), -1);
    EXPECT_EQ(app.InitInstance(), FALSE);  // returns at once: no loop to end
    RegisterDataControl();
    EXPECT_EQ(dlg.m_bSound, 0);  // the start-up never ran
    EXPECT_TRUE(services.messageBox->calls.empty());
    EXPECT_TRUE(services.sound->calls.empty());
}

TEST_F(ApplicationTest, CommandsTheMainWindowPassesOn) {
    COpenInvoiceDlg dlg;
    auto about = std::make_shared<bool>(false);
    auto company = std::make_shared<bool>(false);
    runModal(dlg, [&] {
        EXPECT_EQ(dlg.FindMessageEntry(Message::Command, 0, ID_INFO_ABOUT), nullptr);
        services.sound->calls.clear();
        dlg.m_bSound = 0;
        closeWhenShown("IDD_ABOUTBOX", about);
        EXPECT_TRUE(dlg.SendCommand(ID_INFO_ABOUT));
        EXPECT_EQ(soundNames(), std::vector<std::string>{"kxtheme.wav"});

        closeWhenShown("IDD_COMPANY_DIALOG", company);
        EXPECT_TRUE(dlg.SendCommand(ID_FILE_SELECTCOMPANY));

        EXPECT_TRUE(dlg.SendCommand(ID_INFO_HELP));
        EXPECT_TRUE(dlg.GetWindow()->isVisible());
    });
    EXPECT_TRUE(*about);
    EXPECT_TRUE(*company);
    ASSERT_EQ(services.help->calls.size(), 1u);
    const auto& help = services.help->calls[0];
    EXPECT_EQ(help.command, HELP_CONTENTS);
    EXPECT_EQ(help.data, 0u);
    EXPECT_EQ(help.helpFile, helpFilePath());
    EXPECT_EQ(help.helpFile.substr(help.helpFile.size() - 15), "/app_tests.html");
}

TEST_F(ApplicationTest, HelpThatCannotStartIsReported) {
    services.help->result = false;
    app.OnCmdMsg(ID_INFO_HELP, 0);
    ASSERT_EQ(services.messageBox->calls.size(), 1u);
    EXPECT_EQ(services.messageBox->calls[0].style & 0xF0u, platform::MB_ICONSTOP);
}

TEST_F(ApplicationTest, AboutBoxHoldsItsNineControls) {
    const DialogTemplate& t = res::aboutBox();
    EXPECT_EQ(t.caption, "About Peachtree Open Item Vexel");
    std::vector<int> ids;
    for (const auto& c : t.controls) ids.push_back(c.id);
    EXPECT_EQ(ids, (std::vector<int>{1, -1, -1, -1, 1000, -1, 1045, 1046, 1029}));

    CAboutDlg dlg;
    const int result = runModal(dlg, [&] {
        EXPECT_TRUE(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDOK))->isDefault());
        EXPECT_STREQ(dlg.GetDlgItem(IDC_SKINFORM)->metaObject()->className(), "skins::SkinFormWidget");
        EXPECT_STREQ(dlg.GetDlgItem(IDC_VERSION_LABEL)->metaObject()->className(), "skins::SkinLabel");
        EXPECT_EQ(dlg.m_WebLink.GetWindowText(), res::kMakerWebAddress);
        EXPECT_EQ(dlg.m_MailLink.GetWindowText(), res::kMakerMailLink);
        EXPECT_EQ(std::string(res::kMakerMailLink).rfind("mailto:", 0), 0u);
        // Every caption fits its control.
        for (QLabel* label : dlg.GetClientArea()->findChildren<QLabel*>()) {
            const QRect needed = label->fontMetrics().boundingRect(
                QRect(0, 0, label->width(), 10000), int(label->alignment()) | Qt::TextWordWrap, label->text());
            EXPECT_LE(needed.width(), label->width()) << label->text().toStdString();
            EXPECT_LE(needed.height(), label->height()) << label->text().toStdString();
        }
        QTest::keyClick(dlg.GetWindow(), Qt::Key_Return);
    });
    EXPECT_EQ(result, IDOK);

    CAboutDlg again;
    EXPECT_EQ(runModal(again, [&] { QTest::keyClick(again.GetWindow(), Qt::Key_Escape); }), IDCANCEL);
}

}  // namespace
