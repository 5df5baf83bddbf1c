// The customer browser in the real main window over a real company: the customer on
// show, "<" and ">", the lookup box, "$", "Show Detail" and "Print".
#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QFileDevice>

#include <sys/stat.h>
#include <unistd.h>

#include "company_fixture.h"
#include "platform/detail.h"

using namespace companytest;

namespace {

class BrowserTest : public CompanyTest {
protected:
    // Four customers, written out of ID order; ACME comes first by ID.
    void SetUp() override {
        CompanyTest::SetUp();
        auto acme = customer("ACME", "Acme Corp", 1234567.891, 7);
        acme.text("BillAddr1", "123 Main St").text("BillAddr2", "Suite 4").text("BillCity", "Reno");
        acme.text("BillState", "NV").text("BillZip", "89501").text("Phone", "775-555-0101");
        acme.text("Fax", "775-555-0102").text("Email", "ap@acme.example").text("contact", "Wile E. Coyote");
        auto cafe = customer("CAFE", "Caf\xE9 M\xFCller", -12.5, 40000);
        cafe.text("BillAddr1", "Marienplatz 1").text("BillCity", "M\xFCnchen");
        auto delta = customer("DELTA", "Delta Supply", 250.25, 4);
        delta.text("BillCity", "Boise").text("BillState", "ID").text("BillZip", "83702");
        openCompany({delta, customer("BETA", "Beta Ltd", 0.0, 2), acme, cafe},
                    {
                        journalRow(7, 3, "INV-1", 100, 40),                      // partly paid
                        journalRow(7, 3, "INV-2", 50, 70),                       // overpaid
                        journalRow(7, 3, "Q-1", 80, 0, true),                    // a quote
                        journalRow(7, 2, "PAY-1", 50, 0),                        // another journal
                        journalRow(7, 3, "PAID-1", 75, 75),                      // paid in full
                        journalRow(4, 3, "D-1", 10, 0),                          // another customer
                        journalRow(4, 3, "D-2", 5, 0).date("Date", 0, 0, 0),     // no date
                        journalRow(7, 3, "ABCDEFGHIJKLMNOPQRSTU", 10, 0),    // 21 characters, the most the field holds
                        journalRow(7, 3, "", 20, 5).date("Date", 2002, 12, 31),  // no number
                        journalRow(-25536, 3, "C-1", 30, 0),                     // nindex 40000
                    });
    }
};

TEST_F(BrowserTest, StartShowsTheFirstCustomerWithEveryField) {
    COpenInvoiceDlg dlg;
    runWindow(dlg, [&] {
        EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "ACME");
        EXPECT_EQ(shown(dlg, IDC_BILLNAME_EDIT), "Acme Corp");
        EXPECT_EQ(shown(dlg, IDC_BILLADDR1_EDIT), "123 Main St");
        EXPECT_EQ(shown(dlg, IDC_BILLADDR2_EDIT), "Suite 4");
        EXPECT_EQ(shown(dlg, IDC_CITYSTATEZIP_EDIT), "Reno,   NV  89501");
        EXPECT_EQ(shown(dlg, IDC_PHONE_EDIT), "775-555-0101");
        EXPECT_EQ(shown(dlg, IDC_FAX_EDIT), "775-555-0102");
        EXPECT_EQ(shown(dlg, IDC_EMAIL_EDIT), "ap@acme.example");
        EXPECT_EQ(shown(dlg, IDC_CONTACT_EDIT), "Wile E. Coyote");
        EXPECT_EQ(shown(dlg, IDC_NINDEX_EDIT), "7");
        EXPECT_EQ(balance(dlg), "$1234567.89");
        EXPECT_EQ(shown(dlg, IDC_SEARCH_EDIT), "");
        EXPECT_TRUE(rows(dlg).empty());
    });
    EXPECT_TRUE(startMessages().empty());
    ASSERT_FALSE(services.sound->calls.empty());
    EXPECT_EQ(services.sound->calls[0].name, "click.wav");
}

