// Dialog data exchange: text both ways, integers and their failure, control attachment.
#include <QLineEdit>
#include <QTest>

#include "framework/listbox.h"
#include "window_test_support.h"

using namespace framework;

namespace {

constexpr int IDD_EXCHANGE = 9101;
constexpr int IDC_A = 200, IDC_NUMBER = 201, IDC_B = 202, IDC_LIST = 203;

class ExchangeDlg : public CDialog {
public:
    ExchangeDlg() : CDialog(IDD_EXCHANGE) {}
    std::string a = "first", b = "last";
    int number = -42;
    CListBox list;
    int changes = 0;
    void OnChangeA() { ++changes; }

protected:
    void DoDataExchange(CDataExchange* pDX) override {
        DDX_Text(pDX, IDC_A, a);
        DDX_Text(pDX, IDC_NUMBER, number);
        DDX_Text(pDX, IDC_B, b);
        DDX_Control(pDX, IDC_LIST, list);
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ExchangeDlg, CDialog)
    ON_EN_CHANGE(IDC_A, OnChangeA)
END_MESSAGE_MAP()

class ExchangeTest : public windowtest::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        DialogTemplate t;
        t.id = IDD_EXCHANGE; t.idName = "IDD_EXCHANGE"; t.cx = 120; t.cy = 80; t.style = 0x80C800C0;
        auto edit = [](int id, const char* name, int y) {
            ControlTemplate c;
            c.id = id; c.idName = name; c.kind = ControlKind::Edit;
            c.x = 5; c.y = y; c.cx = 60; c.cy = 12; c.style = 0x50810080;
            return c;
        };
        ControlTemplate list;
        list.id = IDC_LIST; list.idName = "IDC_LIST"; list.kind = ControlKind::ListBox;
        list.x = 70; list.y = 5; list.cx = 40; list.cy = 40; list.style = 0x50B00183;
        t.controls = {edit(IDC_A, "IDC_A", 5), edit(IDC_NUMBER, "IDC_NUMBER", 20), edit(IDC_B, "IDC_B", 35), list};
        registerDialogTemplate(t);
    }
    static QLineEdit* edit(CDialog& dlg, int id) { return qobject_cast<QLineEdit*>(dlg.GetDlgItem(id)); }
};

TEST_F(ExchangeTest, LoadingFillsTheControlsAndSavingReadsThemBack) {
    ExchangeDlg dlg;
    runModal(dlg, [&] {
        EXPECT_EQ(edit(dlg, IDC_A)->text(), QStringLiteral("first"));
        EXPECT_EQ(edit(dlg, IDC_NUMBER)->text(), QStringLiteral("-42"));
        edit(dlg, IDC_A)->setText(QString::fromUtf8("Caf\xC3\xA9"));
        edit(dlg, IDC_NUMBER)->setText(" +17 ");
        EXPECT_TRUE(dlg.UpdateData(TRUE));
        EXPECT_EQ(dlg.a, "Caf\xE9");  // Windows-1252 bytes inside
        EXPECT_EQ(dlg.number, 17);

        // Writing back an unchanged text raises no change notification.
        const int before = dlg.changes;
        EXPECT_TRUE(dlg.UpdateData(FALSE));
        EXPECT_EQ(dlg.changes, before);
        EXPECT_EQ(edit(dlg, IDC_NUMBER)->text(), QStringLiteral("17"));
    });
}

TEST_F(ExchangeTest, ALongTextShowsFromItsStartUnlessItsEditIsBeingTypedInto) {
    ExchangeDlg dlg;
    runModal(dlg, [&] {
        dlg.a = std::string(120, 'x');
        dlg.b = std::string(120, 'y');
        edit(dlg, IDC_B)->setFocus();
        EXPECT_TRUE(dlg.UpdateData(FALSE));
        EXPECT_EQ(edit(dlg, IDC_A)->cursorPosition(), 0);
        if (edit(dlg, IDC_B)->hasFocus()) {
            EXPECT_EQ(edit(dlg, IDC_B)->cursorPosition(), 120);
        }
    });
}

TEST_F(ExchangeTest, AnIntegerThatCannotBeReadStopsTheSavingExchange) {
    for (const char* bad : {"12a", "", "  ", "4294967296", "1 2"}) {
        ExchangeDlg dlg;
        services.messageBox->calls.clear();
        runModal(dlg, [&] {
            edit(dlg, IDC_B)->setText("changed");
            edit(dlg, IDC_NUMBER)->setText(bad);
            EXPECT_FALSE(dlg.UpdateData(TRUE)) << bad;
            EXPECT_EQ(dlg.number, -42);
            EXPECT_EQ(dlg.b, "last") << "the exchange must stop at the bad integer";
            EXPECT_EQ(dlg.GetWindow()->focusWidget(), dlg.GetDlgItem(IDC_NUMBER));
        });
        ASSERT_EQ(services.messageBox->calls.size(), 1u) << bad;
        EXPECT_EQ(services.messageBox->calls[0].text, "Please enter an integer.");
        EXPECT_EQ(services.messageBox->calls[0].style & 0xF0u, platform::MB_ICONEXCLAMATION);
    }
}

TEST_F(ExchangeTest, OkDoesNotCloseWhileTheExchangeFails) {
    ExchangeDlg dlg;
    const int result = runModal(dlg, [&] {
        edit(dlg, IDC_NUMBER)->setText("x");
        dlg.SendCommand(IDOK);
        EXPECT_TRUE(dlg.GetWindow()->isVisible());
        edit(dlg, IDC_NUMBER)->setText("5");
        dlg.SendCommand(IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dlg.number, 5);
}

TEST_F(ExchangeTest, ControlMembersAttachOnceAndLetGoWithTheWindow) {
    ExchangeDlg dlg;
    runModal(dlg, [&] {
        QWidget* first = dlg.list.GetWidget();
        EXPECT_EQ(first, dlg.GetDlgItem(IDC_LIST));
        dlg.UpdateData(TRUE);
        EXPECT_EQ(dlg.list.GetWidget(), first);
        EXPECT_EQ(dlg.list.GetDlgCtrlID(), IDC_LIST);
    });
    EXPECT_FALSE(dlg.list.IsAttached());
    EXPECT_EQ(dlg.list.GetCount(), LB_ERR);  // no widget, no crash
}

}  // namespace
