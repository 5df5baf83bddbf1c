// A company file that fails between two actions of the running window: removed, cut
// short, overwritten with garbage, replaced by another program's Btrieve file or by a
// copy the user may not read, or written by Peachtree all the while (status 80). Each
// action says so once, in the sentences of the start-up report; the customer on show
// stays as it was and the list stays empty; with the file back, the next action works.
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

#include "btrieve/formats.h"
#include "btrieve/pat.h"
#include "company_fixture.h"
#include "read_override.h"

using namespace companytest;

namespace {

enum class Fault { Removed, Truncated, Garbage, OtherProgram, Unreadable, Changing };

struct FailureCase {
    const char* name;
    const char* file;     // "customer.dat" or "journal.dat"
    Fault fault;
    std::string message;  // what the user is told of the file; "<path>" stands for its path
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

const char* const kCustomerKept = "The window still shows the customer as last read.";
const char* const kJournalUnread = "The journal could not be read, so no open invoices are listed.";

// Another file put in the file's place, as a restore or a copy from another program
// does it: written beside it, then renamed over it.
void putInPlace(const std::string& path, const std::string& bytes, mode_t mode = 0644) {
    writeFile(path + ".new", bytes);
    ::chmod((path + ".new").c_str(), mode);
    std::filesystem::rename(path + ".new", path);
}

// Peachtree in the middle of a commit, writing the next version's page table: the
// copy of the first page-table pair that the current version does not use is written
// again and again, each time with a usage count above the current control record's
// (which tells a reader that it belongs to a commit still under way). The version
// read stays the same, but the file changes under every read. The writes are timed
// by a timer that interrupts the window's own thread every 200 microseconds, so that
// every read meets one whatever the machine's load; the calls interrupted go on.
class CommitUnderWay {
public:
    explicit CommitUnderWay(const std::string& path) {
        namespace fcr = btrieve::detail::fcr;
        constexpr uint32_t kPageSize = 4096;  // the fixtures' files: first pair at pages 2 and 3
        const uint32_t field = btrieve::detail::kV6.patUsageAt;
        fd_ = ::open(path.c_str(), O_RDWR);
        uint32_t control[2] = {0, 0}, table[2] = {0, 0};
        for (int copy = 0; copy < 2 && fd_ >= 0; ++copy)
            if (::pread(fd_, &control[copy], 4, off_t{copy} * kPageSize + fcr::V6Usage) != 4 ||
                ::pread(fd_, &table[copy], 4, off_t{2 + copy} * kPageSize + field) != 4)
                return;
        const int next = table[0] < table[1] ? 0 : 1;
        at_ = off_t{2 + next} * kPageSize + field;
        was_ = table[next];
        above_ = std::max(control[0], control[1]) + 1;
        struct sigaction tick {};
        tick.sa_handler = [](int) {
            const uint32_t count = above_ + ++ticks_;
            (void)!::pwrite(fd_, &count, 4, at_);
        };
        tick.sa_flags = SA_RESTART;
        ::sigaction(SIGRTMIN, &tick, &before_);
        sigevent event{};
        event.sigev_notify = SIGEV_THREAD_ID;
        event.sigev_signo = SIGRTMIN;
        event._sigev_un._tid = ::gettid();  // sigev_notify_thread_id, which this C library does not name
        const itimerspec every{{0, 200'000}, {0, 200'000}};
        armed_ = ::timer_create(CLOCK_MONOTONIC, &event, &timer_) == 0 && ::timer_settime(timer_, 0, &every, nullptr) == 0;
    }
    ~CommitUnderWay() {
        if (armed_) ::timer_delete(timer_);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;  // drops a tick still pending
        ::sigaction(SIGRTMIN, &ignore, nullptr);
        ::sigaction(SIGRTMIN, &before_, nullptr);
        if (fd_ >= 0) {
            (void)!::pwrite(fd_, &was_, 4, at_);  // the commit abandoned: the file as it was
            ::close(fd_);
        }
    }
    bool armed() const { return armed_; }

private:
    static inline int fd_ = -1;
    static inline off_t at_ = 0;
    static inline uint32_t above_ = 0;
    static inline std::atomic<uint32_t> ticks_ = 0;  // lock-free: safe in a signal handler
    uint32_t was_ = 0;
    struct sigaction before_ {};
    timer_t timer_{};
    bool armed_ = false;
};

// Between two actions of a user: the engine looks at a file's path once a
// millisecond at most.
void aMomentLater() { std::this_thread::sleep_for(std::chrono::milliseconds(2)); }

class CompanyFailureTest : public CompanyTest, public ::testing::WithParamInterface<FailureCase> {
protected:
    void SetUp() override {
        CompanyTest::SetUp();
        auto acme = customer("ACME", "Acme Corp", 100, 7);
        acme.text("BillAddr1", "123 Main St").text("BillCity", "Reno").text("BillState", "NV");
        acme.text("Phone", "775-555-0101").text("Email", "ap@acme.example").text("contact", "Wile E. Coyote");
        // ACME's one open invoice after its payments, which a walk reads through: many
        // where the walk must be long enough to meet a commit's writes.
        std::vector<testdata::Record> journal{journalRow(4, 3, "D-1", 10, 0)};
        const int payments = GetParam().fault == Fault::Changing ? 2000 : 1;
        for (int i = 0; i < payments; ++i) journal.push_back(journalRow(7, 2, "PAY-" + std::to_string(i), 5, 0));
        journal.push_back(journalRow(7, 3, "INV-1", 100, 40));
        openCompany({acme, customer("BETA", "Beta Ltd", 0, 2), customer("CAFE", "Cafe", 12.5, 3)}, journal);
    }

