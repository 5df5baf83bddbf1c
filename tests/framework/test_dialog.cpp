// Dialogs built from templates: controls, routing of commands, keys and events, and
// the reports of errors that escape handlers.
#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <stdexcept>

#include "fake_controls.h"
#include "framework/listbox.h"
#include "window_test_support.h"

using namespace framework;

namespace {

constexpr int IDD_TEST = 9001;
constexpr int IDD_BROKEN = 9002;
constexpr int IDM_TEST = 9003;
constexpr int IDC_EDIT = 100, IDC_HIDDEN_EDIT = 101, IDC_PASSWORD = 102, IDC_LIST = 103,
              IDC_BUTTON = 104, IDC_LABEL = 106, IDC_FAKE = 107, IDC_NUMBER = 108;
constexpr int ID_DIALOG_COMMAND = 0x8100, ID_APP_COMMAND = 0x8101, ID_LOW_COMMAND = 0x7000,
              ID_THROW_COMMAND = 0x8102;

ControlTemplate control(int id, const char* name, ControlKind kind, int x, int y, int cx, int cy,
                        std::uint32_t style, const char* caption = "") {
    ControlTemplate c;
    c.id = id; c.idName = name; c.kind = kind;
    c.x = x; c.y = y; c.cx = cx; c.cy = cy; c.style = style; c.caption = caption;
    return c;
}

DialogTemplate testTemplate(int id, const char* fakeClass) {
    DialogTemplate t;
    t.id = id; t.idName = "IDD_TEST"; t.caption = "Test window";
    t.cx = 200; t.cy = 100; t.style = 0x90CA02C4; t.menuId = IDM_TEST;
    ControlTemplate edit = control(IDC_EDIT, "IDC_EDIT", ControlKind::Edit, 10, 10, 60, 12, 0x50810080);
    edit.accessibleName = "Name";
    ControlTemplate fake = control(IDC_FAKE, "IDC_FAKE", ControlKind::ActiveX, 10, 80, 20, 10, 0x50000000, "Go");
    fake.className = fakeClass;
    fake.properties = {{"Caption", "Go"}};
    t.controls = {
        edit,
        control(IDC_HIDDEN_EDIT, "IDC_HIDDEN_EDIT", ControlKind::Edit, 10, 24, 60, 12, 0x40810080),
        control(IDC_PASSWORD, "IDC_PASSWORD", ControlKind::Edit, 10, 38, 60, 12, 0x508000A0),
        control(IDC_LIST, "IDC_LIST", ControlKind::ListBox, 80, 10, 100, 40, 0x50B00183),
        control(IDOK, "IDOK", ControlKind::PushButton, 150, 60, 40, 14, 0x50010001, "OK"),
        control(IDC_BUTTON, "IDC_BUTTON", ControlKind::PushButton, 100, 60, 40, 14, 0x50000000, "Press"),
        control(IDC_LABEL, "IDC_STATIC", ControlKind::Static, 10, 52, 60, 8, 0x50020000, "A label"),
        fake,
        control(IDC_NUMBER, "IDC_NUMBER", ControlKind::Edit, 80, 80, 40, 12, 0x40810080),
    };
    return t;
}

class TestApp : public CWinApp {
public:
    int appCommands = 0;
    int lowCommands = 0;
    void OnAppCommand() { ++appCommands; }
    void OnLowCommand() { ++lowCommands; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestApp, CWinApp)
    ON_COMMAND(ID_APP_COMMAND, OnAppCommand)
    ON_COMMAND(ID_LOW_COMMAND, OnLowCommand)
END_MESSAGE_MAP()

class TestDlg : public CDialog {
public:
    explicit TestDlg(int id = IDD_TEST) : CDialog(id) {}
    int commands = 0, changes = 0, clicks = 0, events = 0, inits = 0;
    QVariantList lastArgs;
    std::string text;
    bool throwInInit = false;

