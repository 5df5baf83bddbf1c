// Moving between customers and showing the current one. The current customer is
// whatever record the customer data control holds as current: the browser keeps no
// position of its own.
#include <QSignalBlocker>

#include "app/OpenInvoiceDlg.h"
#include "browser/CustomerFields.h"
#include "browser/TextFormat.h"

namespace {

// Shown when the typed text sorts after the last customer ID (or the lookup fails
// in any other way).
constexpr const char* kLookupFailed = "eof";
constexpr const char* kOwesMoney = "ARbalance > 0";

// "<" and ">": a click, an empty list, the edits taken in, one step of the customer
// control by its key, and the customer shown. At either end the control keeps its
// customer, and that one is shown again.
void step(COpenInvoiceDlg& dlg, short (CBtrvdcp1::*move)()) {
    dlg.PlayWindowSound(sounds::kMove);
    dlg.m_InvoiceList.ResetContent();
    dlg.UpdateData(TRUE);
    (dlg.m_CustomerData.*move)();
    dlg.ShowCurrentCustomer();
}

}  // namespace

// "<": the previous customer.
void COpenInvoiceDlg::OnClickPrevButton() { step(*this, &CBtrvdcp1::MovePrevious); }

// ">": the next customer; also the first display at start-up.
void COpenInvoiceDlg::OnClickNextButton() { step(*this, &CBtrvdcp1::MoveNext); }

// Typing into the lookup box, on every change: shows the first customer whose ID is
// equal to or after the typed text, so that a whole ID shows that customer, a prefix
// the first with that prefix and an empty box the first customer. Text that sorts
// after the last ID shows "eof" once, and the customer on show stays.
void COpenInvoiceDlg::OnChangeSearchEdit() {
    UpdateData(TRUE);
    m_InvoiceList.ResetContent();
    const COleVariant none;
    try {
        m_CustomerData.Seek(">=", COleVariant(m_strSearch), none, none, none, none, none, none,
                            none, none);
    } catch (const std::exception&) {
        framework::AfxMessageBox(kLookupFailed);
    }
    ShowCurrentCustomer();
}

// "$": the next customer who owes money. When none follows, the customer on show stays.
void COpenInvoiceDlg::OnClickBalanceFilterButton() {
    m_InvoiceList.ResetContent();
    PlayWindowSound(sounds::kBalanceFilter);
    m_CustomerData.FindNext(kOwesMoney);
    ShowCurrentCustomer();
}

// "S": flips the sound switch.
void COpenInvoiceDlg::OnClickSoundButton() { m_bSound = m_bSound == 1 ? 0 : 1; }

// Reads the current customer record into the members and the window.
void COpenInvoiceDlg::ShowCurrentCustomer() {
    for (const browser::CustomerText& shown : browser::kCustomerTexts) this->*shown.member = shown.read(m_CustomerData);
    // The journal keeps nindex in 16 bits: the low 16 bits, signed, link the two.
    m_nIndex = m_CustomerData.GetFieldValue("nindex").toShort();
    m_BalanceLabel.SetText(
        browser::formatText("$%.2f", m_CustomerData.GetFieldValue("ARbalance").toDouble()));

    // Writing the typed text back into the lookup box must not start another lookup,
    // also when the box held characters that the 8-bit text turned into '?'.
    QSignalBlocker quietLookup(GetDlgItem(IDC_SEARCH_EDIT));
    UpdateData(FALSE);
}
