// Finding the company folder at start (the data-path file, else paw70.ini) and the
// company-folder dialog that chooses it for the next start.
#include <QDir>
#include <QListWidget>
#include <QPushButton>

#include <sys/stat.h>

#include "company_fixture.h"
#include "read_override.h"
#include "data/CompanyFolder.h"

using namespace companytest;

namespace {

class CompanyFolderTest : public CompanyTest {
protected:
    void SetUp() override {
        CompanyTest::SetUp();
        writeCompany({customer("ACME", "Acme Corp", 10, 1), customer("BETA", "Beta Ltd", 0, 2)});
    }

    // Starts the main window and returns the customer ID it shows.
    std::string startAndShow() {
        COpenInvoiceDlg dlg;
        std::string id;
        runWindow(dlg, [&] { id = shown(dlg, IDC_CUSTID_EDIT); });
        return id;
    }

    // The company folder in the form Windows paths have: backslashes.
    std::string windowsForm() const {
        std::string path = companyFolder();
        for (char& c : path)
            if (c == '/') c = '\\';
        return path;
    }

    static bool exists(const char* name) { return QFileInfo::exists(name); }
};

TEST_F(CompanyFolderTest, TheDataPathFileNamesTheFolderOnItsFirstLine) {
    // paw70.ini exists but names another folder: it is not read.
    writeFile(settingsFile(), "Company0=/nowhere\r\n");
    writeFile("DataPath.kxi", companyFolder() + "\r\n/second/line/is/ignored\r\n");
    EXPECT_EQ(startAndShow(), "ACME");
    writeFile("DataPath.kxi", windowsForm() + "\n");  // Windows form, LF line end
    EXPECT_EQ(startAndShow(), "ACME");
    writeFile("DataPath.kxi", windowsForm() + "\\");  // a trailing backslash
    EXPECT_EQ(startAndShow(), "ACME");
    EXPECT_TRUE(startMessages().empty());
    EXPECT_EQ(readFile("DataPath.kxi"), windowsForm() + "\\");  // never rewritten
}

TEST_F(CompanyFolderTest, WithoutADataPathFileTheLastCompany0LineIsUsedAndRemembered) {
    writeFile(settingsFile(),
              "[Settings]\r\n"
              "Company1=/recent/but/not/open\r\n"
              "company0=/lower/case/key\r\n"
              "Company0=/an/earlier/company\r\n"
              "Company0=" + companyFolder() + "\r\n"
              "Company2=/another\r\n");
    ASSERT_FALSE(exists("DataPath.kxi"));
    EXPECT_EQ(startAndShow(), "ACME");
    EXPECT_TRUE(startMessages().empty());
    // One path, the last "Company0" one, without CR or line break.
    EXPECT_EQ(readFile("DataPath.kxi"), companyFolder());
    // The next start reads it from there, whatever paw70.ini says by then.
    writeFile(settingsFile(), "Company0=/nowhere\n");
    EXPECT_EQ(startAndShow(), "ACME");
}

// A current folder the user may not write: the folder from paw70.ini is used, and the
// user is told once that DataPath.kxi could not keep it.
TEST_F(CompanyFolderTest, ADataPathFileThatCannotBeWrittenAtStartIsReportedOnce) {
    writeFile(settingsFile(), "Company0=" + companyFolder() + "\r\n");
    std::string id;
    {
        apptest::WithoutReadOverride reduced;
        if (!reduced.holds()) GTEST_SKIP() << "this user writes into any folder, so none is closed to it";
        ::chmod(".", 0500);
        id = startAndShow();
        ::chmod(".", 0700);
    }
    EXPECT_EQ(id, "ACME");
    EXPECT_EQ(startMessages(), std::vector<std::string>{"The company folder " + companyFolder() +
                                                        " could not be written to DataPath.kxi (access to the "
                                                        "file was denied), so Vexel uses it for this run only and "
                                                        "looks it up in paw70.ini again at the next start."});
    EXPECT_FALSE(exists("DataPath.kxi"));
}

TEST_F(CompanyFolderTest, AnEmptyDataPathFileFallsBackAndGetsThePath) {
    writeFile("DataPath.kxi", "");
    writeFile(settingsFile(), "Company0=" + windowsForm() + "\n");
    EXPECT_EQ(startAndShow(), "ACME");
    EXPECT_EQ(readFile("DataPath.kxi"), windowsForm());

    // An empty first line counts as empty too, and the file then holds the path alone.
    writeFile("DataPath.kxi", "\r\nleft over\r\n");
    EXPECT_EQ(startAndShow(), "ACME");
    EXPECT_EQ(readFile("DataPath.kxi"), windowsForm());
}

TEST_F(CompanyFolderTest, OnlyOtherCompanyLinesLeaveNoFolderAndNothingWritten) {
    writeFile(settingsFile(), "Company1=" + companyFolder() + "\r\ncompany0=" + companyFolder() + "\r\n");
    COpenInvoiceDlg dlg;
    runWindow(dlg, [&] {
        EXPECT_EQ(dlg.m_CustomerData.control()->fileName(), "\\customer.dat");
        EXPECT_EQ(dlg.m_JournalData.control()->fileName(), "\\journal.dat");
        EXPECT_EQ(dlg.m_PermissData.control()->fileName(), "\\permiss.dat");
        EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "");
    });
    EXPECT_FALSE(exists("DataPath.kxi"));
}

