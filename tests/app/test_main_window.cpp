// The main window: template, menu, maps, start-up, restricted mode, closing, sounds.
#include <QAbstractButton>
#include <QAccessible>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <set>

#include "company_fixture.h"

using namespace framework;
using companytest::customer;
using companytest::writeFile;

namespace {

// What a user tells a control by.
std::string kindOf(const QWidget* w) {
    if (qobject_cast<const QLineEdit*>(w)) return "edit";
    if (qobject_cast<const QAbstractButton*>(w)) return "button";
    if (qobject_cast<const skins::SkinLabel*>(w) || qobject_cast<const QLabel*>(w)) return "label";
    if (qobject_cast<const QListWidget*>(w)) return "list";
    return "other";
}

// What a user reads on a control; for edits and lists, which show the company's data,
// the name a screen reader gives them.
QString textOf(const QWidget* w) {
    if (const auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
    if (const auto* l = qobject_cast<const skins::SkinLabel*>(w)) return l->text();
    return w->accessibleName();
}

// Every control a user meets in the window: its kind, its text and its place in
// dialog units.
struct Seen {
    int id;
    const char* kind;
    const char* text;
    int x, y, cx, cy;
};

const Seen kSeen[] = {
    {IDC_CUSTID_EDIT, "edit", "Customer ID", 9, 8, 97, 14},
    {IDC_SEARCH_EDIT, "edit", "Find customer ID", 122, 8, 58, 14},
    {IDC_SOUND_BUTTON, "button", "S", 255, 3, 14, 10},
    {IDC_BILLNAME_EDIT, "edit", "Bill name", 9, 24, 171, 12},
    {IDC_PREV_BUTTON, "button", "<", 198, 25, 22, 16},
    {IDC_NEXT_BUTTON, "button", ">", 223, 25, 22, 16},
    {IDC_BALANCE_FILTER_BUTTON, "button", "$", 249, 25, 16, 16},
    {IDC_BILLADDR1_EDIT, "edit", "Bill address line 1", 9, 38, 171, 12},
    {IDC_DETAIL_BUTTON, "button", "Show Detail", 199, 46, 66, 16},
    {IDC_BILLADDR2_EDIT, "edit", "Bill address line 2", 9, 52, 171, 12},
    {IDC_CITYSTATEZIP_EDIT, "edit", "City, state and zip", 9, 66, 171, 12},
    {IDC_PRINT_BUTTON, "button", "Print", 199, 67, 66, 16},
    {IDC_PHONE_EDIT, "edit", "Phone", 9, 80, 61, 12},
    {IDC_FAX_CAPTION, "label", "Fax", 93, 81, 24, 10},
    {IDC_FAX_EDIT, "edit", "Fax", 119, 80, 61, 12},
    {IDC_CONTACT_EDIT, "edit", "Contact", 9, 94, 171, 12},
    {IDC_BALANCE_CAPTION, "label", "Balance", 205, 94, 53, 10},
    {IDC_EMAIL_EDIT, "edit", "E-mail", 9, 108, 171, 12},
    {IDC_BALANCE_VALUE, "label", "$12.50", 205, 107, 53, 10},
    {IDC_DATE_HEADER, "label", "Date", 16, 125, 37, 10},
    {IDC_REFERENCE_HEADER, "label", "Reference", 58, 125, 45, 10},
    {IDC_AMOUNT_HEADER, "label", "Invoice Amount", 108, 125, 51, 10},
    {IDC_PAID_HEADER, "label", "Paid", 172, 125, 34, 10},
    {IDC_BALANCE_HEADER, "label", "Balance", 210, 125, 39, 10},
    {IDC_INVOICE_LIST, "list", "Open invoices", 9, 136, 254, 49},
};

// The visible controls of the window a user can see or use, by id.
std::set<int> visibleControls(COpenInvoiceDlg& dlg) {
    std::set<int> ids;
    for (QWidget* w : dlg.GetClientArea()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (!w->isHidden() && kindOf(w) != "other") ids.insert(w->property("controlId").toInt());
    return ids;
}

// The window over a company without customers: nothing shown, nothing reported.
class MainWindowTest : public companytest::CompanyTest {
protected:
    void SetUp() override {
        CompanyTest::SetUp();
        openCompany({});
    }
};

// The window over a company of two customers, ACME first by ID.
class CustomerWindowTest : public companytest::CompanyTest {
protected:
    void SetUp() override {
        CompanyTest::SetUp();
        openCompany({customer("BETA", "Beta Ltd", 3, 2), customer("ACME", "Acme Corp", 12.5, 7)});
    }
};

TEST_F(CustomerWindowTest, EveryControlShowsItsKindTextAndPlace) {
    COpenInvoiceDlg dlg;
    runModal(dlg, [&] {
        std::set<int> seen;
        for (const Seen& row : kSeen) {
            SCOPED_TRACE(row.text);
            QWidget* w = dlg.GetDlgItem(row.id);
            ASSERT_NE(w, nullptr);
            EXPECT_EQ(kindOf(w), row.kind);
            EXPECT_EQ(textOf(w), QString::fromLatin1(row.text));
            EXPECT_EQ(w->geometry(), mapDialogRect(dlg.GetBaseUnits(), row.x, row.y, row.cx, row.cy));
            // The lookup box is the only tab stop a user meets.
            EXPECT_EQ(bool(w->focusPolicy() & Qt::TabFocus), row.id == IDC_SEARCH_EDIT);
            seen.insert(row.id);
        }
        EXPECT_EQ(visibleControls(dlg), seen);  // nothing else shows
        EXPECT_EQ(dlg.GetClientArea()->size(), mapDialogRect(dlg.GetBaseUnits(), 0, 0, 274, 191).size());
        EXPECT_EQ(dlg.GetWindow()->windowTitle(), QStringLiteral("Peachtree Open Invoice Vexel"));
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

// Remembers whether the window was on screen when each sound started.
class SoundWatch final : public platform::SoundService {
public:
    explicit SoundWatch(COpenInvoiceDlg& dlg) : dlg_(dlg) {}
    bool playSound(const std::string& name, unsigned flags) override {
        played.push_back({name, flags, dlg_.GetWindow()->isVisible()});
        return true;
    }
    void messageBeep(unsigned) override {}
    struct Played {
        std::string name;
        unsigned flags;
        bool windowVisible;
    };
    std::vector<Played> played;

private:
    COpenInvoiceDlg& dlg_;
};

// Start-up, by what it leaves: the company's files read, the first customer shown
// with its sound before the window appears, no question and no message, the first
// skin (1stskin.kxi) on every skin control, nothing hidden, the focus in the lookup box.
TEST_F(CustomerWindowTest, StartUpShowsTheFirstCustomerThenTheSkinBeforeTheWindowAppears) {
    writeFile("1stskin.kxi", std::string(SKINS_SOURCE_DIR) + "/military.skn\n");
    COpenInvoiceDlg dlg;
    auto sounds = std::make_shared<SoundWatch>(dlg);
    platform::services().sound = sounds;
    runModal(dlg, [&] {
        EXPECT_EQ(dlg.m_bSound, 1);
        EXPECT_EQ(edit(dlg, IDC_CUSTID_EDIT)->text(), QStringLiteral("ACME"));
        EXPECT_EQ(edit(dlg, IDC_NINDEX_EDIT)->text(), QStringLiteral("7"));
        EXPECT_EQ(dlg.GetWindow()->focusWidget(), dlg.GetDlgItem(IDC_SEARCH_EDIT));
        const SkinFormInterface* form = dlg.m_SkinForm.GetSkinForm();
        ASSERT_NE(form, nullptr);
        EXPECT_EQ(form->currentSkin()->name, QStringLiteral("Military"));
        for (int id : {IDC_NEXT_BUTTON, IDC_PRINT_BUTTON, IDC_BALANCE_VALUE, IDC_DATE_HEADER}) {
            QWidget* w = dlg.GetDlgItem(id);
            const auto* button = qobject_cast<skins::SkinButton*>(w);
            const auto* label = qobject_cast<skins::SkinLabel*>(w);
            EXPECT_EQ(button ? button->appliedSkin() : label->appliedSkin(), form->currentSkin()) << id;
        }
        for (int id : {IDC_BALANCE_FILTER_BUTTON, IDC_PREV_BUTTON, IDC_DETAIL_BUTTON, IDC_NEXT_BUTTON,
                       IDC_BALANCE_VALUE})
            EXPECT_FALSE(dlg.GetDlgItem(id)->isHidden()) << id;
    });
    ASSERT_FALSE(sounds->played.empty());
    EXPECT_EQ(sounds->played[0].name, "click.wav");
    EXPECT_EQ(sounds->played[0].flags, 0x00020001u);
    EXPECT_FALSE(sounds->played[0].windowVisible);
    EXPECT_TRUE(services.messageBox->calls.empty());
}

TEST_F(MainWindowTest, RestrictedModeHidesExactlyFiveControlsForGood) {
    COpenInvoiceDlg dlg;
    runModal(dlg, [&] {
        std::set<int> expected = visibleControls(dlg);
        dlg.EnterRestrictedMode();
        for (int id : {IDC_BALANCE_FILTER_BUTTON, IDC_PREV_BUTTON, IDC_DETAIL_BUTTON, IDC_NEXT_BUTTON,
                       IDC_BALANCE_VALUE})
            EXPECT_EQ(expected.erase(id), 1u) << id;
        auto check = [&] { EXPECT_EQ(visibleControls(dlg), expected); };
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
