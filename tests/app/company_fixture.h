// The fixture of the window tests that need a company: a temporary company folder
// written with the engine's writer on the real record layouts (customers with chosen
// fields and balances, journal rows, and a permissions file or none), a temporary
// current folder whose data-path file names that company, the platform doubles, and
// the real main window run offscreen over it. Helpers read what a user would see:
// edit texts, the balance label, list rows, messages and written files.
#pragma once

#include <QFile>

#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app_test_support.h"
#include "framework/listbox.h"
#include "platform/text.h"
#include "skins/SkinControls.h"
#include "tests/data/company_files.h"

namespace companytest {

using testdata::Record;

// A customer with the fields the window shows; more fields can be set on the result
// with text(), real() and integer().
inline Record customer(const std::string& id, const std::string& name, double balance, int32_t nindex) {
    return testdata::customer(id, name, balance, nindex);
}

// A journal row (journal 3 is the sales journal), dated 17 April 2003 unless date()
// gives another day.
inline Record journalRow(int16_t nindex, int journal, const std::string& number, double amount,
                         double received, bool quote = false) {
    return testdata::invoice(nindex, journal, number, amount, received, quote);
}

// A Peachtree user of the permissions file.
inline Record user(const std::string& name, const std::string& password) {
    return testdata::user(name, password);
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

class CompanyTest : public apptest::AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        ASSERT_TRUE(company_.isValid());
        ASSERT_TRUE(windows_.isValid());
        // Dates in the list follow the user's locale; the tests speak US English.
        previousLocale_ = QLocale();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        // paw70.ini is looked for here.
        services.system->windowsFolder = windowsFolder();
        // These tests choose the company themselves: no data-path file until they write one.
        QFile::remove(QStringLiteral("DataPath.kxi"));
    }
    void TearDown() override {
        QLocale::setDefault(previousLocale_);
        AppTest::TearDown();
    }

    // The company folder (its native path) and the Windows directory.
    std::string companyFolder() const { return company_.path().toStdString(); }
    std::string windowsFolder() const { return windows_.path().toStdString(); }
    std::string settingsFile() const { return windowsFolder() + "/paw70.ini"; }

    // Writes the company's three files; no permissions file at all when users is
    // nothing, an empty one (a company without users) by default.
    void writeCompany(const std::vector<Record>& customers, const std::vector<Record>& journal = {},
                      const std::optional<std::vector<Record>>& users = std::vector<Record>{}) {
        const std::string dir = companyFolder();
        testdata::writeRecords(dir + "/customer.dat", testdata::optionsFor(layouts::customer()), customers);
        testdata::writeRecords(dir + "/journal.dat", testdata::optionsFor(layouts::journal(), true), journal);
        if (users) testdata::writeRecords(dir + "/permiss.dat", testdata::optionsFor(layouts::permiss()), *users);
    }

    // Names the company folder on the first line of the data-path file.
    void useCompany() { writeFile("DataPath.kxi", companyFolder()); }

    // Writes the company and names it: the usual start of a window test.
    void openCompany(const std::vector<Record>& customers, const std::vector<Record>& journal = {},
                     const std::optional<std::vector<Record>>& users = std::vector<Record>{}) {
        writeCompany(customers, journal, users);
        useCompany();
    }

    // Runs the real main window; body runs once it is up, after the start-up, whose
    // messages are kept apart (startMessages) from those the body causes (messages).
    int runWindow(COpenInvoiceDlg& dlg, const std::function<void()>& body) {
        return runModal(dlg, [&] {
            startMessages_ = services.messageBox->calls.size();
            body();
        });
    }

    std::vector<std::string> startMessages() const { return texts(0, startMessages_); }
    std::vector<std::string> messages() const {
        return texts(startMessages_, services.messageBox->calls.size());
    }

    // What the window shows.
    static std::string shown(COpenInvoiceDlg& dlg, int id) {
        return platform::toAnsi(edit(dlg, id)->text());
    }
    static std::string balance(COpenInvoiceDlg& dlg) {
        auto* label = qobject_cast<skins::SkinLabel*>(dlg.GetDlgItem(IDC_BALANCE_VALUE));
        return label ? platform::toAnsi(label->text()) : std::string("(no label)");
    }
    static std::vector<std::string> rows(COpenInvoiceDlg& dlg) {
        std::vector<std::string> out;
        auto* list = qobject_cast<framework::ListBoxWidget*>(dlg.GetDlgItem(IDC_INVOICE_LIST));
        for (int i = 0; list && i < list->count(); ++i) out.push_back(platform::toAnsi(list->item(i)->text()));
        return out;
    }

    // What the user does.
    static void click(COpenInvoiceDlg& dlg, int skinButton) {
        QTest::mouseClick(dlg.GetDlgItem(skinButton), Qt::LeftButton);
    }
    // Replaces the lookup box's text at once: one change.
    static void lookUp(COpenInvoiceDlg& dlg, const QString& text) { edit(dlg, IDC_SEARCH_EDIT)->setText(text); }
    // Types into the lookup box, one change per key.
    static void type(COpenInvoiceDlg& dlg, const QString& keys) {
        QTest::keyClicks(dlg.GetDlgItem(IDC_SEARCH_EDIT), keys);
    }
    // Types into a customer edit, replacing its text, as typing over a selection does.
    static void overtype(COpenInvoiceDlg& dlg, int id, const QString& text) {
        QLineEdit* e = edit(dlg, id);
        e->selectAll();
        e->insert(text);
    }

private:
    std::vector<std::string> texts(size_t from, size_t to) const {
        std::vector<std::string> out;
        for (size_t i = from; i < to && i < services.messageBox->calls.size(); ++i)
            out.push_back(services.messageBox->calls[i].text);
        return out;
    }

    QTemporaryDir company_;
    QTemporaryDir windows_;
    QLocale previousLocale_;
    size_t startMessages_ = 0;
};

}  // namespace companytest