TEST_F(CompanyFolderTest, AMissingSettingsFileStopsTheStartWithAMessageSayingWhatToDo) {
    COpenInvoiceDlg dlg;
    runWindow(dlg, [&] {
        EXPECT_TRUE(dlg.GetWindow()->isVisible());
        EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "");
        EXPECT_FALSE(dlg.m_CustomerData.control()->isOpen());
    });
    // The settings file's message, then the window fails closed into restricted mode.
    ASSERT_EQ(startMessages().size(), 2u);
    EXPECT_EQ(startMessages()[1], "Vexel Controls will be disabled in this mode");
    const std::string text = startMessages()[0];
    EXPECT_NE(text.find(settingsFile()), std::string::npos) << text;
    EXPECT_NE(text.find("\"Select Peach Company\" on the File menu"), std::string::npos) << text;
    EXPECT_NE(text.find("next time you start Vexel"), std::string::npos) << text;
    EXPECT_EQ(services.messageBox->calls[0].style & 0xF0u, platform::MB_ICONSTOP);
    EXPECT_FALSE(exists("DataPath.kxi"));

    // Not needed while the data-path file names a folder.
    useCompany();
    EXPECT_EQ(startAndShow(), "ACME");
}

// ---- The company-folder dialog ------------------------------------------------

class CompanyDialogTest : public CompanyFolderTest {
protected:
    static QListWidget* list(CCompanyDlg& dlg) { return qobject_cast<QListWidget*>(dlg.GetDlgItem(IDC_RECENT_LIST)); }
    static std::vector<std::string> entries(CCompanyDlg& dlg) {
        std::vector<std::string> out;
        for (int i = 0; i < list(dlg)->count(); ++i) out.push_back(platform::toAnsi(list(dlg)->item(i)->text()));
        return out;
    }
    static QLineEdit* path(CCompanyDlg& dlg) { return qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_COMPANY_PATH_EDIT)); }
    static void press(CCompanyDlg& dlg, int id) {
        QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetDlgItem(id)), Qt::LeftButton);
    }
    std::vector<std::string> messageTexts() const {
        std::vector<std::string> out;
        for (const auto& call : services.messageBox->calls) out.push_back(call.text);
        return out;
    }
};

TEST_F(CompanyDialogTest, ShowRecentListListsEveryCompanyLineInFileOrderAndTakesTheFirst) {
    writeFile(settingsFile(),
              "Company0=C:\\PEACHW\\BCS\r\n"
              "Company1=C:\\PEACHW\\ACME\r\n"
              "company2=C:\\lower\r\n"
              "Company2=C:\\PEACHW\\Caf\xE9\r\n");
    CCompanyDlg dlg;
    runModal(dlg, [&] {
        EXPECT_EQ(dlg.GetWindow()->windowTitle(), QStringLiteral("Dialog"));
        EXPECT_EQ(path(dlg)->text(), QString());
        press(dlg, IDC_SHOW_RECENT_BUTTON);
        const std::vector<std::string> once = {"C:\\PEACHW\\BCS", "C:\\PEACHW\\ACME", "C:\\PEACHW\\Caf\xE9"};
        EXPECT_EQ(entries(dlg), once);
        EXPECT_EQ(path(dlg)->text(), QStringLiteral("C:\\PEACHW\\BCS"));
        EXPECT_EQ(list(dlg)->currentRow(), 0);

        // The user picks another entry with the keyboard: it goes into the path field.
        list(dlg)->setFocus();
        QTest::keyClick(list(dlg), Qt::Key_Down);
        QTest::keyClick(list(dlg), Qt::Key_Down);
        EXPECT_EQ(path(dlg)->text(), QString::fromUtf8("C:\\PEACHW\\Café"));
        EXPECT_EQ(list(dlg)->currentRow(), 2);

        // Pressing again lists every entry again, after the first ones.
        press(dlg, IDC_SHOW_RECENT_BUTTON);
        std::vector<std::string> twice = once;
        twice.insert(twice.end(), once.begin(), once.end());
        EXPECT_EQ(entries(dlg), twice);
    });
    // Chimes whatever the main window's sound switch says.
    EXPECT_EQ(soundNames(), (std::vector<std::string>{"chimes.wav", "chimes.wav"}));
    EXPECT_EQ(services.sound->calls[0].flags, 0x00020001u);
    EXPECT_TRUE(messageTexts().empty());
}

