// The company's user security, from real permissions files: who is asked for a
// password, what each answer does to the window, and that no stored password ever
// reaches a widget.
#include <QDir>

#include "security_fixture.h"

using namespace securitytest;

namespace {

const char* const kNoVexel =
    "Peachtree security is enabled for this company, i.e. (Users & Passwords Have Been Set Up),   "
    "but there isn't a 'VEXEL' user defined.   You must add a user named 'VEXEL'.   "
    "See Vexel Help Subject - Peachtree Security ";
const char* const kRestricted = "Vexel Controls will be disabled in this mode";

const std::vector<int> kLesserHides = {IDC_DETAIL_BUTTON, IDC_BALANCE_VALUE};

class CompanySecurityTest : public SecurityTest {
protected:
    // Checks the question as the user saw it: the dialog's own texts, bullets, empty
    // hidden edits, no stored password anywhere, and the typed text gone at the close.
    void expectPlainQuestion(const Question& q) {
        EXPECT_EQ(q.title, QStringLiteral("Vexel Security"));
        EXPECT_EQ(q.prompt, QStringLiteral("Please Enter The Vexel Password"));
        EXPECT_TRUE(q.bullets);
        EXPECT_EQ(q.hiddenTexts, "");
        EXPECT_EQ(q.showing, std::vector<std::string>{});
        EXPECT_TRUE(q.clearedOnClose);
    }
};

TEST_F(CompanySecurityTest, AnEmptyPermissionsFileMeansNoUsersAndNoQuestion) {
    writeCompany({});
    COpenInvoiceDlg dlg;
    runStartUp(dlg, {}, [&] {
        EXPECT_EQ(hiddenOf(dlg, restrictedControls()), std::vector<int>{});
        EXPECT_EQ(edit(dlg, IDC_SECSTATUS_EDIT)->text(), QStringLiteral("_NO_USERS"));
    });
    EXPECT_EQ(dlg.m_strSecStatus, "_NO_USERS");
    EXPECT_TRUE(questions.empty());
    EXPECT_EQ(messages(), std::vector<std::string>{});
}

TEST_F(CompanySecurityTest, VexelWithoutPasswordOpensWithoutQuestion) {
    writeCompany({{"ADMIN", "admin1"}, {"VEXEL", "NONE"}});
    COpenInvoiceDlg dlg;
    runStartUp(dlg, {}, [&] { EXPECT_EQ(hiddenOf(dlg, restrictedControls()), std::vector<int>{}); },
               {"admin1"});
    EXPECT_EQ(dlg.m_strSecStatus, "VEXEL");
    EXPECT_TRUE(questions.empty());
    EXPECT_EQ(messages(), std::vector<std::string>{});
}

TEST_F(CompanySecurityTest, VexelsPasswordGivenRightOpensEverything) {
    writeCompany({{"ADMIN", "admin1"}, {"VEXEL", "Open5esame"}});
    COpenInvoiceDlg dlg;
    runStartUp(dlg, {{"Open5esame"}}, [&] {
        EXPECT_EQ(hiddenOf(dlg, restrictedControls()), std::vector<int>{});
        EXPECT_EQ(edit(dlg, IDC_SECSTATUS_EDIT)->text(), QStringLiteral("VEXEL"));
        EXPECT_EQ(edit(dlg, IDC_SECPASSWORD_EDIT)->text(), QString());
    }, {"Open5esame", "admin1"});
    ASSERT_EQ(questions.size(), 1u);
    expectPlainQuestion(questions[0]);
    EXPECT_EQ(dlg.m_strSecStatus, "VEXEL");
    EXPECT_EQ(dlg.m_strSecPassword, "");
    EXPECT_EQ(messages(), std::vector<std::string>{});
}

TEST_F(CompanySecurityTest, AWrongPasswordIsRefusedAndAskedAgainWithTheTypedTextKept) {
    writeCompany({{"VEXEL", "Open5esame"}});
    COpenInvoiceDlg dlg;
    // The stored password in another case is wrong too: case counts.
    runStartUp(dlg, {{"open5esame"}, {"Open5esame"}},
               [&] { EXPECT_EQ(hiddenOf(dlg, restrictedControls()), std::vector<int>{}); }, {"Open5esame"});
    ASSERT_EQ(questions.size(), 1u);
    expectPlainQuestion(questions[0]);
    EXPECT_EQ(questions[0].typedAfterOk, std::vector<std::string>{"open5esame"});
    EXPECT_EQ(messages(), std::vector<std::string>{"Password Incorrect"});
    EXPECT_EQ(services.messageBox->calls[0].style, platform::MB_OK | platform::MB_ICONEXCLAMATION);
}

TEST_F(CompanySecurityTest, NoneInAnotherCaseIsAnOrdinaryPassword) {
    writeCompany({{"VEXEL", "None"}});
    COpenInvoiceDlg dlg;
    runStartUp(dlg, {{"None"}}, {}, {});
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(messages(), std::vector<std::string>{});
}

TEST_F(CompanySecurityTest, CancellingVexelFallsThroughToTheLesserUser) {
    writeCompany({{"VEXEL", "TopSecret1"}, {"vexel", "lesser22"}});
    COpenInvoiceDlg dlg;
    runStartUp(dlg, {{"", Answer::Cancel}, {"lesser22"}}, [&] {
        // The lesser user's result: no balance, no detail; the rest stays.
        EXPECT_EQ(hiddenOf(dlg, restrictedControls()), kLesserHides);
        EXPECT_EQ(edit(dlg, IDC_SECSTATUS_EDIT)->text(), QStringLiteral("vexel"));
    }, {"TopSecret1", "lesser22"});
    ASSERT_EQ(questions.size(), 2u);
    expectPlainQuestion(questions[0]);
    expectPlainQuestion(questions[1]);
    EXPECT_TRUE(questions[0].balanceVisible);
    EXPECT_FALSE(questions[1].balanceVisible);
    EXPECT_EQ(messages(), std::vector<std::string>{});
}

TEST_F(CompanySecurityTest, CancellingBothQuestionsRestrictsTheWindow) {
    writeCompany({{"VEXEL", "TopSecret1"}, {"vexel", "lesser22"}});
    COpenInvoiceDlg dlg;
    runStartUp(dlg, {{"TopSe", Answer::CloseBox}, {"", Answer::Cancel}},
               [&] { EXPECT_EQ(hiddenOf(dlg, restrictedControls()), restrictedControls()); },
               {"TopSecret1", "lesser22"});
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_TRUE(questions[0].clearedOnClose);  // the part typed before the close box is gone
    EXPECT_EQ(messages(), (std::vector<std::string>{kNoVexel, kRestricted}));
}

TEST_F(CompanySecurityTest, TheLesserUserNeverSeesBalanceOrDetail) {
    writeCompany({{"ADMIN", "admin1"}, {"vexel", "lesser22"}});
    COpenInvoiceDlg dlg;
    runStartUp(dlg, {{"lesser22"}}, [&] {
        EXPECT_EQ(hiddenOf(dlg, restrictedControls()), kLesserHides);
        dlg.SendCommand(ID_SKIN_GREY);  // a new skin shows nothing again
        EXPECT_EQ(hiddenOf(dlg, restrictedControls()), kLesserHides);
    }, {"lesser22", "admin1"});
    ASSERT_EQ(questions.size(), 1u);
    expectPlainQuestion(questions[0]);
    // Hidden before the question was asked.
    EXPECT_FALSE(questions[0].balanceVisible);
    EXPECT_FALSE(questions[0].detailVisible);
    EXPECT_EQ(dlg.m_strSecStatus, "vexel");
    EXPECT_EQ(messages(), std::vector<std::string>{});
}

TEST_F(CompanySecurityTest, UsersWithoutVexelRestrictTheWindowForTheWholeRun) {
    // "Vexel" is not "VEXEL" nor "vexel".
    writeCompany({{"ADMIN", "admin1"}, {"Vexel", "near1miss"}, {"jsmith", "Spring01"}});
    COpenInvoiceDlg dlg;
    runStartUp(dlg, {}, [&] {
        EXPECT_EQ(hiddenOf(dlg, restrictedControls()), restrictedControls());
        for (int id : {IDC_SEARCH_EDIT, IDC_PRINT_BUTTON, IDC_SOUND_BUTTON, IDC_BILLNAME_EDIT, IDC_INVOICE_LIST})
            EXPECT_TRUE(shown(dlg, id)) << id;
        for (int command : {ID_SKIN_GREY, ID_SKIN_MILITARY, ID_SKIN_ZHELEZO}) dlg.SendCommand(command);
        EXPECT_EQ(hiddenOf(dlg, restrictedControls()), restrictedControls());
        EXPECT_EQ(edit(dlg, IDC_SECSTATUS_EDIT)->text(), QStringLiteral("_NOT_FOUND"));
    }, {"admin1", "near1miss", "Spring01"});
    EXPECT_TRUE(questions.empty());
    EXPECT_EQ(messages(), (std::vector<std::string>{kNoVexel, kRestricted}));
    for (const auto& call : services.messageBox->calls)
        EXPECT_EQ(call.style, platform::MB_OK | platform::MB_ICONEXCLAMATION);
}

TEST_F(CompanySecurityTest, AFirstSkinFileThatCannotBeReadStillEndsInRestrictedMode) {
    writeCompany({{"ADMIN", "admin1"}});
    // A folder where the first-skin file should be: it cannot be read as a file.
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("1stskin.kxi")));
    COpenInvoiceDlg dlg;
    runStartUp(dlg, {}, [&] { EXPECT_EQ(hiddenOf(dlg, restrictedControls()), restrictedControls()); });
    EXPECT_EQ(messages(), (std::vector<std::string>{kNoVexel, kRestricted}));
}

