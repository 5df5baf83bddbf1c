// The main window: template, menu, maps, start-up, restricted mode, closing, sounds.
#include <QAccessible>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include "company_fixture.h"
#include "res/templates.h"

using namespace framework;

namespace {

struct Row {
    int id;
    const char* name;
    const char* kind;  // widget class
    int x, y, cx, cy;
    bool visible;
};

// The window's controls in template order.
const Row kControls[] = {
    {1010, "IDC_SEARCH_EDIT", "QLineEdit", 122, 8, 58, 14, true},
    {1013, "IDC_BILLNAME_EDIT", "QLineEdit", 9, 24, 171, 12, true},
    {1014, "IDC_BILLADDR1_EDIT", "QLineEdit", 9, 38, 171, 12, true},
    {1015, "IDC_BILLADDR2_EDIT", "QLineEdit", 9, 52, 171, 12, true},
    {1018, "IDC_CITYSTATEZIP_EDIT", "QLineEdit", 9, 66, 171, 12, true},
    {1016, "IDC_PHONE_EDIT", "QLineEdit", 9, 80, 61, 12, true},
    {1017, "IDC_FAX_EDIT", "QLineEdit", 119, 80, 61, 12, true},
    {1002, "IDC_PREV_BUTTON", "skins::SkinButton", 198, 25, 22, 16, true},
    {1003, "IDC_DETAIL_BUTTON", "skins::SkinButton", 199, 46, 66, 16, true},
    {1004, "IDC_NEXT_BUTTON", "skins::SkinButton", 223, 25, 22, 16, true},
    {1012, "IDC_NINDEX_EDIT", "QLineEdit", 113, 140, 40, 12, false},
    {1019, "IDC_CUSTID_EDIT", "QLineEdit", 9, 8, 97, 14, true},
    {1000, "IDC_SKINFORM", "skins::SkinFormWidget", 87, 150, 21, 20, true},
    {1005, "IDC_BALANCE_FILTER_BUTTON", "skins::SkinButton", 249, 25, 16, 16, true},
    {1023, "IDC_CUSTOMER_DATA", "BtrvDataControl", 29, 146, 53, 17, false},
    {1024, "IDC_JOURNAL_DATA", "BtrvDataControl", 154, 143, 53, 17, false},
    {1020, "IDC_CONTACT_EDIT", "QLineEdit", 9, 94, 171, 12, true},
    {1021, "IDC_EMAIL_EDIT", "QLineEdit", 9, 108, 171, 12, true},
    {1029, "IDC_BALANCE_CAPTION", "skins::SkinLabel", 205, 94, 53, 10, true},
    {1030, "IDC_FAX_CAPTION", "skins::SkinLabel", 93, 81, 24, 10, true},
    {1026, "IDC_DATAPATH_EDIT", "QLineEdit", 108, 157, 40, 14, false},
    {1001, "IDC_INVOICE_LIST", "framework::ListBoxWidget", 9, 136, 254, 49, true},
    {1036, "IDC_BUTTON2", "QPushButton", 63, 167, 50, 14, false},
    {1025, "IDC_PERMISS_DATA", "BtrvDataControl", 113, 132, 53, 17, false},
    {1038, "IDC_SECPASSWORD_EDIT", "QLineEdit", 133, 151, 86, 14, false},
    {1039, "IDC_SECSTATUS_EDIT", "QLineEdit", 132, 167, 86, 14, false},
    {1031, "IDC_DATE_HEADER", "skins::SkinLabel", 16, 125, 37, 10, true},
    {1032, "IDC_REFERENCE_HEADER", "skins::SkinLabel", 58, 125, 45, 10, true},
    {1033, "IDC_AMOUNT_HEADER", "skins::SkinLabel", 108, 125, 51, 10, true},
    {1034, "IDC_PAID_HEADER", "skins::SkinLabel", 172, 125, 34, 10, true},
    {1035, "IDC_BALANCE_HEADER", "skins::SkinLabel", 210, 125, 39, 10, true},
    {1006, "IDC_PRINT_BUTTON", "skins::SkinButton", 199, 67, 66, 16, true},
    {1037, "IDC_BALANCE_VALUE", "skins::SkinLabel", 205, 107, 53, 10, true},
    {1046, "IDC_SOUND_BUTTON", "skins::SkinButton", 255, 3, 14, 10, true},
};

// The window over a company without customers: nothing shown, nothing reported.
class MainWindowTest : public companytest::CompanyTest {
protected:
    void SetUp() override {
        CompanyTest::SetUp();
        openCompany({});
    }
};

TEST_F(MainWindowTest, ControlsStandAsTheWindowTableSays) {
    const DialogTemplate& t = res::mainDialog();
    ASSERT_EQ(t.controls.size(), std::size(kControls));
    EXPECT_EQ(t.caption, "Peachtree Open Invoice Vexel");
    EXPECT_EQ(t.style, 0x90CA02C4u);
    COpenInvoiceDlg dlg;
    runModal(dlg, [&] {
        for (size_t i = 0; i < std::size(kControls); ++i) {
            const Row& row = kControls[i];
            SCOPED_TRACE(row.name);
            EXPECT_EQ(t.controls[i].id, row.id);
            EXPECT_EQ(t.controls[i].idName, row.name);
            QWidget* w = dlg.GetDlgItem(row.id);
            ASSERT_NE(w, nullptr);
            EXPECT_STREQ(w->metaObject()->className(), row.kind);
            EXPECT_EQ(w->geometry(), mapDialogRect(dlg.GetBaseUnits(), row.x, row.y, row.cx, row.cy));
            EXPECT_EQ(!w->isHidden(), row.visible);
            EXPECT_EQ(w->accessibleDescription(), QString::fromLatin1(row.name));
            // The lookup box is the only visible tab stop.
            const bool visibleTabStop = !w->isHidden() && (w->focusPolicy() & Qt::TabFocus);
            EXPECT_EQ(visibleTabStop, row.id == IDC_SEARCH_EDIT);
        }
        EXPECT_EQ(dlg.GetClientArea()->size(), mapDialogRect(dlg.GetBaseUnits(), 0, 0, 274, 191).size());
        EXPECT_EQ(dlg.GetWindow()->windowTitle(), QStringLiteral("Peachtree Open Invoice Vexel"));
        EXPECT_EQ(dlg.GetDlgItem(IDC_BILLNAME_EDIT)->accessibleName(), QStringLiteral("Bill name"));
    });
}

TEST_F(MainWindowTest, MenuHoldsTheItemsInOrder) {
    COpenInvoiceDlg dlg;
    std::vector<std::string> seen;
    runModal(dlg, [&] {
        auto* bar = dlg.GetWindow()->findChild<QMenuBar*>();
        ASSERT_NE(bar, nullptr);
        std::function<void(QMenu*, const std::string&)> walk = [&](QMenu* menu, const std::string& path) {
            for (QAction* a : menu->actions()) {
                const std::string text = a->text().toStdString();
                if (a->menu()) {
                    walk(a->menu(), path + text + " > ");
                } else {
                    EXPECT_FALSE(a->isSeparator());
                    EXPECT_FALSE(a->isCheckable());
                    EXPECT_TRUE(a->isEnabled());
                    seen.push_back(path + text + "=" + std::to_string(a->data().toInt()));
                }
            }
        };
        ASSERT_EQ(bar->actions().size(), 2);
        // The menu bar's items are reachable by their texts.
        QAccessibleInterface* barAccess = QAccessible::queryAccessibleInterface(bar);
        ASSERT_NE(barAccess, nullptr);
        ASSERT_EQ(barAccess->childCount(), 2);
        EXPECT_EQ(barAccess->child(0)->text(QAccessible::Name), QStringLiteral("File"));
        EXPECT_EQ(barAccess->child(1)->role(), QAccessible::MenuItem);
        for (QAction* top : bar->actions()) walk(top->menu(), top->text().toStdString() + " > ");
    });
    const std::vector<std::string> expected = {
        "File > Select Peach Company =32776",
        "File > Select Skin > Grey=32788",
        "File > Select Skin > Military=32790",
        "File > Select Skin > Zhelezo=32795",
        "File > Select Skin > Other...=32796",
        "File > Exit=32780",
        "Info > Help=32777",
        "Info > Corvane On The Web > Product News=32782",
        "Info > Corvane On The Web > Cool Peachtree Stuff=32783",
        "Info > Corvane On The Web > Email Us=32785",
        "Info > Corvane On The Web > Email 'Open Item Vexel' To A Friend=32786",
        "Info > About=32778",
    };
    EXPECT_EQ(seen, expected);
}

TEST_F(MainWindowTest, MapsListTheirEntriesInOrder) {
    std::vector<std::string> messages;
    for (const MessageMapEntry* e = COpenInvoiceDlg::GetThisMessageMap()->entries; e->invoke; ++e)
        messages.push_back(std::string(e->handler) + ":" + std::to_string(e->id) + ":" + std::to_string(e->code));
    EXPECT_EQ(messages, (std::vector<std::string>{
        "OnPaint:0:0", "OnQueryDragIcon:0:0", "OnChangeSearchEdit:1010:768", "OnSkinGrey:32788:0",
        "OnSkinMilitary:32790:0", "OnSkinZhelezo:32795:0", "OnSkinOther:32796:0", "OnFileExit:32780:0",
        "OnButton2:1036:0", "OnWebProductNews:32782:0", "OnWebEmailFriend:32786:0",
        "OnWebEmailUs:32785:0", "OnWebPeachtreeStuff:32783:0"}));

    std::vector<std::string> events;
    for (const EventSinkEntry* e = COpenInvoiceDlg::GetThisEventSinkMap()->entries; e->invoke; ++e)
        events.push_back(std::to_string(e->controlId) + "/" + std::to_string(e->dispid));
    EXPECT_EQ(events, (std::vector<std::string>{
        "1000/5", "1000/6", "1000/10", "1000/2", "1000/3", "1000/11", "1002/1", "1002/2", "1002/3",
        "1003/1", "1003/2", "1003/3", "1004/1", "1004/2", "1004/3", "1005/1", "1006/1", "1046/1"}));
}

TEST_F(MainWindowTest, EveryMapEntryReachesItsHandler) {
    COpenInvoiceDlg dlg;
    runModal(dlg, [&] {
        traced.clear();
        for (const MessageMapEntry* e = COpenInvoiceDlg::GetThisMessageMap()->entries; e->invoke; ++e) {
            if (e->message != Message::Command || e->id == ID_FILE_EXIT) continue;
            // A handler that opens the password dialog finds it closed at once.
            closeWhenShown("IDD_PASSWORD_DIALOG", std::make_shared<bool>());
            traced.clear();  // the dialog's loop may paint the window after the handler
            EXPECT_TRUE(dlg.SendCommand(e->id, e->code)) << e->handler;
            ASSERT_FALSE(traced.empty());
            EXPECT_EQ(traced.front(), e->handler);
        }
        QIcon icon;
        EXPECT_TRUE(dlg.Dispatch(Message::QueryDragIcon, &icon));
        EXPECT_EQ(icon.cacheKey(), dlg.m_hIcon.cacheKey());
        EXPECT_TRUE(dlg.Dispatch(Message::Paint));
        EXPECT_EQ(traced.back(), "OnPaint");

        // Typing into the lookup box is a change notification.
        QTest::keyClick(dlg.GetDlgItem(IDC_SEARCH_EDIT), Qt::Key_A);
        EXPECT_EQ(traced.back(), "OnChangeSearchEdit");

        for (const EventSinkEntry* e = COpenInvoiceDlg::GetThisEventSinkMap()->entries; e->invoke; ++e) {
            const QVariantList args = e->controlId == IDC_SKINFORM ? QVariantList{QVariant(), 1, 2, 3} : QVariantList{};
            EXPECT_TRUE(dlg.FireEvent(e->controlId, e->dispid, args));
            EXPECT_EQ(traced.back(), e->handler);
        }
        // A real click on a skin button arrives as its Click event.
        traced.clear();
        QTest::mouseClick(dlg.GetDlgItem(IDC_NEXT_BUTTON), Qt::LeftButton);
        EXPECT_NE(std::find(traced.begin(), traced.end(), "OnClickNextButton"), traced.end());
    });
}

TEST_F(MainWindowTest, StartUpRunsItsStepsInOrder) {
    COpenInvoiceDlg dlg;
    bool visibleAtFirstDisplay = true;
    framework::setTraceSink([&](const std::string& event) {
        traced.push_back(event);
        if (event == "OnClickNextButton") visibleAtFirstDisplay = dlg.GetWindow()->isVisible();
    });
    runModal(dlg, [&] {
        EXPECT_EQ(dlg.m_bSound, 1);
        EXPECT_EQ(dlg.GetWindow()->focusWidget(), dlg.GetDlgItem(IDC_SEARCH_EDIT));
        EXPECT_EQ(edit(dlg, IDC_NINDEX_EDIT)->text(), QStringLiteral("0"));
        EXPECT_TRUE(dlg.m_InvoiceList.IsAttached());
        EXPECT_TRUE(dlg.m_BalanceLabel.IsAttached());
    });
    const std::vector<std::string> expected = {
        "CDialog::OnInitDialog", "SetIcon", "LocateCompanyFolder", "m_PermissData.Open",
        "m_CustomerData.Open", "m_JournalData.Open", "OnClickNextButton", "CheckSecurity",
        "LoadFirstSkin", "ApplySkinToControls", "ApplySkinToControls"};
    EXPECT_EQ(std::vector<std::string>(traced.begin(), traced.begin() + expected.size()), expected);
    EXPECT_FALSE(visibleAtFirstDisplay);
    ASSERT_FALSE(services.sound->calls.empty());
    EXPECT_EQ(services.sound->calls[0].name, "click.wav");
    EXPECT_EQ(services.sound->calls[0].flags, 0x00020001u);
    EXPECT_TRUE(services.messageBox->calls.empty());
}

TEST_F(MainWindowTest, RestrictedModeHidesExactlyFiveControlsForGood) {
    COpenInvoiceDlg dlg;
    runModal(dlg, [&] {
        std::map<int, bool> before;
        for (const Row& row : kControls) before[row.id] = !dlg.GetDlgItem(row.id)->isHidden();
        dlg.EnterRestrictedMode();
        const std::set<int> hidden = {IDC_BALANCE_FILTER_BUTTON, IDC_PREV_BUTTON, IDC_DETAIL_BUTTON,
                                      IDC_NEXT_BUTTON, IDC_BALANCE_VALUE};
        auto check = [&] {
            for (const Row& row : kControls) {
                const bool visible = !dlg.GetDlgItem(row.id)->isHidden();
                EXPECT_EQ(visible, hidden.count(row.id) ? false : before[row.id]) << row.name;
            }
        };
        check();
        // Neither a new skin nor the start-up's second skin pass shows them again.
        dlg.ApplySkinToControls();
        dlg.SendCommand(ID_SKIN_GREY);
        dlg.SendCommand(ID_SKIN_ZHELEZO);
        check();
        EXPECT_TRUE(dlg.GetWindow()->isVisible());
    });
    ASSERT_EQ(services.messageBox->calls.size(), 1u);
    EXPECT_EQ(services.messageBox->calls[0].text, "Vexel Controls will be disabled in this mode");
    EXPECT_EQ(services.messageBox->calls[0].caption, "app_tests");
    EXPECT_EQ(services.messageBox->calls[0].style, platform::MB_OK | platform::MB_ICONEXCLAMATION);
}

TEST_F(MainWindowTest, EnterNeverClosesTheWindow) {
    COpenInvoiceDlg dlg;
    bool stillOpen = false;
    const int result = runModal(dlg, [&] {
        QTest::keyClick(dlg.GetDlgItem(IDC_SEARCH_EDIT), Qt::Key_Return);
        QTest::keyClick(dlg.GetDlgItem(IDC_BILLNAME_EDIT), Qt::Key_Enter, Qt::KeypadModifier);
        dlg.SendCommand(IDOK);
        stillOpen = dlg.GetWindow()->isVisible();
    });
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(result, IDCANCEL);  // ended by the helper afterwards
}

TEST_F(MainWindowTest, ExitSavesFirstEscapeAndCloseBoxDoNot) {
    {
        COpenInvoiceDlg dlg;
        const int result = runModal(dlg, [&] {
            edit(dlg, IDC_BILLNAME_EDIT)->setText("Typed name");
            dlg.SendCommand(ID_FILE_EXIT);
        });
        EXPECT_EQ(result, IDOK);
        EXPECT_EQ(dlg.m_strBillName, "Typed name");
    }
    {   // A saving exchange that fails keeps the window open.
        COpenInvoiceDlg dlg;
        bool stillOpen = false;
        runModal(dlg, [&] {
            edit(dlg, IDC_NINDEX_EDIT)->setText("x");
            dlg.SendCommand(ID_FILE_EXIT);
            stillOpen = dlg.GetWindow()->isVisible();
        });
        EXPECT_TRUE(stillOpen);
        ASSERT_EQ(services.messageBox->calls.size(), 1u);
        EXPECT_EQ(services.messageBox->calls[0].text, "Please enter an integer.");
    }
    {
        COpenInvoiceDlg dlg;
        const int result = runModal(dlg, [&] {
            edit(dlg, IDC_BILLNAME_EDIT)->setText("Typed name");
            QTest::keyClick(dlg.GetDlgItem(IDC_SEARCH_EDIT), Qt::Key_Escape);
        });
        EXPECT_EQ(result, IDCANCEL);
        EXPECT_EQ(dlg.m_strBillName, "");
    }
    {
        COpenInvoiceDlg dlg;
        const int result = runModal(dlg, [&] { dlg.GetWindow()->close(); });
        EXPECT_EQ(result, IDCANCEL);
    }
}

TEST_F(MainWindowTest, WindowSoundsFollowTheSwitchAboutPlaysRegardless) {
    COpenInvoiceDlg dlg;
    auto aboutFound = std::make_shared<bool>(false);
    runModal(dlg, [&] {
        services.sound->calls.clear();
        dlg.FireEvent(IDC_NEXT_BUTTON, 1);
        dlg.FireEvent(IDC_BALANCE_FILTER_BUTTON, 1);
        dlg.FireEvent(IDC_DETAIL_BUTTON, 1);
        EXPECT_EQ(soundNames(), (std::vector<std::string>{"click.wav", "boink.wav", "detail.wav"}));

        services.sound->calls.clear();
        dlg.FireEvent(IDC_SOUND_BUTTON, 1);  // off
        EXPECT_EQ(dlg.m_bSound, 0);
        dlg.FireEvent(IDC_PREV_BUTTON, 1);
        dlg.FireEvent(IDC_BALANCE_FILTER_BUTTON, 1);
        EXPECT_TRUE(services.sound->calls.empty());

        closeWhenShown("IDD_ABOUTBOX", aboutFound);
        dlg.SendCommand(ID_INFO_ABOUT);
        ASSERT_EQ(services.sound->calls.size(), 1u);
        EXPECT_EQ(services.sound->calls[0].name, "kxtheme.wav");
        EXPECT_EQ(services.sound->calls[0].flags, 0x00020001u);

        dlg.FireEvent(IDC_SOUND_BUTTON, 1);  // on again
        dlg.FireEvent(IDC_NEXT_BUTTON, 1);
        EXPECT_EQ(services.sound->calls.back().name, "click.wav");
    });
    EXPECT_TRUE(*aboutFound);
}

// The main window with one handler that fails, as a data-control error would.
class FailingDlg : public COpenInvoiceDlg {
public:
    void OnFailingClick() { throw std::runtime_error("customer.dat: no current record"); }
    DECLARE_EVENTSINK_MAP()
};

BEGIN_EVENTSINK_MAP(FailingDlg, COpenInvoiceDlg)
    ON_EVENT(FailingDlg, IDC_NEXT_BUTTON, 1, OnFailingClick, VTS_NONE)
END_EVENTSINK_MAP()

TEST_F(MainWindowTest, ASkinButtonHandlerThatThrowsLeavesTheWindowRunning) {
    FailingDlg dlg;
    bool stillOpen = false;
    std::string errors;
    runModal(dlg, [&] {
        ::testing::internal::CaptureStderr();
        QTest::mouseClick(dlg.GetDlgItem(IDC_NEXT_BUTTON), Qt::LeftButton);
        errors = ::testing::internal::GetCapturedStderr();
        stillOpen = dlg.GetWindow()->isVisible();
        dlg.FireEvent(IDC_SOUND_BUTTON, 1);  // the window still answers
        EXPECT_EQ(dlg.m_bSound, 0);
    });
    EXPECT_TRUE(stillOpen);
    EXPECT_NE(errors.find("no current record"), std::string::npos);
    EXPECT_TRUE(services.messageBox->calls.empty());
}

}  // namespace