    BOOL OnInitDialog() override {
        ++inits;
        CDialog::OnInitDialog();
        if (throwInInit) throw platform::FileError(platform::FileError::Cause::FileNotFound, "DataPath.kxi");
        return TRUE;
    }
    void OnDialogCommand() { ++commands; }
    void OnThrowCommand() { throw platform::FileError(platform::FileError::Cause::AccessDenied, "Output.txt"); }
    void OnChangeEdit() { ++changes; }
    void OnClickButton() { ++clicks; }
    void OnFakeClick() { ++events; }
    void OnFakeArgs(const QVariantList& args) { lastArgs = args; }
    void OnFakeThrow() { throw std::runtime_error("no current record"); }

protected:
    void DoDataExchange(CDataExchange* pDX) override { DDX_Text(pDX, IDC_EDIT, text); }
    DECLARE_MESSAGE_MAP()
    DECLARE_EVENTSINK_MAP()
};

BEGIN_MESSAGE_MAP(TestDlg, CDialog)
    ON_COMMAND(ID_DIALOG_COMMAND, OnDialogCommand)
    ON_COMMAND(ID_THROW_COMMAND, OnThrowCommand)
    ON_EN_CHANGE(IDC_EDIT, OnChangeEdit)
    ON_BN_CLICKED(IDC_BUTTON, OnClickButton)
END_MESSAGE_MAP()

BEGIN_EVENTSINK_MAP(TestDlg, CDialog)
    ON_EVENT(TestDlg, IDC_FAKE, 1, OnFakeClick, VTS_NONE)
    ON_EVENT(TestDlg, IDC_FAKE, 6, OnFakeArgs, VTS_DISPATCH VTS_I4 VTS_I2 VTS_I2)
    ON_EVENT(TestDlg, IDC_FAKE, 9, OnFakeThrow, VTS_NONE)
END_EVENTSINK_MAP()

class DialogTest : public windowtest::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        registerActiveXClass("FakeControl", [](const ActiveXCreateInfo& info, QWidget* parent) -> QWidget* {
            return new FakeControl(info, parent);
        });
        registerActiveXClass("NullControl", [](const ActiveXCreateInfo&, QWidget*) -> QWidget* { return nullptr; });
        registerDialogTemplate(testTemplate(IDD_TEST, "FakeControl"));
        MenuTemplate menu;
        menu.id = IDM_TEST;
        menu.menus = {MenuItem{"File", 0, "", {MenuItem{"Dialog", ID_DIALOG_COMMAND, "ID_DIALOG", {}},
                                              MenuItem{"App", ID_APP_COMMAND, "ID_APP", {}}}}};
        registerMenuTemplate(menu);
    }
    TestApp app;
};

TEST_F(DialogTest, ControlsFollowTheTemplate) {
    TestDlg dlg;
    windowtest::WindowTest::runModal(dlg, [&] {
        const DialogTemplate& t = *dlg.GetTemplate();
        for (const ControlTemplate& c : t.controls) {
            QWidget* w = dlg.GetDlgItem(c.id);
            ASSERT_NE(w, nullptr) << c.idName;
            SCOPED_TRACE(c.idName);
            EXPECT_EQ(w->geometry(), mapDialogRect(dlg.GetBaseUnits(), c.x, c.y, c.cx, c.cy));
            EXPECT_EQ(w->objectName().toStdString(), c.idName);
            EXPECT_EQ(w->accessibleDescription().toStdString(), c.idName);
            EXPECT_EQ(w->isHidden(), !(c.style & WS_VISIBLE));
            EXPECT_EQ(bool(w->focusPolicy() & Qt::TabFocus), bool(c.style & WS_TABSTOP));
        }
        EXPECT_NE(qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_EDIT)), nullptr);
        EXPECT_NE(qobject_cast<ListBoxWidget*>(dlg.GetDlgItem(IDC_LIST)), nullptr);
        EXPECT_NE(qobject_cast<QLabel*>(dlg.GetDlgItem(IDC_LABEL)), nullptr);
        EXPECT_NE(qobject_cast<FakeControl*>(dlg.GetDlgItem(IDC_FAKE)), nullptr);
        EXPECT_EQ(qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_PASSWORD))->echoMode(), QLineEdit::Password);
        EXPECT_TRUE(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDOK))->isDefault());
        EXPECT_FALSE(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_BUTTON))->isDefault());

        // The ActiveX control received its stored properties and its caption.
        auto* fake = qobject_cast<FakeControl*>(dlg.GetDlgItem(IDC_FAKE));
        EXPECT_EQ(fake->info.id, IDC_FAKE);
        EXPECT_EQ(fake->info.properties.at("Caption"), "Go");

        // Drawing order: the first control lies on top of the last.
        const QObjectList& stack = dlg.GetClientArea()->children();
        EXPECT_GT(stack.indexOf(dlg.GetDlgItem(IDC_EDIT)), stack.indexOf(dlg.GetDlgItem(IDC_NUMBER)));
        // Tab order: template order among the tab stops.
        EXPECT_EQ(dlg.GetDlgItem(IDC_EDIT)->nextInFocusChain(), dlg.GetDlgItem(IDC_HIDDEN_EDIT));

        // A window with a minimise box, without a maximise box, of fixed size.
        QDialog* window = dlg.GetWindow();
        EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
        EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
        EXPECT_EQ(window->minimumSize(), window->maximumSize());
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Test window"));
        EXPECT_EQ(dlg.GetClientArea()->size(),
                  mapDialogRect(dlg.GetBaseUnits(), 0, 0, 200, 100).size());
        // The focus starts in the first visible tab stop.
        EXPECT_EQ(window->focusWidget(), dlg.GetDlgItem(IDC_EDIT));
    });
}

