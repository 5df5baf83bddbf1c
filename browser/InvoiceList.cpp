// The open-invoice list of the customer on show: the journal rows of journal 3 with
// the customer's nindex that are not quotes and are not fully paid, one row each,
// the last row found at the top.
#include <QDate>
#include <QLocale>

#include <vector>

#include "app/OpenInvoiceDlg.h"
#include "browser/TextFormat.h"
#include "platform/text.h"

namespace {

constexpr const char* kOpenInvoices = " AND Journalid = 3 AND Quote = 0  AND ARamount <> AmountReceived";
// What the window shows when the journal could not be read.
constexpr const char* kJournalUnread = "The journal could not be read, so no open invoices are listed.";

// Tab stops of the list, in dialog units: under "Reference", "Invoice Amount", "Paid"
// and "Balance".
const std::vector<int> kColumns = {40, 100, 150, 190};

// The date part of a journal date in the user's short date form; empty when the value
// is not a date. Without a locale of the user's own (the "C" locale), the journal's
// own date form "M/D/YY", which also fits the column.
std::string shortDate(const COleVariant& value) {
    const std::optional<btrieve::Date> date = value.toCalendarDate();
    if (!date) return {};
    const QDate day(date->year, date->month, date->day);
    if (!day.isValid()) return {};
    const QLocale locale;
    if (locale.language() == QLocale::C) return platform::toAnsi(day.toString(QStringLiteral("M/d/yy")));
    return platform::toAnsi(locale.toString(day, QLocale::ShortFormat));
}

// The invoice number right-aligned in nine characters, then blanks in front up to
// twenty; a longer number stays whole.
std::string invoiceColumn(const std::string& number) {
    std::string column = browser::formatText("%9s", number.c_str());
    if (column.size() < 20) column.insert(0, 20 - column.size(), ' ');
    return column;
}

}  // namespace

// "Show Detail": lists the customer's open invoices. The rows go into the list once
// the whole walk has read: a journal that cannot be read leaves the list empty, and
// the message says why (ReadCompany), for an empty list alone would read as "this
// customer owes nothing".
void COpenInvoiceDlg::OnClickDetailButton() {
    PlayWindowSound(sounds::kDetail);
    m_InvoiceList.ResetContent();
    UpdateData(TRUE);  // m_nIndex from the hidden edit: the customer whose fields are shown

    const std::string criteria = "nindex = " + std::to_string(m_nIndex) + kOpenInvoices;
    std::vector<std::string> rows;  // in the order found
    const bool read = ReadCompany(m_JournalData, kJournalUnread, [&] {
        for (short status = RequireRead(m_JournalData, m_JournalData.FindFirst(criteria), "FindFirst");
             status == 0; status = RequireRead(m_JournalData, m_JournalData.FindNext(criteria), "FindNext")) {
            const std::string date = shortDate(m_JournalData.GetFieldValue("Date"));
            const std::string number = invoiceColumn(m_JournalData.GetFieldValue("InvNumber").toString());
            const double amount = m_JournalData.GetFieldValue("ARamount").toDouble();
            const double received = m_JournalData.GetFieldValue("AmountReceived").toDouble();
            rows.push_back(browser::formatText("%s  \t%s   \t%9.2f  \t%9.2f  \t%9.2f ", date.c_str(),
                                               number.c_str(), amount, received, amount - received));
        }
    });
    if (!read) return;
    for (const std::string& row : rows) {
        m_InvoiceList.SetTabStops(kColumns);
        m_InvoiceList.InsertString(0, row);  // the last found on top
    }
}
