// The open-invoice list of the customer on show: the journal rows of journal 3 with
// the customer's nindex that are not quotes and are not fully paid, one row each,
// the last row found at the top.
#include <QDate>
#include <QLocale>

#include "app/OpenInvoiceDlg.h"
#include "browser/TextFormat.h"
#include "platform/text.h"

namespace {

constexpr const char* kOpenInvoices = " AND Journalid = 3 AND Quote = 0  AND ARamount <> AmountReceived";

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

// "Show Detail": lists the customer's open invoices.
void COpenInvoiceDlg::OnClickDetailButton() {
    PlayWindowSound(sounds::kDetail);
    m_InvoiceList.ResetContent();
    UpdateData(TRUE);  // m_nIndex from the hidden edit: the customer whose fields are shown

    const std::string criteria = "nindex = " + std::to_string(m_nIndex) + kOpenInvoices;
    for (short status = m_JournalData.FindFirst(criteria); status == 0;
         status = m_JournalData.FindNext(criteria)) {
        const std::string date = shortDate(m_JournalData.GetFieldValue("Date"));
        const std::string number = invoiceColumn(m_JournalData.GetFieldValue("InvNumber").toString());
        const double amount = m_JournalData.GetFieldValue("ARamount").toDouble();
        const double received = m_JournalData.GetFieldValue("AmountReceived").toDouble();
        m_InvoiceList.SetTabStops(kColumns);
        m_InvoiceList.InsertString(0, browser::formatText("%s  \t%s   \t%9.2f  \t%9.2f  \t%9.2f ",
                                                          date.c_str(), number.c_str(), amount,
                                                          received, amount - received));
    }
}