TEST_F(DialogTest, ControlsAreAccessibleByNameAndIdName) {
    TestDlg dlg;
    windowtest::WindowTest::runModal(dlg, [&] {
        QAccessibleInterface* edit = QAccessible::queryAccessibleInterface(dlg.GetDlgItem(IDC_EDIT));
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->role(), QAccessible::EditableText);
        EXPECT_EQ(edit->text(QAccessible::Name), QStringLiteral("Name"));
        EXPECT_EQ(edit->text(QAccessible::Description), QStringLiteral("IDC_EDIT"));
        qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_EDIT))->setText("Acme");
        EXPECT_EQ(edit->text(QAccessible::Value), QStringLiteral("Acme"));

        CListBox list;
        list.Attach(dlg.GetDlgItem(IDC_LIST));
        list.AddString("first\trow");
        QAccessibleInterface* rows = QAccessible::queryAccessibleInterface(dlg.GetDlgItem(IDC_LIST));
        ASSERT_NE(rows, nullptr);
        bool found = false;
        for (int i = 0; i < rows->childCount(); ++i)
            if (rows->child(i)->text(QAccessible::Name) == QStringLiteral("first\trow")) found = true;
        EXPECT_TRUE(found);

        QAccessibleInterface* button = QAccessible::queryAccessibleInterface(dlg.GetDlgItem(IDC_BUTTON));
        EXPECT_EQ(button->text(QAccessible::Name), QStringLiteral("Press"));
    });
}

TEST_F(DialogTest, AControlThatCannotBeCreatedEndsTheDialogSilently) {
    for (const char* cls : {"NoSuchControl", "NullControl"}) {
        registerDialogTemplate(testTemplate(IDD_BROKEN, cls));
        TestDlg dlg(IDD_BROKEN);
        EXPECT_EQ(dlg.DoModal(), -1) << cls;
        EXPECT_EQ(dlg.inits, 0);
        EXPECT_EQ(dlg.GetWindow(), nullptr);
    }
    EXPECT_TRUE(services.messageBox->calls.empty());
    TestDlg missing(4242);  // no template at all
    EXPECT_EQ(missing.DoModal(), -1);
}

TEST_F(DialogTest, CommandsNotificationsAndClicksReachTheirHandlers) {
    TestDlg dlg;
    windowtest::WindowTest::runModal(dlg, [&] {
        QTest::keyClicks(dlg.GetDlgItem(IDC_EDIT), "ab");
        EXPECT_EQ(dlg.changes, 2);
        QTest::mouseClick(dlg.GetDlgItem(IDC_BUTTON), Qt::LeftButton);
        EXPECT_EQ(dlg.clicks, 1);

        // Menu items run the dialog's handler, or fall through to the application.
        auto* bar = dlg.GetWindow()->findChild<QMenuBar*>();
        ASSERT_NE(bar, nullptr);
        QMenu* file = bar->actions().at(0)->menu();
        file->actions().at(0)->trigger();
        file->actions().at(1)->trigger();
        EXPECT_EQ(dlg.commands, 1);
        EXPECT_EQ(app.appCommands, 1);

        // Only ids from 0x8000 go on to the application object.
        EXPECT_FALSE(dlg.SendCommand(ID_LOW_COMMAND));
        EXPECT_EQ(app.lowCommands, 0);
        EXPECT_FALSE(dlg.SendCommand(ID_APP_COMMAND, EN_CHANGE));
        EXPECT_EQ(app.appCommands, 1);
    });
    EXPECT_EQ(traced.front(), "OnChangeEdit");
}