TEST_F(BrowserTest, StepsShowEachCustomerAndStopAtBothEndsWithoutAMessage) {
    COpenInvoiceDlg dlg;
    runWindow(dlg, [&] {
        click(dlg, IDC_PREV_BUTTON);  // "<" at the first customer
        EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "ACME");

        click(dlg, IDC_NEXT_BUTTON);
        EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "BETA");
        EXPECT_EQ(balance(dlg), "$0.00");
        // Fields the customer leaves empty replace the previous customer's.
        EXPECT_EQ(shown(dlg, IDC_BILLADDR2_EDIT), "");
        EXPECT_EQ(shown(dlg, IDC_CITYSTATEZIP_EDIT), ",     ");

        click(dlg, IDC_NEXT_BUTTON);
        EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "CAFE");
        // Windows-1252 text reaches the window as the characters it stands for.
        EXPECT_EQ(edit(dlg, IDC_BILLNAME_EDIT)->text(), QString::fromUtf8("Café Müller"));
        // Empty state and zip: the city, a comma and five blanks.
        EXPECT_EQ(edit(dlg, IDC_CITYSTATEZIP_EDIT)->text(), QString::fromUtf8("München,     "));
        EXPECT_EQ(balance(dlg), "$-12.50");
        EXPECT_EQ(shown(dlg, IDC_NINDEX_EDIT), "-25536");  // 40000 in 16 bits

        click(dlg, IDC_NEXT_BUTTON);
        EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "DELTA");
        click(dlg, IDC_NEXT_BUTTON);  // ">" at the last customer
        EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "DELTA");
        EXPECT_EQ(shown(dlg, IDC_CITYSTATEZIP_EDIT), "Boise,   ID  83702");
        EXPECT_EQ(balance(dlg), "$250.25");

        click(dlg, IDC_PREV_BUTTON);
        EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "CAFE");
    });
    EXPECT_TRUE(messages().empty());
}

TEST_F(BrowserTest, TypedTextInTheEditsIsReplacedByTheNextDisplay) {
    COpenInvoiceDlg dlg;
    runWindow(dlg, [&] {
        overtype(dlg, IDC_BILLNAME_EDIT, "Scribbled");
        click(dlg, IDC_NEXT_BUTTON);
        click(dlg, IDC_PREV_BUTTON);
        EXPECT_EQ(shown(dlg, IDC_BILLNAME_EDIT), "Acme Corp");
    });
}

TEST_F(BrowserTest, LookupShowsTheFirstCustomerAtOrAfterTheTypedText) {
    COpenInvoiceDlg dlg;
    runWindow(dlg, [&] {
        const struct { const char* typed; const char* shown; } cases[] = {
            {"CAFE", "CAFE"},   // a whole ID shows that customer
            {"BETA", "BETA"},
            {"DELTA", "DELTA"}, // the last customer
            {"B", "BETA"},      // a prefix: the first with it
            {"BZ", "CAFE"},     // between two IDs: the one after
            {"", "ACME"},       // the emptied box: the first customer
            {"A", "ACME"},
            {"0", "ACME"},      // before the first ID
        };
        for (const auto& k : cases) {
            lookUp(dlg, k.typed);
            EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), k.shown) << '"' << k.typed << '"';
            EXPECT_EQ(shown(dlg, IDC_SEARCH_EDIT), k.typed);
        }
        // Typing key by key: each key looks up again.
        lookUp(dlg, "");
        type(dlg, "DE");
        EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "DELTA");
        EXPECT_EQ(balance(dlg), "$250.25");
        QTest::keyClick(dlg.GetDlgItem(IDC_SEARCH_EDIT), Qt::Key_Backspace);
        QTest::keyClick(dlg.GetDlgItem(IDC_SEARCH_EDIT), Qt::Key_Backspace);
        EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "ACME");
        // ">" goes on from the customer found.
        lookUp(dlg, "BETA");
        click(dlg, IDC_NEXT_BUTTON);
        EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "CAFE");
    });
    EXPECT_TRUE(messages().empty());
}

TEST_F(BrowserTest, TextPastTheLastCustomerSaysEofOncePerChangeAndKeepsTheCustomer) {
    COpenInvoiceDlg dlg;
    runWindow(dlg, [&] {
        lookUp(dlg, "CAFE");
        lookUp(dlg, "ZZZ");
        EXPECT_EQ(messages(), std::vector<std::string>{"eof"});
        EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "CAFE");
        EXPECT_EQ(shown(dlg, IDC_SEARCH_EDIT), "ZZZ");

        type(dlg, "Y");  // "ZZZY": one more change, one more "eof"
        EXPECT_EQ(messages(), (std::vector<std::string>{"eof", "eof"}));

        // A character outside Windows-1252 becomes '?' in the box, and writing it back
        // does not start a second lookup.
        lookUp(dlg, QString::fromUtf8("Z\u0141"));
        EXPECT_EQ(messages().size(), 3u);
        EXPECT_EQ(edit(dlg, IDC_SEARCH_EDIT)->text(), QStringLiteral("Z?"));
        EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "CAFE");

        lookUp(dlg, "D");
        EXPECT_EQ(messages().size(), 3u);
        EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "DELTA");
    });
}

