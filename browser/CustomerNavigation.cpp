// Moving between customers and showing the current one. The current customer is
// whatever record the customer data control holds as current: the browser keeps no
// position of its own.
//
// A customer file that cannot be read (any status but found, past the end or not
// found) ends the action with one message (ReadCompany); the customer on show stays
// as it was, fields, balance and members alike, and the list stays empty.
#include <QSignalBlocker>

#include "app/OpenInvoiceDlg.h"
#include "browser/CustomerFields.h"
#include "browser/TextFormat.h"

namespace {

// Shown when the typed text sorts after the last customer ID.
constexpr const char* kLookupFailed = "eof";
constexpr const char* kOwesMoney = "ARbalance > 0";
// What the window shows when the customer file could not be read.
constexpr const char* kCustomerKept = "The window still shows the customer as last read.";

// "<" and ">": a click, an empty list, the edits taken in, one step of the customer
// control by its key, and the customer shown. At either end the control keeps its
// customer, and that one is shown again.
void step(COpenInvoiceDlg& dlg, short (CBtrvdcp1::*move)(), const char* name) {
    dlg.PlayWindowSound(sounds::kMove);
    dlg.m_InvoiceList.ResetContent();
    dlg.UpdateData(TRUE);
    dlg.ReadCompany(dlg.m_CustomerData, kCustomerKept, [&] {
        RequireRead(dlg.m_CustomerData, (dlg.m_CustomerData.*move)(), name);
        dlg.ShowCurrentCustomer();
    });
}

}  // namespace

// "<": the previous customer.
void COpenInvoiceDlg::OnClickPrevButton() { step(*this, &CBtrvdcp1::MovePrevious, "MovePrevious"); }

// ">": the next customer; also the first display at start-up.
void COpenInvoiceDlg::OnClickNextButton() { step(*this, &CBtrvdcp1::MoveNext, "MoveNext"); }

// Typing into the lookup box, on every change: shows the first customer whose ID is
// equal to or after the typed text, so that a whole ID shows that customer, a prefix
// the first with that prefix and an empty box the first customer. Text that sorts
// after the last ID shows "eof" once, and the customer on show stays.
void COpenInvoiceDlg::OnChangeSearchEdit() {
    UpdateData(TRUE);
    m_InvoiceList.ResetContent();
    const COleVariant none;
    ReadCompany(m_CustomerData, kCustomerKept, [&] {
        try {
            m_CustomerData.Seek(">=", COleVariant(m_strSearch), none, none, none, none, none, none,
                                none, none);
        } catch (const CBtrvdcpException& error) {
            if (error.status() != btrieve::Status::KeyNotFound) throw;  // the file, not the text
            framework::AfxMessageBox(kLookupFailed);
        }
        ShowCurrentCustomer();
    });
}

// "$": the next customer who owes money. When none follows, the customer on show stays.
void COpenInvoiceDlg::OnClickBalanceFilterButton() {
    m_InvoiceList.ResetContent();
    PlayWindowSound(sounds::kBalanceFilter);
    ReadCompany(m_CustomerData, kCustomerKept, [&] {
        RequireRead(m_CustomerData, m_CustomerData.FindNext(kOwesMoney), "FindNext");
        ShowCurrentCustomer();
    });
}

// "S": flips the sound switch.
void COpenInvoiceDlg::OnClickSoundButton() { m_bSound = m_bSound == 1 ? 0 : 1; }

// Reads the current customer record into the members and the window. Every field is
// read before any is shown: a record that cannot be read whole changes nothing.
void COpenInvoiceDlg::ShowCurrentCustomer() {
    std::string texts[std::size(browser::kCustomerTexts)];
    for (size_t i = 0; i < std::size(texts); ++i) texts[i] = browser::kCustomerTexts[i].read(m_CustomerData);
    // The journal keeps nindex in 16 bits: the low 16 bits, signed, link the two.
    const int nIndex = m_CustomerData.GetFieldValue("nindex").toShort();
    const std::string balance =
        browser::formatText("$%.2f", m_CustomerData.GetFieldValue("ARbalance").toDouble());

    for (size_t i = 0; i < std::size(texts); ++i) this->*browser::kCustomerTexts[i].member = std::move(texts[i]);
    m_nIndex = nIndex;
    m_BalanceLabel.SetText(balance);

    // Writing the typed text back into the lookup box must not start another lookup,
    // also when the box held characters that the 8-bit text turned into '?'.
    QSignalBlocker quietLookup(GetDlgItem(IDC_SEARCH_EDIT));
    UpdateData(FALSE);
}