    // What the window shows of the customer (the nine edits, the hidden nindex and
    // the balance) and the members a report is made of.
    static std::vector<std::string> customerOnShow(COpenInvoiceDlg& dlg) {
        std::vector<std::string> out{balance(dlg), dlg.m_strCustID, dlg.m_strBillName, dlg.m_strCityStateZip};
        for (int id : {IDC_CUSTID_EDIT, IDC_BILLNAME_EDIT, IDC_BILLADDR1_EDIT, IDC_BILLADDR2_EDIT, IDC_CITYSTATEZIP_EDIT,
                       IDC_PHONE_EDIT, IDC_FAX_EDIT, IDC_EMAIL_EDIT, IDC_CONTACT_EDIT, IDC_NINDEX_EDIT})
            out.push_back(shown(dlg, id));
        return out;
    }
};

TEST_P(CompanyFailureTest, EachActionSaysSoOnceKeepsTheCustomerAndTheFileBackWorksAgain) {
    const FailureCase& c = GetParam();
    const std::string path = companyFolder() + "/" + c.file;
    const bool customers = std::string(c.file) == "customer.dat";

    // A file the user may not read: the superuser reads any file, so the capabilities
    // that allow it are set aside for the whole test.
    std::optional<apptest::WithoutReadOverride> reduced;
    if (c.fault == Fault::Unreadable && !reduced.emplace().holds())
        GTEST_SKIP() << "this user reads a file of mode 000, so no file can be closed to it";

    std::string message = c.message;
    message.replace(message.find("<path>"), 6, path);
    message += std::string(" ") + (customers ? kCustomerKept : kJournalUnread);

    COpenInvoiceDlg dlg;
    runWindow(dlg, [&] {
        ASSERT_EQ(shown(dlg, IDC_CUSTID_EDIT), "ACME");
        click(dlg, IDC_DETAIL_BUTTON);
        ASSERT_EQ(rows(dlg).size(), 1u);
        const auto before = customerOnShow(dlg);

        const std::string saved = readFile(path);
        std::optional<CommitUnderWay> commit;
        switch (c.fault) {
        case Fault::Removed: std::filesystem::remove(path); break;
        case Fault::Truncated: std::filesystem::resize_file(path, saved.size() / 3); break;
        case Fault::Garbage: writeFile(path, std::string(saved.size(), '\x5A')); break;
        case Fault::OtherProgram: putInPlace(path, readFile(companyFolder() + "/permiss.dat")); break;
        case Fault::Unreadable: putInPlace(path, saved, 0); break;
        case Fault::Changing: commit.emplace(path); ASSERT_TRUE(commit->armed()); break;
        }

        if (customers) {
            for (auto action : {+[](COpenInvoiceDlg& d) { click(d, IDC_NEXT_BUTTON); },
                                +[](COpenInvoiceDlg& d) { lookUp(d, "CAFE"); },
                                +[](COpenInvoiceDlg& d) { click(d, IDC_BALANCE_FILTER_BUTTON); }}) {
                aMomentLater();
                action(dlg);
            }
            EXPECT_EQ(messages(), std::vector<std::string>(3, message));
        } else {
            aMomentLater();
            click(dlg, IDC_DETAIL_BUTTON);
            EXPECT_EQ(messages(), std::vector<std::string>{message});
        }
        EXPECT_EQ(customerOnShow(dlg), before);
        EXPECT_TRUE(rows(dlg).empty());

        // The file back (or the commit done): the next action works as usual.
        if (commit) commit.reset();
        else putInPlace(path, saved);
        aMomentLater();
        const size_t said = messages().size();
        if (customers) {
            click(dlg, IDC_NEXT_BUTTON);
            EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "BETA");
            click(dlg, IDC_BALANCE_FILTER_BUTTON);
            EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "CAFE");
            EXPECT_EQ(balance(dlg), "$12.50");
        } else {
            click(dlg, IDC_DETAIL_BUTTON);
            EXPECT_EQ(rows(dlg).size(), 1u);
        }
        EXPECT_EQ(messages().size(), said);
    });
}