TEST_F(BrowserTest, BalanceFilterJumpsToTheNextCustomerWhoOwesMoney) {
    COpenInvoiceDlg dlg;
    runWindow(dlg, [&] {
        services.sound->calls.clear();
        click(dlg, IDC_BALANCE_FILTER_BUTTON);  // BETA (0.00) and CAFE (-12.50) skipped
        EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "DELTA");
        EXPECT_EQ(soundNames(), std::vector<std::string>{"boink.wav"});
        click(dlg, IDC_BALANCE_FILTER_BUTTON);  // none follows: DELTA stays
        EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "DELTA");
        EXPECT_EQ(balance(dlg), "$250.25");
        // The filter went with those clicks only.
        click(dlg, IDC_PREV_BUTTON);
        EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "CAFE");
        lookUp(dlg, "B");
        click(dlg, IDC_BALANCE_FILTER_BUTTON);
        EXPECT_EQ(shown(dlg, IDC_CUSTID_EDIT), "DELTA");
    });
    EXPECT_TRUE(messages().empty());
}

TEST_F(BrowserTest, ShowDetailListsOpenInvoicesLastFoundOnTop) {
    COpenInvoiceDlg dlg;
    runWindow(dlg, [&] {
        services.sound->calls.clear();
        click(dlg, IDC_DETAIL_BUTTON);
        const std::vector<std::string> expected = {
            "12/31/02  \t" + std::string(20, ' ') + "   \t    20.00  \t     5.00  \t    15.00 ",
            "4/17/03  \tABCDEFGHIJKLMNOPQRSTU   \t    10.00  \t     0.00  \t    10.00 ",
            "4/17/03  \t               INV-2   \t    50.00  \t    70.00  \t   -20.00 ",
            "4/17/03  \t               INV-1   \t   100.00  \t    40.00  \t    60.00 ",
        };
        EXPECT_EQ(rows(dlg), expected);
        EXPECT_EQ(soundNames(), std::vector<std::string>{"detail.wav"});
        click(dlg, IDC_DETAIL_BUTTON);  // again: the same rows, once
        EXPECT_EQ(rows(dlg), expected);

        // Customers with no open invoices: an empty list and no message.
        lookUp(dlg, "BETA");
        click(dlg, IDC_DETAIL_BUTTON);
        EXPECT_TRUE(rows(dlg).empty());
        // A row without a date is listed with an empty date.
        lookUp(dlg, "DELTA");
        click(dlg, IDC_DETAIL_BUTTON);
        EXPECT_EQ(rows(dlg), (std::vector<std::string>{
                                 "  \t                 D-2   \t     5.00  \t     0.00  \t     5.00 ",
                                 "4/17/03  \t                 D-1   \t    10.00  \t     0.00  \t    10.00 "}));
        // nindex 40000 finds the journal's -25536 rows.
        lookUp(dlg, "BETA");
        click(dlg, IDC_NEXT_BUTTON);
        click(dlg, IDC_DETAIL_BUTTON);
        EXPECT_EQ(rows(dlg), std::vector<std::string>{
                                 "4/17/03  \t                 C-1   \t    30.00  \t     0.00  \t    30.00 "});
    });
    EXPECT_TRUE(messages().empty());
}

TEST_F(BrowserTest, DatesFollowTheUsersLocaleAndWithoutOneTheJournalsShortForm) {
    COpenInvoiceDlg dlg;
    std::vector<std::string> german, none;
    runWindow(dlg, [&] {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        click(dlg, IDC_DETAIL_BUTTON);
        german = rows(dlg);
        QLocale::setDefault(QLocale::c());
        click(dlg, IDC_DETAIL_BUTTON);
        none = rows(dlg);
    });
    ASSERT_EQ(german.size(), 4u);
    EXPECT_EQ(german[0].substr(0, 11), "31.12.02  \t");
    EXPECT_EQ(german[3].substr(0, 11), "17.04.03  \t");
    ASSERT_EQ(none.size(), 4u);
    EXPECT_EQ(none[0].substr(0, 11), "12/31/02  \t");
    EXPECT_EQ(none[3].substr(0, 10), "4/17/03  \t");
}

