// The window left open while the accounting program goes on writing the company:
// another process changes customer.dat and journal.dat under the running window,
// and the window's next action shows the new state.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

#include "company_fixture.h"

using namespace companytest;

namespace {

// Runs change in a child process and waits for it: the company files are written
// by another program, as the accounting program writes them.
void inAnotherProcess(const std::function<void()>& change) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int code = 0;
        try {
            change();
        } catch (...) {
            code = 1;
        }
        ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // The engine looks at a file's path once a millisecond at most; a rewrite that
    // keeps the usage counts it had is seen once that time has passed.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

class LiveCompanyTest : public CompanyTest {
protected:
    void SetUp() override {
        CompanyTest::SetUp();
        openCompany(customersNow(100.0, true), {journalRow(7, 3, "INV-1", 100, 0)});
    }

    static std::vector<testdata::Record> customersNow(double acmeBalance, bool withBeta) {
        std::vector<testdata::Record> out{customer("ACME", "Acme Corp", acmeBalance, 7)};
        if (withBeta) out.push_back(customer("BETA", "Beta Ltd", 5.0, 2));
        out.push_back(customer("CAFE", "Cafe Central", 12.5, 3));
        return out;
    }

    // Writes a company file's new version over the old one, in place (the file
    // the window has open stays the same file), from another process.
    void commit(const std::string& name, const layouts::Layout& layout, bool duplicates,
                const std::vector<testdata::Record>& records) {
        const std::string path = companyFolder() + "/" + name;
        inAnotherProcess([&] {
            const std::string fresh = path + ".new";
            testdata::writeRecords(fresh, testdata::optionsFor(layout, duplicates), records);
            writeFile(path, readFile(fresh));
            std::filesystem::remove(fresh);
        });
    }

    static bool listed(const std::vector<std::string>& rows, const std::string& number) {
        for (const auto& r : rows)
            if (r.find(" " + number + " ") != std::string::npos) return true;
        return false;
    }
};

TEST_F(LiveCompanyTest, ANewInvoiceAndBalanceCommittedElsewhereShowWithoutReopening) {
    COpenInvoiceDlg dlg;
    runWindow(dlg, [&] {
        ASSERT_EQ(shown(dlg, IDC_CUSTID_EDIT), "ACME");
        EXPECT_EQ(balance(dlg), "$100.00");
        click(dlg, IDC_DETAIL_BUTTON);
        EXPECT_EQ(rows(dlg).size(), 1u);

        commit("journal.dat", layouts::journal(), true,
               {journalRow(7, 3, "INV-1", 100, 0), journalRow(4, 3, "D-1", 1, 0), journalRow(7, 3, "INV-9", 30, 0)});
        commit("customer.dat", layouts::customer(), false, customersNow(130.0, true));

        click(dlg, IDC_DETAIL_BUTTON);
        const auto after = rows(dlg);
        EXPECT_EQ(after.size(), 2u);
        EXPECT_TRUE(listed(after, "INV-9"));
        EXPECT_TRUE(listed(after, "INV-1"));
        EXPECT_FALSE(listed(after, "D-1"));

        click(dlg, IDC_NEXT_BUTTON);
        EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "BETA");
        click(dlg, IDC_PREV_BUTTON);
        EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "ACME");
        EXPECT_EQ(balance(dlg), "$130.00");
    });
    EXPECT_TRUE(messages().empty());
}

TEST_F(LiveCompanyTest, ACustomerDeletedWhileShownLeavesNextGoingToTheFollowingOne) {
    COpenInvoiceDlg dlg;
    runWindow(dlg, [&] {
        lookUp(dlg, "BETA");
        ASSERT_EQ(shown(dlg, IDC_CUSTID_EDIT), "BETA");
        commit("customer.dat", layouts::customer(), false, customersNow(100.0, false));
        click(dlg, IDC_NEXT_BUTTON);
        EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "CAFE");
        EXPECT_EQ(balance(dlg), "$12.50");
        click(dlg, IDC_PREV_BUTTON);
        EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "ACME");
    });
    EXPECT_TRUE(messages().empty());
}

// A backup restored over the company (another file renamed into its place) while
// the window runs: the lookup finds the restored customers.
TEST_F(LiveCompanyTest, ACompanyRestoredFromABackupIsReadAtTheNextLookup) {
    COpenInvoiceDlg dlg;
    runWindow(dlg, [&] {
        ASSERT_EQ(shown(dlg, IDC_CUSTID_EDIT), "ACME");
        const std::string path = companyFolder() + "/customer.dat";
        inAnotherProcess([&] {
            std::vector<testdata::Record> restored = customersNow(75.0, true);
            restored.push_back(customer("DELTA", "Delta Supply", 42.0, 4));
            testdata::writeRecords(path + ".bak", testdata::optionsFor(layouts::customer()), restored);
            std::filesystem::rename(path + ".bak", path);
        });
        lookUp(dlg, "DELTA");
        EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "DELTA");
        EXPECT_EQ(balance(dlg), "$42.00");
        lookUp(dlg, "ACME");
        EXPECT_EQ(balance(dlg), "$75.00");
    });
    EXPECT_TRUE(messages().empty());
}

}  // namespace