const std::string kOtherCustomers =
    "The company file <path> does not hold the records this program expects: record length 35, the "
    "layout's 2790; KEY00 (custID at 0, 21 bytes) differs from the file's key 0 (1 segment(s), first at 0, "
    "17 bytes); KEY01 (Phone at 51, 21 bytes) is missing; KEY02 (Fax at 72, 21 bytes) is missing; KEY03 "
    "(BillName at 919, 31 bytes) is missing; KEY04 (nindex at 2786, 4 bytes) is missing.";
const std::string kOtherJournal =
    "The company file <path> does not hold the records this program expects: record length 35, the "
    "layout's 259; KEY00 (nindex at 9, 2 bytes) differs from the file's key 0 (1 segment(s), first at 0, 17 "
    "bytes).";
const std::string kChanging =
    "The company file <path> is being written by Peachtree (status 80: the file kept changing while it was "
    "read). Try again in a moment.";

const FailureCase kFailures[] = {
    {"CustomersRemoved", "customer.dat", Fault::Removed, "The company file <path> was not found."},
    {"CustomersCutShort", "customer.dat", Fault::Truncated,
     "The company file <path> is damaged (status 1002: file is truncated)."},
    {"CustomersOverwrittenWithGarbage", "customer.dat", Fault::Garbage, "The company file <path> is not a Btrieve file."},
    {"CustomersOfAnotherProgram", "customer.dat", Fault::OtherProgram, kOtherCustomers},
    {"CustomersUnreadable", "customer.dat", Fault::Unreadable, "The company file <path> cannot be read: permission denied."},
    {"JournalRemoved", "journal.dat", Fault::Removed, "The company file <path> was not found."},
    {"JournalCutShort", "journal.dat", Fault::Truncated,
     "The company file <path> is damaged (status 1002: file is truncated)."},
    {"JournalOverwrittenWithGarbage", "journal.dat", Fault::Garbage, "The company file <path> is not a Btrieve file."},
    {"JournalOfAnotherProgram", "journal.dat", Fault::OtherProgram, kOtherJournal},
    {"JournalUnreadable", "journal.dat", Fault::Unreadable, "The company file <path> cannot be read: permission denied."},
    {"JournalChanging", "journal.dat", Fault::Changing, kChanging},
};

INSTANTIATE_TEST_SUITE_P(Running, CompanyFailureTest, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