TEST_F(BrowserTest, EveryMoveEmptiesTheList) {
    COpenInvoiceDlg dlg;
    runWindow(dlg, [&] {
        const std::vector<std::function<void()>> moves = {
            [&] { click(dlg, IDC_NEXT_BUTTON); },           [&] { click(dlg, IDC_PREV_BUTTON); },
            [&] { click(dlg, IDC_BALANCE_FILTER_BUTTON); }, [&] { lookUp(dlg, "ACME"); },
            [&] { lookUp(dlg, "ZZZ"); },
        };
        for (size_t i = 0; i < moves.size(); ++i) {
            lookUp(dlg, "");  // back to ACME, whatever the box held
            lookUp(dlg, "AC");
            click(dlg, IDC_DETAIL_BUTTON);
            ASSERT_EQ(rows(dlg).size(), 4u);
            moves[i]();
            EXPECT_TRUE(rows(dlg).empty()) << "move " << i;
        }
    });
}

TEST_F(BrowserTest, ListColumnsLineUpUnderTheirHeadings) {
    COpenInvoiceDlg dlg;
    runWindow(dlg, [&] {
        click(dlg, IDC_DETAIL_BUTTON);
        auto* list = qobject_cast<framework::ListBoxWidget*>(dlg.GetDlgItem(IDC_INVOICE_LIST));
        ASSERT_NE(list, nullptr);
        // The four tab stops, each starting its column near the left of its heading.
        std::vector<int> stops;
        const int origin = list->geometry().left() + list->frameWidth() + 2;
        for (int heading : {IDC_REFERENCE_HEADER, IDC_AMOUNT_HEADER, IDC_PAID_HEADER, IDC_BALANCE_HEADER}) {
            stops.push_back(list->nextTabStop(stops.empty() ? 0 : stops.back()));
            const QRect label = dlg.GetDlgItem(heading)->geometry();
            EXPECT_GE(origin + stops.back(), label.left() - label.width() / 2) << heading;
            EXPECT_LT(origin + stops.back(), label.right()) << heading;
        }
        // In a row with an ordinary invoice number every column stays within its own
        // stops, so the amounts stand under "Invoice Amount", "Paid" and "Balance".
        const QFontMetrics metrics(list->font());
        for (const std::string& row : rows(dlg)) {
            const QStringList parts = QString::fromLatin1(row).split('\t');
            ASSERT_EQ(parts.size(), 5);
            if (parts[1].trimmed().size() > 9) continue;
            int x = 0;
            for (int i = 0; i < 4; ++i) {
                x += metrics.horizontalAdvance(parts[i]);
                EXPECT_LT(x, stops[i]) << row << " column " << i;
                x = stops[i];
            }
            EXPECT_LT(x + metrics.horizontalAdvance(parts[4]), list->viewport()->width()) << row;
        }
    });
}

// What assistive technology is told is what the window draws: the value of each of
// the nine customer edits, the balance label's name (the amount, never its caption),
// and each row of the list, after every display.
TEST_F(BrowserTest, AssistiveTechnologyHearsWhatTheWindowShows) {
    auto heard = [](QWidget* w, QAccessible::Text t) { return QAccessible::queryAccessibleInterface(w)->text(t); };
    COpenInvoiceDlg dlg;
    auto expectHeardAsShown = [&](const char* when) {
        SCOPED_TRACE(when);
        for (int id : {IDC_CUSTID_EDIT, IDC_BILLNAME_EDIT, IDC_BILLADDR1_EDIT, IDC_BILLADDR2_EDIT,
                       IDC_CITYSTATEZIP_EDIT, IDC_PHONE_EDIT, IDC_FAX_EDIT, IDC_EMAIL_EDIT, IDC_CONTACT_EDIT})
            EXPECT_EQ(heard(edit(dlg, id), QAccessible::Value), edit(dlg, id)->text()) << id;
        EXPECT_EQ(heard(dlg.GetDlgItem(IDC_BALANCE_VALUE), QAccessible::Name), QString::fromStdString(balance(dlg)));
        auto* list = qobject_cast<framework::ListBoxWidget*>(dlg.GetDlgItem(IDC_INVOICE_LIST));
        QAccessibleInterface* listHeard = QAccessible::queryAccessibleInterface(list);
        ASSERT_EQ(listHeard->childCount(), list->count());
        for (int i = 0; i < list->count(); ++i)
            EXPECT_EQ(listHeard->child(i)->text(QAccessible::Name), list->item(i)->text()) << i;
    };
    runWindow(dlg, [&] {
        EXPECT_EQ(heard(dlg.GetDlgItem(IDC_BALANCE_VALUE), QAccessible::Name), "$1234567.89");
        click(dlg, IDC_DETAIL_BUTTON);
        ASSERT_EQ(rows(dlg).size(), 4u);
        expectHeardAsShown("after Show Detail");
        lookUp(dlg, "CAFE");
        expectHeardAsShown("after the lookup");
        click(dlg, IDC_DETAIL_BUTTON);
        click(dlg, IDC_NEXT_BUTTON);
        expectHeardAsShown("after >");
    });
}