TEST_F(CompanySecurityTest, TheHiddenButtonAsksWithNothingAcceptedButAnEmptyPassword) {
    writeCompany({{"VEXEL", "Open5esame"}});
    COpenInvoiceDlg dlg;
    runStartUp(dlg, {{"Open5esame"}, {"Open5esame"}, {""}}, [&] {
        EXPECT_TRUE(dlg.SendCommand(IDC_BUTTON2, framework::BN_CLICKED));
        EXPECT_EQ(hiddenOf(dlg, restrictedControls()), std::vector<int>{});  // the answer changes nothing
    });
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_EQ(questions[1].hiddenTexts, "");
    EXPECT_EQ(questions[1].typedAfterOk, std::vector<std::string>{"Open5esame"});
    EXPECT_TRUE(questions[1].clearedOnClose);
    EXPECT_EQ(messages(), std::vector<std::string>{"Password Incorrect"});
}

TEST_F(CompanySecurityTest, AsMkcompanyMakesThem) {
    struct Case {
        const char* security;
        std::vector<Answer> answers;
        std::vector<int> hidden;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"none", {}, {}, {}},
        {"vexel-password", {{"Kx9-pass"}}, {}, {}},
        {"lesser-user", {{"Kx9-pass"}}, kLesserHides, {}},
        {"no-vexel", {}, restrictedControls(), {kNoVexel, kRestricted}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.security);
        services.messageBox->calls.clear();
        QTemporaryDir dir;
        const std::string folder = dir.path().toStdString() + "/co";
        const std::string cmd = std::string("'") + MKCOMPANY_PATH + "' '" + folder + "' --customers 20 --journal-rows 300 --security " +
                                c.security + " --password Kx9-pass >/dev/null";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        writeText("DataPath.kxi", folder);
        COpenInvoiceDlg dlg;
        runStartUp(dlg, c.answers, [&] { EXPECT_EQ(hiddenOf(dlg, restrictedControls()), c.hidden); },
                   {"Kx9-pass"});
        EXPECT_EQ(messages(), c.messages);
    }
}

}  // namespace
