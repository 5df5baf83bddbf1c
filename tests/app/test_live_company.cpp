// The window left open while the accounting program goes on writing the company:
// another process commits to customer.dat and journal.dat under the running window
// (as an engine commits: new pages, new page tables, then the other control
// record), and the window's next action shows the new state.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

#include "btrieve/committer.h"
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
    // The engine looks at a file's path once a millisecond at most: another file put
    // in its place is seen once that time has passed.
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

    // Commits changes to a company file from another process: change edits the
    // committer's records, which are then committed as the next version.
    void commit(const std::string& name, const std::function<void(btrieve::Committer&)>& change) {
        const std::string path = companyFolder() + "/" + name;
        inAnotherProcess([&] {
            std::unique_ptr<btrieve::Committer> c;
            must(btrieve::Committer::open(path, c));
            change(*c);
            must(c->commit());
        });
    }

    // In the other process a failure ends it with a non-zero code, which the test sees.
    static void must(btrieve::Status st) {
        if (st != btrieve::Status::Success) throw std::runtime_error(btrieve::statusText(st));
    }

    // The slot of the customer with that ID among the committer's records.
    static size_t customerAt(const btrieve::Committer& c, const std::string& id) {
        for (size_t i = 0; i < c.records().size(); ++i) {
            btrieve::Value v;
            btrieve::decodeField(*layouts::customer().field("custID"), c.records()[i], v);
            if (std::get<std::string>(v) == id) return i;
        }
        throw std::runtime_error("no customer " + id);
    }

    // A backup of the company's customers put in place of customer.dat (another file
    // renamed over it), from another process.
    void restoreCustomers(const std::vector<testdata::Record>& customers) {
        const std::string path = companyFolder() + "/customer.dat";
        inAnotherProcess([&] {
            testdata::writeRecords(path + ".bak", testdata::optionsFor(layouts::customer()), customers);
            std::filesystem::rename(path + ".bak", path);
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

        commit("journal.dat", [](btrieve::Committer& c) {
            c.insert(journalRow(4, 3, "D-1", 1, 0).bytes());
            c.insert(journalRow(7, 3, "INV-9", 30, 0).bytes());
        });
        commit("customer.dat", [](btrieve::Committer& c) {
            must(c.update(customerAt(c, "ACME"), customer("ACME", "Acme Corp", 130.0, 7).bytes()));
        });

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
        commit("customer.dat", [](btrieve::Committer& c) { must(c.erase(customerAt(c, "BETA"))); });
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
        std::vector<testdata::Record> restored = customersNow(75.0, true);
        restored.push_back(customer("DELTA", "Delta Supply", 42.0, 4));
        restoreCustomers(restored);
        lookUp(dlg, "DELTA");
        EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "DELTA");
        EXPECT_EQ(balance(dlg), "$42.00");
        lookUp(dlg, "ACME");
        EXPECT_EQ(balance(dlg), "$75.00");
    });
    EXPECT_TRUE(messages().empty());
}

}  // namespace