TEST_F(DialogTest, EnterEscapeAndTheCloseBoxEndTheDialog) {
    {   // Enter in an edit presses the default button: OK saves and ends with IDOK.
        TestDlg dlg;
        const int result = windowtest::WindowTest::runModal(dlg, [&] {
            QTest::keyClicks(dlg.GetDlgItem(IDC_EDIT), "typed");
            QTest::keyClick(dlg.GetDlgItem(IDC_EDIT), Qt::Key_Return);
        });
        EXPECT_EQ(result, IDOK);
        EXPECT_EQ(dlg.text, "typed");
    }
    {   // Escape cancels without saving.
        TestDlg dlg;
        const int result = windowtest::WindowTest::runModal(dlg, [&] {
            QTest::keyClicks(dlg.GetDlgItem(IDC_EDIT), "typed");
            QTest::keyClick(dlg.GetDlgItem(IDC_EDIT), Qt::Key_Escape);
        });
        EXPECT_EQ(result, IDCANCEL);
        EXPECT_EQ(dlg.text, "");
    }
    {   // The close box takes the Cancel route.
        TestDlg dlg;
        const int result = windowtest::WindowTest::runModal(dlg, [&] { dlg.GetWindow()->close(); });
        EXPECT_EQ(result, IDCANCEL);
    }
}

TEST_F(DialogTest, AnErrorEscapingACommandIsReportedAndTheWindowGoesOn) {
    TestDlg dlg;
    windowtest::WindowTest::runModal(dlg, [&] {
        EXPECT_TRUE(dlg.SendCommand(ID_THROW_COMMAND));
        EXPECT_TRUE(dlg.GetWindow()->isVisible());
    });
    ASSERT_EQ(services.messageBox->calls.size(), 1u);
    const auto& box = services.messageBox->calls[0];
    EXPECT_EQ(box.text, "Access to Output.txt was denied.");
    EXPECT_EQ(box.caption, applicationTitle());
    EXPECT_EQ(box.style & 0xF0u, platform::MB_ICONSTOP);
}

TEST_F(DialogTest, AnErrorInOnInitDialogIsReportedAndTheWindowOpens) {
    TestDlg dlg;
    dlg.throwInInit = true;
    bool shown = false;
    windowtest::WindowTest::runModal(dlg, [&] { shown = dlg.GetWindow()->isVisible(); });
    EXPECT_TRUE(shown);
    ASSERT_EQ(services.messageBox->calls.size(), 1u);
    EXPECT_EQ(services.messageBox->calls[0].text, "DataPath.kxi was not found.");
}

TEST_F(DialogTest, EventsReachTheEventMapAndErrorsInThemAreSwallowed) {
    TestDlg dlg;
    std::string errorOutput;
    windowtest::WindowTest::runModal(dlg, [&] {
        auto* fake = qobject_cast<FakeControl*>(dlg.GetDlgItem(IDC_FAKE));
        fake->raise(1);
        fake->raise(6, {QVariant(), 5, 1, 2});
        fake->raise(7);  // not in the map: ignored
        EXPECT_EQ(dlg.events, 1);
        EXPECT_EQ(dlg.lastArgs.size(), 4);

        ::testing::internal::CaptureStderr();
        fake->raise(9);
        errorOutput = ::testing::internal::GetCapturedStderr();
        EXPECT_TRUE(dlg.GetWindow()->isVisible());
        fake->raise(1);  // the window still handles events
        EXPECT_EQ(dlg.events, 2);
    });
    EXPECT_NE(errorOutput.find("no current record"), std::string::npos);
    EXPECT_EQ(std::count(errorOutput.begin(), errorOutput.end(), '\n'), 1);
    EXPECT_TRUE(services.messageBox->calls.empty());
}

TEST(CommandErrorText, NamesTheFileForEachCause) {
    using Cause = platform::FileError::Cause;
    EXPECT_EQ(commandErrorText(platform::FileError(Cause::FileNotFound, "1stskin.kxi")),
              "1stskin.kxi was not found.");
    EXPECT_EQ(commandErrorText(platform::FileError(Cause::SharingViolation, "a.txt")),
              "A sharing violation occurred while accessing a.txt.");
    EXPECT_EQ(commandErrorText(platform::FileError(Cause::Generic, "b.txt")),
              "An unexpected error occurred while accessing b.txt.");
    EXPECT_EQ(commandErrorText(std::runtime_error("customer.dat: file not open")),
              "customer.dat: file not open");
}

}  // namespace