TEST_F(CompanyDialogTest, ShowRecentListWithoutCompanyLinesLeavesThePathAsTyped) {
    writeFile(settingsFile(), "[Peachtree]\r\ncompany0=C:\\lower\r\nCompan=x\r\n");
    CCompanyDlg dlg;
    runModal(dlg, [&] {
        QTest::keyClicks(path(dlg), "/typed/folder");
        press(dlg, IDC_SHOW_RECENT_BUTTON);
        EXPECT_TRUE(entries(dlg).empty());
        EXPECT_EQ(path(dlg)->text(), QStringLiteral("/typed/folder"));
        press(dlg, framework::IDOK);
    });
    EXPECT_EQ(readFile("DataPath.kxi"), "/typed/folder");
}

TEST_F(CompanyDialogTest, ShowRecentListWithoutASettingsFileIsReportedAndChangesNothing) {
    CCompanyDlg dlg;
    bool open = false;
    runModal(dlg, [&] {
        press(dlg, IDC_SHOW_RECENT_BUTTON);
        open = dlg.GetWindow()->isVisible();
        EXPECT_TRUE(entries(dlg).empty());
    });
    EXPECT_TRUE(open);
    ASSERT_EQ(messageTexts().size(), 1u);
    EXPECT_NE(messageTexts()[0].find("paw70.ini"), std::string::npos) << messageTexts()[0];
}

TEST_F(CompanyDialogTest, OkWritesThePathForTheNextStartAndCancelWritesNothing) {
    writeFile("DataPath.kxi", "/the/old/company");
    {
        CCompanyDlg dlg;
        const int result = runModal(dlg, [&] {
            QTest::keyClicks(path(dlg), "/a/new/company");
            press(dlg, framework::IDCANCEL);
        });
        EXPECT_EQ(result, framework::IDCANCEL);
        EXPECT_EQ(readFile("DataPath.kxi"), "/the/old/company");
        EXPECT_TRUE(messageTexts().empty());
    }
    {
        CCompanyDlg dlg;
        const int result = runModal(dlg, [&] {
            QTest::keyClicks(path(dlg), QString::fromStdString(companyFolder()));
            press(dlg, framework::IDOK);
        });
        EXPECT_EQ(result, framework::IDOK);
        EXPECT_EQ(readFile("DataPath.kxi"), companyFolder());  // no line break
        EXPECT_EQ(messageTexts(), std::vector<std::string>{"New company will take effect next time you start Vexel"});
    }
    // It takes effect at the next start.
    EXPECT_EQ(startAndShow(), "ACME");
    {   // An empty path empties the file: the next start asks paw70.ini again.
        CCompanyDlg dlg;
        runModal(dlg, [&] { press(dlg, framework::IDOK); });
        EXPECT_EQ(readFile("DataPath.kxi"), "");
    }
}

TEST_F(CompanyDialogTest, ADataPathFileThatCannotBeWrittenKeepsTheDialogOpen) {
    QDir().mkdir("DataPath.kxi");  // the name is taken by a folder
    CCompanyDlg dlg;
    bool open = false;
    runModal(dlg, [&] {
        QTest::keyClicks(path(dlg), "/a/company");
        press(dlg, framework::IDOK);
        open = dlg.GetWindow()->isVisible();
        EXPECT_EQ(path(dlg)->text(), QStringLiteral("/a/company"));
    });
    EXPECT_TRUE(open);
    ASSERT_EQ(messageTexts().size(), 1u);
    EXPECT_NE(messageTexts()[0].find("DataPath.kxi"), std::string::npos) << messageTexts()[0];
    EXPECT_EQ(services.messageBox->calls[0].style & 0xF0u, platform::MB_ICONSTOP);
}

}  // namespace