TEST_F(BrowserTest, PrintWritesTheAddressBlockWithCrLfAndOpensIt) {
    COpenInvoiceDlg dlg;
    runWindow(dlg, [&] {
        lookUp(dlg, "CAFE");
        click(dlg, IDC_PRINT_BUTTON);
        click(dlg, IDC_PRINT_BUTTON);  // rewritten, not appended
    });
    // The file keeps the company's Windows-1252 bytes; the empty second address line
    // is an empty line.
    EXPECT_EQ(readFile("Output.txt"), "Caf\xE9 M\xFCller\r\nMarienplatz 1\r\n\r\nM\xFCnchen,     \r\n");
    ASSERT_EQ(services.shell->opens.size(), 2u);
    EXPECT_EQ(services.shell->opens[0].target, "Output.txt");
    EXPECT_EQ(services.shell->opens[0].showCommand, 1);
    EXPECT_TRUE(messages().empty());
    EXPECT_TRUE(soundNames().empty() || soundNames().back() != "detail.wav");
}

// File names count case here: an older "output.txt" beside the report is not the
// file opened, whichever way the platform matches names.
TEST_F(BrowserTest, PrintOpensTheFileJustWrittenNotAnOlderOneOfAnotherCase) {
    writeFile("output.txt", "an older report\r\n");
    COpenInvoiceDlg dlg;
    runWindow(dlg, [&] { click(dlg, IDC_PRINT_BUTTON); });
    ASSERT_EQ(services.shell->opens.size(), 1u);
    const std::string opened = platform::detail::matchPathCase(services.shell->opens[0].target);
    EXPECT_EQ(readFile(opened), "Acme Corp\r\n123 Main St\r\nSuite 4\r\nReno,   NV  89501\r\n");
    EXPECT_EQ(readFile("output.txt"), "an older report\r\n");
}

TEST_F(BrowserTest, PrintUsesTypedTextOnlyAfterShowDetailTookItIn) {
    const std::string longName(120, 'N');
    COpenInvoiceDlg dlg;
    runWindow(dlg, [&] {
        overtype(dlg, IDC_BILLNAME_EDIT, "Typed but not taken");
        click(dlg, IDC_PRINT_BUTTON);
        EXPECT_EQ(readFile("Output.txt"), "Acme Corp\r\n123 Main St\r\nSuite 4\r\nReno,   NV  89501\r\n");

        overtype(dlg, IDC_BILLNAME_EDIT, QString::fromStdString(longName));
        overtype(dlg, IDC_BILLADDR2_EDIT, QString::fromUtf8("Böse Straße"));
        click(dlg, IDC_DETAIL_BUTTON);
        click(dlg, IDC_PRINT_BUTTON);
    });
    // Longer than a printed line, and still whole.
    EXPECT_EQ(readFile("Output.txt"), longName + "\r\n123 Main St\r\nB\xF6se Stra\xDF" "e\r\nReno,   NV  89501\r\n");
}

TEST_F(BrowserTest, PrintInAFolderThatCannotBeWrittenIsSilent) {
    COpenInvoiceDlg dlg;
    runWindow(dlg, [&] {
        const QString here = QDir::currentPath();
        QFile::setPermissions(here, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        // Whoever may write anyway (the superuser) finds the name taken by a folder.
        if (::access(".", W_OK) == 0) QDir(here).mkdir("Output.txt");
        click(dlg, IDC_PRINT_BUTTON);
        EXPECT_TRUE(dlg.GetWindow()->isVisible());
        QFile::setPermissions(here, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    });
    EXPECT_TRUE(services.shell->opens.empty());
    EXPECT_TRUE(messages().empty());
    EXPECT_FALSE(QFileInfo("Output.txt").isFile());
}

}  // namespace
